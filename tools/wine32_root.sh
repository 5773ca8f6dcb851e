#!/usr/bin/env bash
# Runs the 32-bit programs on machines whose kernel runs no 32-bit code at all.
#
# A private Debian root holds Wine's 64-bit loader and its 32-bit half. Programs of the root
# start inside a user and mount namespace of their own: there a private binfmt_misc mount hands
# every 32-bit ELF program to the root's qemu-i386, and the root becomes the file system, with
# the host's /proc, /dev, /sys, /tmp and the project's folders at their own paths. The host, its
# packages and its binfmt_misc registrations stay as they are (a private binfmt_misc mount needs
# Linux 6.7 or later).
#
# Wine's 64-bit loader starts 64-bit programs and its server natively and hands 32-bit Windows
# programs to the 32-bit half, so only the programs under test are emulated.
#
#   wine32_root.sh setup            build the root once (as root; about 2.5 GB, 420 MB fetched)
#   wine32_root.sh check            exit 0 when the root is built and starts a 32-bit program
#   wine32_root.sh built            exit 0 when the root is built and up to date (no start)
#   wine32_root.sh path             print the root's folder
#   wine32_root.sh run PROGRAM ...  run PROGRAM of the root with the caller's environment and
#                                   working folder; LI_WINE_ROOT_BINDS lists (colon-separated)
#                                   the host folders to show inside at their own paths
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=${LI_WINE_ROOT:-/var/lib/lite-installer-setup/wine32-root}
# Bump when the packages setup puts in the root change: a root of another version is built
# afresh. The stamp holds the trap-number library's digest: a changed library is only rebuilt.
version=1
stamp="$root/.li-root-v$version"
mirror=${LI_WINE_ROOT_MIRROR:-http://deb.debian.org/debian}
suite=trixie

# qemu leaves the trap number of a 32-bit program's signal frame at -1; Wine reads the kind of
# a fault from it. trapno_fix.c fills it in before Wine's handlers see the frame.
trapno_fix="$here/../tests/wine32_root/trapno_fix.c"
trapno_digest=$(sha256sum "$trapno_fix" | cut -c1-16)

register_and_enter() {
  # Runs inside the new namespaces: $1 root, $2 working folder, $3 folders to show, then the
  # command. Everything here is private to this namespace and vanishes with its last process.
  cat <<'SCRIPT'
set -e
root=$1 cwd=$2 binds=$3
shift 3
mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
# ELF, 32-bit, little-endian, executable or shared object, machine i386; F opens qemu now, so
# it is found after the change of root too.
printf '%s' ":li-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$root/usr/bin/qemu-i386:F" \
  >/proc/sys/fs/binfmt_misc/register
for dir in /proc /dev /sys /tmp; do
  mount --rbind "$dir" "$root$dir"
done
old_ifs=$IFS
IFS=:
for dir in $binds; do
  [ -d "$dir" ] || continue
  # The mount point is made on the root's own disk once, which needs the right to write there.
  mkdir -p "$root$dir" 2>/dev/null ||
    { echo "wine32_root: cannot show $dir inside the root (as root: mkdir -p '$root$dir')" >&2; exit 1; }
  mount --rbind "$dir" "$root$dir"
done
IFS=$old_ifs
cd "$root$cwd" 2>/dev/null || cd "$root"
exec chroot "$root" /bin/sh -c 'cd "$1" 2>/dev/null || cd /; shift; exec "$@"' sh "$cwd" "$@"
SCRIPT
}

run() {
  [ -f "$stamp" ] || { echo "wine32_root: $root is not built (make setup builds it)" >&2; exit 1; }
  # Wine's sound and Wayland drivers complain on every start without a runtime folder; one
  # that another user made is not used.
  local runtime="/tmp/li-runtime-$(id -u)"
  mkdir -p -m 700 "$runtime" 2>/dev/null || true
  [ -O "$runtime" ] || runtime=$(mktemp -d /tmp/li-runtime.XXXXXX)
  export XDG_RUNTIME_DIR=$runtime
  # A temporary folder outside /tmp is shown inside too.
  local binds=${LI_WINE_ROOT_BINDS:-}
  [ -z "${TMPDIR:-}" ] || binds="$binds:$TMPDIR"
  exec unshare --user --map-root-user --mount --fork --kill-child -- \
    /bin/sh -c "$(register_and_enter)" sh "$root" "$PWD" "$binds" "$@"
}

in_root() {
  # During setup only: the root's own package tools, as the machine's root user, in a mount
  # namespace of their own with a fresh /proc (no host binfmt_misc in it): nothing is mounted
  # on the host, and an interrupted setup leaves no mount behind.
  unshare --mount --propagation private --fork -- /bin/sh -ec '
    mount -t proc proc "$1/proc"
    exec chroot "$1" /usr/bin/env DEBIAN_FRONTEND=noninteractive /bin/sh -ec "$2"' sh "$1" "$2"
}

# A mirror in mid-sync fails one fetch now and then: a few tries with a pause.
with_retries() {
  local attempt
  for attempt in 1 2 3; do
    "$@" && return 0
    [ $attempt = 3 ] || sleep 15
  done
  return 1
}

fresh_debootstrap() {
  rm -rf --one-file-system "$1"
  debootstrap --variant=minbase --include=ca-certificates "$suite" "$1" "$mirror"
}

built() {
  [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$trapno_digest" ]
}

# Exit status 0: the root runs 32-bit programs; 1: it could not be built (a failed download
# among them: try again later); 3: it was built whole and still starts no 32-bit program.
setup() {
  if [ -f "$stamp" ]; then
    if ! built && [ "$(id -u)" = 0 ]; then
      install_trapno_fix "$root" && echo "$trapno_digest" >"$stamp"
    fi
    if built && check; then
      return 0
    fi
  fi
  [ "$(id -u)" = 0 ] || { echo "wine32_root: setup runs as root" >&2; return 1; }
  command -v debootstrap >/dev/null || { echo "wine32_root: debootstrap is missing" >&2; return 1; }
  local partial="$root.partial" log
  log=$(mktemp)
  echo "setup: building the private root for 32-bit Wine (Debian $suite with qemu-user) in $root"
  if ! with_retries fresh_debootstrap "$partial" >"$log" 2>&1; then
    echo "wine32_root: debootstrap failed:" >&2
    tail -n 5 "$log" >&2
    rm -f "$log"
    return 1
  fi
  # A mirror in mid-sync fails one index now and then: a few tries with a pause.
  if ! in_root "$partial" '
      dpkg --add-architecture i386
      for attempt in 1 2 3; do
        apt-get update -qq && apt-get install -y -qq --no-install-recommends \
          wine64 wine32:i386 qemu-user gcc-multilib fonts-liberation && break
        [ $attempt != 3 ] || exit 1
        sleep 15
      done
      apt-get clean' >"$log" 2>&1; then
    echo "wine32_root: installing Wine and qemu in the root failed:" >&2
    tail -n 5 "$log" >&2
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
  install_trapno_fix "$partial" || { echo "wine32_root: building the trap-number library failed" >&2; return 1; }
  # The minimal root has no hosts file: without one "localhost" does not resolve.
  printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' >"$partial/etc/hosts"
  rm -rf --one-file-system "$root"
  mv "$partial" "$root"
  echo "$trapno_digest" >"$stamp"
  if ! check; then
    # Not counted as built: the tests then fall back to x64 instead of failing in it.
    rm -f "$stamp"
    echo "wine32_root: the root is built but starts no 32-bit program" >&2
    return 3
  fi
}

install_trapno_fix() {
  local target=$1
  cp "$trapno_fix" "$target/tmp/trapno_fix.c" || return 1
  # Both halves get a library of the same name, so that one preload line serves both ($LIB is
  # lib/i386-linux-gnu or lib/x86_64-linux-gnu); the 64-bit one is empty of code.
  in_root "$target" '
    gcc -m32 -O2 -shared -fPIC -o /usr/lib/i386-linux-gnu/li-trapno-fix.so /tmp/trapno_fix.c
    gcc -O2 -shared -fPIC -o /usr/lib/x86_64-linux-gnu/li-trapno-fix.so /tmp/trapno_fix.c
    rm /tmp/trapno_fix.c' || return 1
  echo '/usr/$LIB/li-trapno-fix.so' >"$target/etc/ld.so.preload"
}

check() {
  [ -f "$stamp" ] || return 1
  # The 32-bit loader is a 32-bit program: it answers only through qemu.
  (LI_WINE_ROOT_BINDS='' run /usr/lib/wine/wine --version) >/dev/null 2>&1
}

case "${1:-}" in
  setup) setup ;;
  check) check ;;
  built) built ;;
  path) echo "$root" ;;
  run) shift; run "$@" ;;
  *) sed -n '2,/^set -euo/p' "$0" | sed -e '$d' -e 's/^# \{0,1\}//' >&2; exit 2 ;;
esac
