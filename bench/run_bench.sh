#!/usr/bin/env bash
# End-to-end benchmark: builds the release preset, generates statistics files (once; they are
# cached) and times whole runs of build/release/tracemill on each of them.
#
# For every file it prints the size, the median wall time of the runs, the throughput and the
# median peak resident set size, plus the exit status of the last run (a run that ends with a
# fatal report is still timed; its status shows up in the table).
#
# Usage: bench/run_bench.sh [--runs N] [--size SIZE] [--seed N] [--cache DIR] [--no-build]
#                           [--regen] [--only NAME]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=5
size=100M
seed=7
cache=${TRACEMILL_BENCH_CACHE:-/tmp/tracemill-bench}
build=1
regen=0
only=

while [[ $# -gt 0 ]]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --cache) cache=$2; shift 2 ;;
    --no-build) build=0; shift ;;
    --regen) regen=1; shift ;;
    --only) only=$2; shift 2 ;;
    -h|--help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run_bench.sh: unknown argument: $1" >&2; exit 2 ;;
  esac
done

if [[ $build == 1 ]]; then
  (cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release)
fi
tool=$root/build/release/tracemill
gen=$root/build/release/bench/tracemill_gen
for exe in "$tool" "$gen"; do
  [[ -x $exe ]] || { echo "run_bench.sh: $exe is missing; build the release preset" >&2; exit 1; }
done
[[ -x /usr/bin/time ]] || { echo "run_bench.sh: /usr/bin/time is needed (apt-get install time)" >&2; exit 1; }

mkdir -p "$cache"

# name profile format extension
cases=(
  "json typical json json"
  "json-pretty typical json-pretty json"
  "bincode typical bincode bincode"
  "chains-json chains json json"
  "chains-bincode chains bincode bincode"
)

median() { sort -g | awk '{v[NR] = $1} END {if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

printf '%-15s %10s %9s %9s %10s %6s\n' file size_MB median_s MB/s peak_MiB status
for c in "${cases[@]}"; do
  read -r name profile format ext <<<"$c"
  [[ -n $only && $only != "$name" ]] && continue
  file=$cache/stats-seed$seed-$size-$name.$ext
  if [[ $regen == 1 || ! -s $file ]]; then
    "$gen" --seed "$seed" --size "$size" --profile "$profile" --format "$format" -o "$file.tmp" 2>/dev/null
    mv "$file.tmp" "$file"
  fi
  bytes=$(stat -c %s "$file")

  # One unmeasured run brings the file into the page cache.
  "$tool" "$file" >/dev/null 2>&1 || true
  times=()
  rss=()
  status=0
  for ((i = 0; i < runs; i++)); do
    out=$(mktemp)
    set +e
    /usr/bin/time -o "$out" -f '%e %M' "$tool" "$file" >/dev/null 2>/dev/null
    status=$?
    set -e
    read -r t m < <(tail -n 1 "$out")
    rm -f "$out"
    times+=("$t")
    rss+=("$m")
  done
  t=$(printf '%s\n' "${times[@]}" | median)
  m=$(printf '%s\n' "${rss[@]}" | median)
  awk -v n="$name" -v b="$bytes" -v t="$t" -v m="$m" -v s="$status" 'BEGIN {
    mbs = t > 0 ? sprintf("%.1f", b / 1e6 / t) : "inf"
    printf "%-15s %10.1f %9.3f %9s %10.1f %6d\n", n, b / 1e6, t, mbs, m / 1024, s
  }'
done
