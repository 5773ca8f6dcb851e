#!/usr/bin/env bash
# Makes a release: builds the release profile with the publisher's trusted keys (and the
# packages of PACKAGES, if given), signs the executable with SHA-256, stamps one copy per line
# of the tag file, verifies every copy (osslsigncode verify, and inspect for its tag and
# packages) and prints one table: name, size, SHA-256, tag.
#
#   release.sh KEYS CERT KEY TAGS [OUT]
#
#   KEYS   the ten Base64 public keys that may sign an archive's trusted list (one a line)
#   CERT   the code-signing certificate (PEM; the chain after it, if any)
#   KEY    its private key (PEM)
#   TAGS   lines "<name>.exe <tag text>"; empty lines and lines starting with # are skipped,
#          white space at the end of a line (a CR included) and a byte-order mark are dropped;
#          each name once (in any case: Windows sees one file)
#   OUT    where the copies go (default build/dist)
# Environment: PACKAGES (folder of brand and partner packages to build in), BUILD (the build
# folder, default build/release-dist), CA (the root to verify the signatures against; default
# the system's), SIGN_NAME (the signature's description, default "Zorvin Browser"),
# TIMESTAMP_URL (an RFC 3161 time-stamp server: its time-stamp keeps the signatures valid
# after the certificate expires; none by default), JOBS (build jobs, default the build tool's).
set -euo pipefail
if [ $# -lt 4 ]; then
  sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
keys=$(realpath "$1"); cert=$(realpath "$2"); key=$(realpath "$3"); tags=$(realpath "$4")
out=$(realpath -m "${5:-$source_dir/build/dist}")
build=$(realpath -m "${BUILD:-$source_dir/build/release-dist}")
packages=${PACKAGES:+$(realpath "$PACKAGES")}
sign_name=${SIGN_NAME:-Zorvin Browser}
for file in "$keys" "$cert" "$key" "$tags"; do
  [ -f "$file" ] || { echo "release: $file is missing" >&2; exit 2; }
done
# osslsigncode 2.5 refuses the signature of a tagged copy; 2.9 reads it as Windows does.
ossl_version=$(osslsigncode --version 2>/dev/null | sed -n '1s/^osslsigncode \([0-9.]*\).*/\1/p')
if ! printf '2.9\n%s\n' "$ossl_version" | sort -C -V; then
  echo "release: osslsigncode ${ossl_version:-is missing}: 2.9 or later verifies tagged copies (make setup installs it)" >&2
  exit 2
fi

# The copies, read before anything is built: a name given twice would overwrite its first copy.
names=(); texts=()
declare -A seen=()
first_line=1
while IFS= read -r line || [ -n "$line" ]; do
  # A tags file saved on Windows may start with a byte-order mark and ends its lines in CR, and
  # blanks at the end of a line are no part of its tag: the installer would read "lang=tr\r"
  # as no language it knows.
  if [ -n "$first_line" ]; then line=${line#$'\xef\xbb\xbf'}; first_line=; fi
  line=${line%"${line##*[![:space:]]}"}
  case "$line" in ''|'#'*) continue ;; esac
  name=${line%%[[:space:]]*}
  text=${line#"$name"}
  text=${text#"${text%%[![:space:]]*}"}
  if ! [[ "$name" =~ ^[A-Za-z0-9._-]+\.exe$ ]] || [ "$name" = lite_installer.exe ]; then
    echo "release: \"$name\" is no name for a copy (letters, digits, . _ -, ending .exe)" >&2
    exit 1
  fi
  lower=${name,,}
  if [ -n "${seen[$lower]:-}" ]; then
    echo "release: the copy $name is given twice in $tags (${seen[$lower]} and $name)" >&2
    exit 1
  fi
  seen[$lower]=$name
  names+=("$name"); texts+=("$text")
done <"$tags"

echo "release: building the release profile in $build"
cmake -S "$source_dir" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchain-mingw-i686.cmake" \
  -DLI_PROFILE=release -DLI_THREAD_MODEL=win32 -DLI_BUILD_TESTS=OFF \
  -DLI_TRUSTED_KEYS_FILE="$keys" -DLI_PACKAGES_DIR="$packages" >/dev/null
cmake --build "$build" --target lite_installer ${JOBS:+-j "$JOBS"} >/dev/null

mkdir -p "$out"
signed="$out/lite_installer.exe"
rm -f "$signed"
timestamp=()
[ -n "${TIMESTAMP_URL:-}" ] && timestamp=(-ts "$TIMESTAMP_URL")
if ! osslsigncode sign -h sha256 -certs "$cert" -key "$key" -n "$sign_name" "${timestamp[@]}" \
     -in "$build/lite_installer.exe" -out "$signed" >/dev/null; then
  echo "release: signing failed${TIMESTAMP_URL:+ (time-stamp server $TIMESTAMP_URL)}" >&2
  exit 1
fi

verify_args=()
[ -n "${CA:-}" ] && verify_args=(-CAfile "$(realpath "$CA")")
table=$(mktemp)
trap 'rm -f "$table"' EXIT
printf '%s\t%s\t%s\t%s\n' name bytes sha256 tag >"$table"
for i in "${!names[@]}"; do
  name=${names[$i]}; text=${texts[$i]}
  copy="$out/$name"
  # "--" before the file and the text: a tag text may start with "-".
  python3 "$here/stamp-tag" -o "$copy" -- "$signed" "$text"
  if ! osslsigncode verify "${verify_args[@]}" -in "$copy" >/dev/null 2>&1; then
    echo "release: the signature of $name does not verify" >&2
    exit 1
  fi
  if ! python3 "$here/inspect" --json "$copy" | python3 -c '
import json, sys
report = json.load(sys.stdin)
if report["tag"] != sys.argv[1]:
    sys.exit("release: %s carries the tag %r, not %r" % (sys.argv[2], report["tag"], sys.argv[1]))
packages = [("brand package " + name, package)
            for name, package in report["brand_packages"].items()]
packages.append(("partner package", report["partner_package"] or {}))
for title, package in packages:
    if "error" in package:
        sys.exit("release: %s: %s: %s" % (sys.argv[2], title, package["error"]))
' "$text" "$name"; then
    exit 1
  fi
  printf '%s\t%s\t%s\t%s\n' "$name" "$(stat -c %s "$copy")" \
    "$(sha256sum "$copy" | cut -d' ' -f1)" "$text" >>"$table"
done
python3 -c '
import sys
rows = [line.rstrip("\n").split("\t") for line in open(sys.argv[1], encoding="utf-8")]
widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
for row in rows:
    print("  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip())
' "$table"
echo "release: packages built in:"
python3 "$here/inspect" --json "$signed" | python3 -c '
import json, sys
report = json.load(sys.stdin)
print("  default brand package (319)")
for name in sorted(report["brand_packages"]):
    if name != "319":
        print("  brand package " + name)
if report.get("partner_package"):
    print("  partner package (320)")'
