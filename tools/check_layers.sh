#!/bin/bash
# Checks that the product's includes run one way only: every folder includes only folders of
# a lower layer (and itself), and nothing includes the entry. Prints each include that runs
# the wrong way and exits 1 when there is one.
#
# The layers, lowest first (folders of one layer include each other only where listed):
#   platform                 base services: log, command line, files, handles, system libraries
#   brand network trust      brand configuration, the network client, the archive's proof
#   stats                    the statistics (names the brand's values)
#   install                  the install flow, the master and the elevated child
#   ui                       the window
#   entry                    wWinMain and the run order, included by nothing
set -u
cd "$(dirname "$0")/.."
declare -A rank=([platform]=0 [brand]=1 [network]=1 [trust]=1 [stats]=2 [install]=3 [ui]=4
                 [entry]=5)
status=0
for dir in "${!rank[@]}"; do
  for file in "$dir"/*.cc "$dir"/*.h; do
    [ -e "$file" ] || continue
    case "$file" in *_test.cc) continue ;; esac
    while IFS= read -r target; do
      to=${target%%/*}
      [ -n "${rank[$to]+x}" ] || continue  # resources/, build_config/: data, not code
      [ "$to" = "$dir" ] && continue
      if [ "$to" = entry ] || [ "${rank[$to]}" -ge "${rank[$dir]}" ]; then
        echo "$file includes $target (layer $to is not below $dir)"
        status=1
      fi
    done < <(sed -nE 's/^#include "([a-z_]+\/[a-z0-9_]+\.h)".*/\1/p' "$file")
  done
done
exit $status
