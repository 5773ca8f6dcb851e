#!/usr/bin/env bash
# Size of the shipped executable: file size, its PE sections (raw size on disk, which is
# what a download costs, and virtual size) and the objects that contribute most to it,
# read from the GNU ld link map written beside the executable.
#
#   tools/size_report.sh [build folder | path/to/lite_installer.exe] [map file] [top N]
#
# Defaults: build/release, <exe without .exe>.map, top 20. Without a map, only the file and
# section tables are printed. Exit status 1 when the executable is missing.
set -euo pipefail

target=${1:-build/release}
if [ -d "$target" ]; then
  exe="$target/lite_installer.exe"
else
  exe="$target"
fi
map=${2:-${exe%.exe}.map}
top=${3:-20}

if [ ! -f "$exe" ]; then
  echo "size_report: $exe not found (run make build first)" >&2
  exit 1
fi

objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
sections=$("$objdump" -h "$exe")

python3 - "$exe" "$map" "$top" "$sections" <<'PY'
import os
import re
import signal
import sys

signal.signal(signal.SIGPIPE, signal.SIG_DFL)  # quiet when piped into head

exe, map_path, top, section_dump = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]

size = os.path.getsize(exe)
print(f"{exe}: {size} bytes ({size / 1024:.1f} KiB)")

# objdump -h rows: index, name, size, VMA, LMA, file offset, alignment. The raw size on disk
# is the distance to the next section's file offset (sections are padded to FileAlignment);
# .bss has no file data.
rows = []
for line in section_dump.splitlines():
    m = re.match(r"\s*\d+\s+(\S+)\s+([0-9a-f]+)\s+[0-9a-f]+\s+[0-9a-f]+\s+([0-9a-f]+)", line)
    if m:
        rows.append([m.group(1), int(m.group(2), 16), int(m.group(3), 16)])
with_data = sorted((r for r in rows if r[2] != 0), key=lambda r: r[2])
raw = {}
for i, (name, vsize, offset) in enumerate(with_data):
    end = with_data[i + 1][2] if i + 1 < len(with_data) else size
    raw[name] = end - offset
headers = with_data[0][2] if with_data else size

print()
print(f"{'section':<10} {'on disk':>9} {'in memory':>10}")
print(f"{'(headers)':<10} {headers:>9}")
for name, vsize, offset in rows:
    print(f"{name:<10} {raw.get(name, 0):>9} {vsize:>10}")
trailing = size - sum(raw.values()) - headers
if trailing > 0:
    print(f"{'(overlay)':<10} {trailing:>9}")

if not os.path.isfile(map_path):
    print(f"\n(no link map at {map_path}: no per-object breakdown)")
    sys.exit(0)

# Input sections in the map: " .name  0xADDR  0xSIZE  object", with the address and size on
# a continuation line when the section name is long. Output sections start in column 0.
objects = {}
output_section = None
pending = None
entry = re.compile(r"^\s+(0x[0-9a-f]+)\s+(0x[0-9a-f]+)\s+(\S.*)$")
with open(map_path, encoding="utf-8", errors="replace") as f:
    in_memory_map = False
    for line in f:
        line = line.rstrip("\n")
        if line.startswith("Linker script and memory map"):
            in_memory_map = True
            continue
        if not in_memory_map:
            continue
        m = re.match(r"^(\.\S+|\S+)\s+0x[0-9a-f]+\s+0x[0-9a-f]+", line)
        if m and not line.startswith(" "):
            output_section = m.group(1)
            pending = None
            continue
        if re.match(r"^\S", line):
            output_section = line.split()[0] if line.split() else None
            pending = None
            continue
        m = re.match(r"^ (\S+)\s+(0x[0-9a-f]+)\s+(0x[0-9a-f]+)\s+(\S.*)$", line)
        if m:
            pending = None
            obj, length = m.group(4), int(m.group(3), 16)
        elif re.match(r"^ (\S+)$", line):
            pending = line.strip()
            continue
        elif pending and entry.match(line):
            m = entry.match(line)
            pending = None
            obj, length = m.group(3), int(m.group(2), 16)
        else:
            pending = None
            continue
        if length == 0 or output_section is None or output_section.startswith(".debug"):
            continue
        # "lib/libfoo.a(member.o)" -> "libfoo.a(member.o)"; plain objects keep their last
        # two path parts so that entry/main.cc.obj stays recognisable.
        am = re.match(r"^(.*/)?([^/]+\.a)\((.*)\)$", obj)
        if am:
            name = f"{am.group(2)}({am.group(3)})"
        else:
            name = "/".join(obj.split("/")[-2:])
        per = objects.setdefault(name, {})
        per[output_section] = per.get(output_section, 0) + length

totals = sorted(objects.items(), key=lambda kv: -sum(kv[1].values()))
print(f"\ntop {top} objects by linked bytes (before section padding):")
print(f"{'bytes':>8}  {'text':>7} {'rdata':>7} {'data':>6} {'eh':>6}  object")
for name, per in totals[:top]:
    text = per.get(".text", 0)
    rdata = per.get(".rdata", 0)
    data = per.get(".data", 0) + per.get(".bss", 0)
    eh = per.get(".eh_frame", 0) + per.get(".eh_fram", 0)
    print(f"{sum(per.values()):>8}  {text:>7} {rdata:>7} {data:>6} {eh:>6}  {name}")
rest = sum(sum(per.values()) for _, per in totals[top:])
print(f"{rest:>8}  (the other {max(len(totals) - top, 0)} objects)")
if any(".ltrans" in name for name, _ in totals[:top]):
    print("\n(link-time optimisation joins the product code and Jansson into the ltrans object;"
          "\n configure with -DLI_LTO=OFF for their breakdown by object)")
PY
