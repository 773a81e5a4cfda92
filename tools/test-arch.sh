#!/usr/bin/env bash
# Which Windows builds the tests run under Wine on this machine.
#   test-arch.sh         the first: i686 where the machine runs 32-bit x86 code (Wine's 32-bit
#                        loader), else x86_64 (Wine's 64-bit loader)
#   test-arch.sh --all   every build this machine can run: "i686 x86_64", or "x86_64" alone
# KVO_TEST_ARCH=i686|x86_64 names the one build to run instead.
if [ -n "${KVO_TEST_ARCH:-}" ]; then echo "$KVO_TEST_ARCH"; exit 0; fi
if [ -x /usr/lib/wine/wine ] && /lib/ld-linux.so.2 --help >/dev/null 2>&1; then
  runs32=1
else
  runs32=0
fi
if [ "${1:-}" = "--all" ]; then
  if [ $runs32 -eq 1 ]; then echo "i686 x86_64"; else echo "x86_64"; fi
elif [ $runs32 -eq 1 ]; then
  echo i686
else
  echo x86_64
fi
