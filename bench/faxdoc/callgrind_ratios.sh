#!/usr/bin/env bash
# Instruction counts per page of our MH coder and libtiff's, with callgrind:
#   bench/faxdoc/callgrind_ratios.sh [BUILD_FOLDER]      (default: build)
# Counts only the work inside Measured() of faxdoc_callgrind_driver (the
# second of two calls, so start-up work is not counted) and prints the ratio
# libtiff / ours: above 1.0 means ours needs fewer instructions.
set -euo pipefail
build=${1:-build}
driver=$(find "$build" -name faxdoc_callgrind_driver -type f -perm -u+x | head -n 1)
[ -n "$driver" ] || { echo "faxdoc_callgrind_driver not found in $build" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

count() {  # op page -> instructions of the last call of Measured
  valgrind --tool=callgrind --callgrind-out-file="$tmp/out" --collect-atstart=no \
           --toggle-collect=Measured --dump-after=Measured "$driver" "$1" "$2" >/dev/null 2>&1
  # One dump per call of Measured: take the last (the measured one).
  local last
  last=$(ls "$tmp"/out* | sort -t. -k2 -n | tail -n 1)
  grep -E '^summary:|^totals:' "$last" | head -n 1 | awk '{print $2}'
  rm -f "$tmp"/out*
}

printf '%-13s %-7s %12s %12s %7s\n' page op ours libtiff ratio
for page in 0 1 2; do
  name=$(case $page in 0) echo letter;; 1) echo photo;; 2) echo almost-blank;; esac)
  for op in encode decode; do
    o=$(count "ours-$op" "$page")
    t=$(count "tiff-$op" "$page")
    awk -v n="$name" -v op="$op" -v o="$o" -v t="$t" \
      'BEGIN { printf "%-13s %-7s %11.2fM %11.2fM %7.2f\n", n, op, o / 1e6, t / 1e6, t / o }'
  done
done
