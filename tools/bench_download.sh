#!/usr/bin/env bash
# Benchmark: one 200 MB file from the fake publisher over HTTPS, downloaded in the same run
#  1. with the installer's DownloadWithProgress under Wine, and with curl on the host, over
#     loopback (no link limit: what each TLS stack can do on this machine);
#  2. with a bare WinINet loop under Wine (1 MB reads, nothing else), the ceiling WinINet and
#     Wine's TLS set, to show what the download client itself costs;
#  3. both clients again over a link paced at LINK_RATE bytes per second (default 50 MB/s);
#  4. what a resume costs: the file cut at 50 %, then resumed, and the bytes fetched in all
#     against the file's size.
# Prints each run, the best of each, the ratios, and the download client's memory figures.
# Usage: bench_download.sh [build dir] [runs]
# With BENCH_SUMMARY set, appends its figures there (tab-separated) for the summary table.
set -euo pipefail
build=${1:-build/local}
runs=${2:-3}
jobs=${JOBS:-2}
size=$((200 * 1024 * 1024))
link_rate=${LINK_RATE:-50000000}
port=$(sed -n 's/^LI_LOCAL_PORT:STRING=//p' "$build/CMakeCache.txt")
cmake --build "$build" --target download_bench -j "$jobs" >/dev/null
bench="$build/test_programs/download_bench.exe"

python3 tests/fake_publisher/fixture.py start "$build" "$port" >/dev/null
trap 'python3 tests/fake_publisher/fixture.py stop "$build" "$port" >/dev/null' EXIT

best() { sed -n 's/^run [0-9]*: \(ok \)\{0,1\}[0-9]* bytes .* = \([0-9.]*\) MB\/s.*/\2/p' | sort -g | tail -1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

wine_run() {  # url [raw]
  "$build/wine_run.sh" "$bench" "$1" "$runs" ${2:-} | tr -d '\r'
}
curl_run() {  # url
  for n in $(seq 1 "$runs"); do
    line=$(curl -s -o /dev/null --cacert "$build/pki/root_ca.pem" -w '%{size_download} %{time_total}' "$1")
    read -r bytes seconds <<<"$line"
    awk -v n="$n" -v b="$bytes" -v s="$seconds" 'BEGIN { printf "run %d: %d bytes in %.3f s = %.1f MB/s\n", n, b, s, b / s / 1e6 }'
  done
}

url="https://localhost:$port/gen/$size"
paced="https://localhost:$port/f/rate=$link_rate/gen/$size"
echo "file: $size bytes from the fake publisher (https://localhost:$port)"

echo "== 1. loopback: DownloadWithProgress under Wine"
ours_out=$(wine_run "$url"); echo "$ours_out"; ours=$(echo "$ours_out" | best)
echo "== 1. loopback: curl on the host"
curl_out=$(curl_run "$url"); echo "$curl_out"; theirs=$(echo "$curl_out" | best)
echo "== 2. loopback: bare WinINet loop under Wine"
raw_out=$(wine_run "$url" raw); echo "$raw_out"; raw=$(echo "$raw_out" | best)
echo "== 3. link of $link_rate bytes/s: DownloadWithProgress under Wine"
ours_paced_out=$(wine_run "$paced"); echo "$ours_paced_out"; ours_paced=$(echo "$ours_paced_out" | best)
echo "== 3. link of $link_rate bytes/s: curl on the host"
curl_paced_out=$(curl_run "$paced"); echo "$curl_paced_out"; theirs_paced=$(echo "$curl_paced_out" | best)

echo "== 4. a cut at 50 %, then the resume: bytes fetched in all"
cut_url="https://localhost:$port/f/drop_pct=50,drop_mode=fin/gen/$size"
resume_out=$(wine_run "$url" "resume $cut_url"); echo "$resume_out"
fetched=$(echo "$resume_out" | sed -n 's/.* \([0-9.]*\) of its size.*/\1/p' | sort -g | tail -1)

echo "== summary (best runs)"
echo "loopback:   download client $ours MB/s, curl $theirs MB/s, ratio $(ratio "$ours" "$theirs")"
echo "            bare WinINet $raw MB/s; download client / bare WinINet $(ratio "$ours" "$raw") (goal >= 0.95)"
echo "paced link: download client $ours_paced MB/s, curl $theirs_paced MB/s, ratio $(ratio "$ours_paced" "$theirs_paced") (goal >= 0.90)"
echo "resume:     bytes fetched in all / file size after a cut at 50 %: $fetched (worst run)"
echo "$ours_out" | grep '^memory'

if [ -n "${BENCH_SUMMARY:-}" ]; then
  {
    printf 'download 200 MB, loopback\tDownloadWithProgress, best of %s\t%s MB/s\n' "$runs" "$ours"
    printf 'download 200 MB, loopback\tcurl on the host\t%s MB/s (ratio %s)\n' "$theirs" "$(ratio "$ours" "$theirs")"
    printf 'download 200 MB, loopback\tbare WinINet loop\t%s MB/s\n' "$raw"
    printf 'download 200 MB, %s B/s link\tDownloadWithProgress\t%s MB/s\n' "$link_rate" "$ours_paced"
    printf 'download 200 MB, %s B/s link\tcurl on the host\t%s MB/s (ratio %s, goal >= 0.90)\n' "$link_rate" "$theirs_paced" "$(ratio "$ours_paced" "$theirs_paced")"
    printf 'download 200 MB, cut at 50 %%\tbytes fetched in all / file size\t%s\n' "$fetched"
  } >>"$BENCH_SUMMARY"
fi
