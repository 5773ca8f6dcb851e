#!/usr/bin/env bash
# Installs every tool and dependency the build and the tests need on a Debian 12 machine.
# Idempotent: a second run only checks and returns.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

# Without a 32-bit mode the tests are built for x64 (tools/test_arch.sh): that needs the
# 64-bit compilers and Wine's 64-bit loader too.
x64_ready() {
  [ "$("$here/test_arch.sh")" = i686 ] ||
    { command -v x86_64-w64-mingw32-g++-posix >/dev/null && [ -x /usr/lib/wine/wine64 ]; }
}

stamp_dir=${SETUP_STAMP_DIR:-/var/lib/lite-installer-setup}
stamp="$stamp_dir/done-v3"
if [ -f "$stamp" ] && command -v i686-w64-mingw32-g++-posix >/dev/null \
   && command -v i686-w64-mingw32-g++-win32 >/dev/null && command -v wine >/dev/null \
   && command -v zopflipng >/dev/null \
   && [ -x /usr/lib/wine/wine ] && [ -d /usr/src/googletest ] && ls /usr/src/jansson-src/jansson-* >/dev/null 2>&1 && x64_ready; then
  exit 0
fi

if [ "$(id -u)" != 0 ]; then
  echo "setup: run as root (it installs Debian packages)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi

# Source entries, so that the jansson source package can be fetched.
src_list=/etc/apt/sources.list.d/lite-installer-src.sources
if [ ! -f "$src_list" ]; then
  cat > "$src_list" <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
fi

apt-get update -qq
# Both MinGW thread models: posix for the test programs (GoogleTest), win32 for the release build.
apt-get install -y -qq --no-install-recommends \
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix g++-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32 \
  binutils-mingw-w64-i686 mingw-w64-i686-dev \
  wine wine32:i386 libwine:i386 \
  xvfb x11-apps xdotool imagemagick xauth fonts-liberation \
  osslsigncode gcab openssl python3 curl zopfli \
  cmake make ninja-build dpkg-dev ca-certificates googletest >/dev/null

if [ "$("$here/test_arch.sh")" = x86_64 ]; then
  echo "setup: this machine runs no 32-bit programs; the tests will be built for x64"
  apt-get install -y -qq --no-install-recommends \
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
    mingw-w64-x86-64-dev wine64 >/dev/null
fi

# Jansson has no MinGW package: keep Debian's source package where the build can cross-compile it.
if ! ls /usr/src/jansson-src/jansson-* >/dev/null 2>&1; then
  mkdir -p /usr/src/jansson-src
  (cd /usr/src/jansson-src && apt-get source -qq jansson >/dev/null)
fi

mkdir -p "$stamp_dir"
touch "$stamp"
echo "setup: done"
