#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine and skips what is there.
# Runs as root; elsewhere it goes through sudo.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

need_i386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_i386=1
fi

packages=(
  cmake ninja-build make
  mingw-w64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  wine wine32:i386 wine64
  msitools wixl osslsigncode openssl
  openjdk-17-jdk-headless
  locales googletest
  clang libclang-rt-14-dev
  libicu-dev
)

# A mirror in the middle of a sync can fail one index of an update; try again, and if it still fails
# go on with the lists apt has.
lists_complete=1
update_lists() {
  for attempt in 1 2 3; do
    if $SUDO apt-get update -q; then return 0; fi
    echo "setup: apt-get update failed (attempt $attempt)" >&2
    [ "$attempt" -eq 3 ] || sleep $((attempt * 5))
  done
  echo "setup: going on with the package lists apt has" >&2
  lists_complete=0
}

apt_install() {
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@"
}

# With one architecture's index of the updates suite missing, apt wants the newer 64-bit version of a
# library whose 32-bit twin it can only find in the release, and gives up on the pair. Preferring the
# release's own suite then gives both architectures the same version.
install_packages() {
  apt_install "$@" && return 0
  [ "$lists_complete" -eq 0 ] || return 1
  local release
  release=$(. /etc/os-release && echo "$VERSION_CODENAME")
  echo "setup: installing again with the packages of $release preferred" >&2
  apt_install -t "$release" "$@"
}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  update_lists
  install_packages "${missing[@]}"
elif [ "$need_i386" -eq 1 ]; then
  update_lists
fi

# Locales the conversion tests switch Wine's ANSI code page with.
for loc in ja_JP zh_CN zh_TW ko_KR en_US; do
  if ! locale -a 2>/dev/null | grep -qix "${loc}.utf8"; then
    echo "setup: generating locale ${loc}.UTF-8"
    $SUDO localedef -i "$loc" -f UTF-8 "${loc}.UTF-8"
  fi
done

echo "setup: machine ready"
