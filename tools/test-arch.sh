#!/usr/bin/env bash
# Prints the Windows architecture whose build the tests run under Wine on this machine:
# i686 where the machine runs 32-bit x86 code (Wine's 32-bit loader), else x86_64 (Wine's 64-bit
# loader running the 64-bit build of the same sources).
if [ -n "${KVO_TEST_ARCH:-}" ]; then echo "$KVO_TEST_ARCH"; exit 0; fi
if [ -x /usr/lib/wine/wine ] && /lib/ld-linux.so.2 --help >/dev/null 2>&1; then
  echo i686
else
  echo x86_64
fi
