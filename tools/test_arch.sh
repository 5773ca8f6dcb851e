#!/usr/bin/env bash
# Which build the tests run, and with which Wine.
#
#   test_arch.sh              prints the test build's architecture: i686 (what ships) wherever a
#                             32-bit Wine runs, else x86_64
#   test_arch.sh wine-root    prints the private root that runs the 32-bit programs on a
#                             machine without a 32-bit mode (tools/wine32_root.sh), or nothing
#                             when the machine's own Wine runs them
#   test_arch.sh route        prints both at once: the architecture, then the root if any
#   test_arch.sh 32-bit-mode  exits 0 when this machine's kernel runs 32-bit programs
#
# A 32-bit build runs in the machine's own Wine where the kernel runs 32-bit code, and in the
# private root (under qemu) where it does not. Only where neither is possible are the tests
# built for x64, and the build says so. LI_TEST_ARCH=i686 or x86_64 overrides the choice.
set -u
here=$(cd "$(dirname "$0")" && pwd)

has_32bit_mode() {
  # An emulator registered for 32-bit programs would answer the probe for the kernel.
  if grep -qs '^interpreter .*qemu-i386' /proc/sys/fs/binfmt_misc/*; then
    return 1
  fi
  # The smallest 32-bit Linux program: exit(42) through int 0x80. Kernels without a 32-bit mode
  # refuse to start it ("Exec format error") or kill it at its first instruction. A folder
  # mounted noexec (126) passes the probe on to the next one.
  local dir probe rc
  for dir in "${TMPDIR:-/tmp}" /dev/shm "$here"; do
    probe=$(mktemp "$dir/li-probe32.XXXXXX" 2>/dev/null) || continue
    write_probe "$probe"
    "$probe" 2>/dev/null
    rc=$?
    rm -f "$probe"
    [ $rc = 126 ] || break
  done
  [ "${rc:-1}" = 42 ]
}

write_probe() {
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$1"
  chmod +x "$1"
}

host_wine32() {
  [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

# The root counts once built: setup has checked that it starts a 32-bit program, and a root
# that stopped doing so fails the tests loudly rather than turning them into x64 ones.
wine_root() {
  if "$here/wine32_root.sh" built; then
    "$here/wine32_root.sh" path
  fi
}

arch_and_root() {
  local root="" native=0
  host_wine32 && has_32bit_mode && native=1
  [ $native = 1 ] || root=$(wine_root)
  if [ -n "${LI_TEST_ARCH:-}" ]; then
    [ "$LI_TEST_ARCH" = i686 ] || root=""
    echo "$LI_TEST_ARCH" $root
  elif [ $native = 1 ]; then
    echo i686
  elif [ -n "$root" ]; then
    echo i686 "$root"
  elif host_wine32; then
    echo i686
  else
    echo x86_64
  fi
}

case "${1:-}" in
  32-bit-mode) has_32bit_mode ;;
  route) arch_and_root ;;
  wine-root) set -- $(arch_and_root); echo "${2:-}" ;;
  *) set -- $(arch_and_root); echo "$1" ;;
esac
