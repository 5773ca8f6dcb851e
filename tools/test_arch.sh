#!/usr/bin/env bash
# Which build the tests run, and with which Wine.
#
#   test_arch.sh              prints the test build's architecture: i686 (what ships) wherever a
#                             32-bit Wine runs, else x86_64
#   test_arch.sh wine-root    prints the private root that runs the 32-bit programs on a
#                             machine without a 32-bit mode (tools/wine32_root.sh), or nothing
#                             when the machine's own Wine runs them
#   test_arch.sh 32-bit-mode  exits 0 when this machine's kernel runs 32-bit programs
#
# A 32-bit build runs in the machine's own Wine where the kernel runs 32-bit code, and in the
# private root (under qemu) where it does not. Only where neither is possible are the tests
# built for x64, and the build says so. LI_TEST_ARCH=i686 or x86_64 overrides the choice.
set -u
here=$(cd "$(dirname "$0")" && pwd)

has_32bit_mode() {
  # The smallest 32-bit Linux program: exit(42) through int 0x80. Kernels without a 32-bit mode
  # refuse to start it ("Exec format error") or kill it at its first instruction.
  local probe rc
  probe=$(mktemp "${TMPDIR:-/tmp}/li-probe32.XXXXXX") || return 1
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null
  rc=$?
  rm -f "$probe"
  [ $rc = 42 ]
}

host_wine32() {
  [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

wine_root() {
  if ! { has_32bit_mode && host_wine32; } && "$here/wine32_root.sh" check; then
    "$here/wine32_root.sh" path
  fi
}

case "${1:-}" in
  32-bit-mode) has_32bit_mode ;;
  wine-root)
    [ "$("$0")" = i686 ] && wine_root
    exit 0 ;;
  *)
    if [ -n "${LI_TEST_ARCH:-}" ]; then
      echo "$LI_TEST_ARCH"
    elif host_wine32 || [ -n "$(wine_root)" ]; then
      echo i686
    else
      echo x86_64
    fi ;;
esac
