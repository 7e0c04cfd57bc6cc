#!/usr/bin/env bash
# The XML check on two 1 GiB files: one whose first line is 1 GiB long, and
# 1 GiB of blank lines before the declaration, compared with `wc -l` over
# the same file in the page cache. Prints medians of 5 runs. Deletes the
# files it writes.
# Usage: bench/xml_check_bench.sh [build-dir]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
cmake --build "$build" --target xml_check_once >/dev/null
once=$build/bench/xml_check_once

dir=$(mktemp -d /tmp/hj5-xmlbench-XXXXXX)
trap 'rm -rf "$dir"' EXIT
size=$((1 << 30))
{ printf '<?xml'; head -c "$size" /dev/zero | tr '\0' 'a'; } >"$dir/long-line.xml"
{ head -c "$size" /dev/zero | tr '\0' '\n'; printf '<?xml'; } >"$dir/blank-lines.xml"

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
now_us() { echo $(($(date +%s%N) / 1000)); }

for f in long-line blank-lines; do
  path=$dir/$f.xml
  cat "$path" >/dev/null  # into the page cache
  check=$(for _ in 1 2 3 4 5; do "$once" "$path"; done)
  result=$(echo "$check" | awk '{print $1}' | sort -u | tr '\n' ' ')
  check_us=$(echo "$check" | awk '{print $2}' | median)
  extra_kib=$(echo "$check" | awk '{print $3}' | sort -n | tail -1)
  wc_us=$(for _ in 1 2 3 4 5; do
    s=$(now_us); wc -l "$path" >/dev/null; e=$(now_us); echo $((e - s))
  done | median)
  ratio=$(awk -v a="$check_us" -v b="$wc_us" 'BEGIN {printf "%.2f", a / b}')
  echo "$f: check ${result}median ${check_us} us, peak +${extra_kib} KiB;" \
    "wc -l median ${wc_us} us; check/wc ${ratio}"
done
