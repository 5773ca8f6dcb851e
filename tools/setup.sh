#!/usr/bin/env bash
# Installs every tool and dependency the build and the tests need on a Debian 12 machine.
# Idempotent: a second run only checks and returns.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

# Where the kernel runs 32-bit programs the tests use the machine's own 32-bit Wine. Where it
# does not, they use a private root with an emulated 32-bit Wine (tools/wine32_root.sh); only
# when that root cannot be built are the tests built for x64, with the 64-bit compilers and
# Wine's 64-bit loader.
has_32bit_mode=0
"$here/test_arch.sh" 32-bit-mode && has_32bit_mode=1
if [ $has_32bit_mode = 1 ]; then
  wine_ready() { [ -x /usr/lib/wine/wine ]; }
else
  wine_ready() {
    "$here/wine32_root.sh" check ||
      { [ -f "$root_failed" ] && command -v x86_64-w64-mingw32-g++-posix >/dev/null &&
        [ -x /usr/lib/wine/wine64 ]; }
  }
fi

stamp_dir=${SETUP_STAMP_DIR:-/var/lib/lite-installer-setup}
stamp="$stamp_dir/done-v4"
# Written when the emulated root could not be built here; delete it to try again.
root_failed="$stamp_dir/wine32-root-failed"
if [ -f "$stamp" ] && command -v i686-w64-mingw32-g++-posix >/dev/null \
   && command -v i686-w64-mingw32-g++-win32 >/dev/null && command -v zopflipng >/dev/null \
   && dpkg --compare-versions "$(dpkg-query -W -f '${Version}' osslsigncode 2>/dev/null)" ge 2.9 \
   && [ -d /usr/src/googletest ] && ls /usr/src/jansson-src/jansson-* >/dev/null 2>&1 \
   && wine_ready; then
  exit 0
fi

if [ "$(id -u)" != 0 ]; then
  echo "setup: run as root (it installs Debian packages)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if [ $has_32bit_mode = 1 ]; then
  wine_packages=(wine wine32:i386 libwine:i386)
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
else
  # The 32-bit Wine lives in the private root; the machine's own 64-bit Wine is kept for the
  # x64 fallback and the tools.
  wine_packages=(wine wine64 debootstrap)
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

# osslsigncode 2.5, Debian 12's own, refuses the signature of a copy with a distribution tag
# behind it (which Windows and osslsigncode 2.9 accept): the release tools need 2.9 or later,
# from Debian's backports. Backports give nothing else unless asked for by name.
backports_list=/etc/apt/sources.list.d/lite-installer-backports.sources
if [ ! -f "$backports_list" ]; then
  cat > "$backports_list" <<'SRC'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
fi

apt_log=$(mktemp)
trap 'rm -f "$apt_log"' EXIT

# A mirror in the middle of a sync serves an index whose size does not match its Release file;
# that passes in a minute or two. Try a few times, then go on with what was fetched: apt keeps
# using the indexes that did arrive.
apt_update() {
  local attempt
  for attempt in 1 2 3; do
    if apt-get update -qq >"$apt_log" 2>&1; then
      return 0
    fi
    [ $attempt = 3 ] || sleep 15
  done
  echo "setup: some package indexes could not be fetched (mirror mid-sync?); going on without them:"
  grep -E '^(E|W): Failed to fetch' "$apt_log" | sed -e 's/  .*//' -e 's/^[EW]: Failed to fetch /setup:   /' || true
}

# Installs packages. When an architecture's index of the security suite is missing, its
# libraries there are older than their other-architecture twins, and multiarch needs one
# version of both: then install from the versions the main suite has for every architecture.
apt_install() {
  if apt-get install -y -qq --no-install-recommends "$@" >"$apt_log" 2>&1; then
    return 0
  fi
  if apt-get install -y -qq --no-install-recommends -t bookworm "$@" >"$apt_log" 2>&1; then
    echo "setup: installed with the main suite's versions (the security suite's were not installable for every architecture)"
    return 0
  fi
  local package missing=0
  for package in "$@"; do
    if ! apt-cache policy "${package%%/*}" 2>/dev/null | grep -q 'Candidate: [^(]'; then
      echo "setup: package $package is not available from this machine's package sources" >&2
      missing=1
    fi
  done
  [ $missing = 1 ] || { echo "setup: apt-get install failed:" >&2; tail -n 20 "$apt_log" >&2; }
  exit 1
}

apt_update
# Both MinGW thread models: posix for the test programs (GoogleTest), win32 for the release build.
apt_install \
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix g++-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32 \
  binutils-mingw-w64-i686 mingw-w64-i686-dev "${wine_packages[@]}" \
  xvfb x11-apps xdotool imagemagick xauth fonts-liberation \
  osslsigncode/bookworm-backports gcab openssl python3 curl zopfli \
  cmake make ninja-build dpkg-dev ca-certificates googletest

if [ $has_32bit_mode = 0 ] && ! "$here/wine32_root.sh" check; then
  if [ -f "$root_failed" ] || ! "$here/wine32_root.sh" setup; then
    mkdir -p "$stamp_dir"
    touch "$root_failed"
    echo "setup: no 32-bit Wine can run here (no 32-bit mode, and the emulated root failed; remove $root_failed to try again); the tests will be built for x64"
    apt_install \
      g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
      mingw-w64-x86-64-dev
  fi
fi

# Jansson has no MinGW package: keep Debian's source package where the build can cross-compile it.
if ! ls /usr/src/jansson-src/jansson-* >/dev/null 2>&1; then
  mkdir -p /usr/src/jansson-src
  (cd /usr/src/jansson-src && apt-get source -qq jansson >/dev/null)
fi

mkdir -p "$stamp_dir"
touch "$stamp"
echo "setup: done"
