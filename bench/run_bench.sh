#!/usr/bin/env bash
# End-to-end benchmark: builds the release preset, generates statistics files (once; they are
# cached) and times whole runs on each of them:
#   md5sum       reading the file once, as a yardstick measured in the same run: machines differ
#                and are noisy, the ratio to md5sum travels between them;
#   stream       build/release/tracemill, which folds the chains while the file is decoded;
#   whole        build/release/bench/tracemill_whole, which decodes the whole record first.
# For every file: its size, then per program the median wall time of the runs, the throughput,
# and for the two tools the median peak resident set size and the time as a multiple of
# md5sum's. The three programs take turns in every round, so a noisy moment hits all of them.
# A last column gives the exit status of the streaming run (a fatal report is still timed).
#
# A second group of rows times build/release/tracemill-condense (skipped with a message while it
# is missing) on generated traces: OTLP JSON lines of about 100 MB and 1 GB, and the traces of the
# 100 MB file as Jaeger and Zipkin JSON. Per file: its size, md5sum's time and MB/s, then the
# condensing run's median time, MB/s, spans per second, time as a multiple of md5sum's, peak
# RSS, for Jaeger and Zipkin its time as a multiple of the OTLP file's, and its exit status.
#
# Every run is timed by bench/tracemill_timed, and reads a copy of the cached file written just
# before, so that every invocation starts from the page cache state of a freshly generated file
# (see bench/README.md). --in-place times the cached files as they are.
#
# Usage: bench/run_bench.sh [--runs N] [--seed N] [--cache DIR] [--no-build] [--regen]
#                           [--only NAME] [--skip-whole] [--compare EXE] [--in-place]
#                           [--condense EXE]
#   --compare EXE   times EXE (for example tracemill built from an earlier commit) in the place
#                   of the whole-record program, to compare two versions in the same rounds.
#   --only NAME     one row (json, ..., otlp-100m, ...), or a group: stats or condense.
#   --condense EXE  the condensing program to time (also $TRACEMILL_CONDENSE).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=7
seed=7
cache=${TRACEMILL_BENCH_CACHE:-/tmp/tracemill-bench}
build=1
regen=0
only=
whole=1
compare=
in_place=0
condense=${TRACEMILL_CONDENSE:-}

while [[ $# -gt 0 ]]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --cache) cache=$2; shift 2 ;;
    --no-build) build=0; shift ;;
    --regen) regen=1; shift ;;
    --only) only=$2; shift 2 ;;
    --skip-whole) whole=0; shift ;;
    --compare) compare=$2; shift 2 ;;
    --in-place) in_place=1; shift ;;
    --condense) condense=$2; shift 2 ;;
    -h|--help) sed -n '2,30p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run_bench.sh: unknown argument: $1" >&2; exit 2 ;;
  esac
done

if [[ $build == 1 ]]; then
  (cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release >/dev/null)
fi
tool=$root/build/release/tracemill
whole_tool=${compare:-$root/build/release/bench/tracemill_whole}
label=whole_s
[[ -n $compare ]] && label=cmp_s
gen=$root/build/release/bench/tracemill_gen
gen_traces=$root/build/release/bench/tracemill_gen_traces
condense=${condense:-$root/build/release/tracemill-condense}
timer=$root/build/release/bench/tracemill_timed
for exe in "$tool" "$whole_tool" "$gen" "$gen_traces" "$timer"; do
  [[ -x $exe ]] || { echo "run_bench.sh: $exe is missing; build the release preset" >&2; exit 1; }
done
# The generator checks itself first: timings of files it got wrong would mean nothing.
"$gen" --self-check || { echo "run_bench.sh: the generator's self-check failed" >&2; exit 1; }

mkdir -p "$cache"
trap 'rm -f "$cache"/timed-copy.*' EXIT

# name profile format extension generator-size extra-options
# --size is the size of the compact JSON form of the records; the sizes below make every file
# about 100 MB in its own format, and one typical JSON file about 1 GB.
cases=(
  "json typical json json 100M"
  "json-pretty typical json-pretty json 47M"
  "bincode typical bincode bincode 152M"
  "chains-json chains json json 91M"
  "chains-bincode chains bincode bincode 184M"
  "json-repeats typical json json 100M --repeat-keys 5"
  "json-1g typical json json 1000M"
)

# name format size extension: the traces of one seed and size are the same in every format.
condense_cases=(
  "otlp-100m otlp 100M jsonl"
  "jaeger-100m jaeger 100M json"
  "zipkin-100m zipkin 100M json"
  "otlp-1g otlp 1000M jsonl"
)
# Whether a row runs: --only names it or its group.
selected() { [[ -z $only || $only == "$1" || $only == "$2" ]]; }

# A copy of the cached file written (and flushed) just before the runs, or the file itself with
# --in-place; prints the path to time.
timed_copy() {
  if [[ $in_place == 0 ]]; then
    # Written through the page cache and flushed, so that no writeback runs while timing.
    local copy=$cache/timed-copy.$2
    cat "$1" >"$copy"
    sync "$copy"
    echo "$copy"
  else
    # One unmeasured run brings the file into the page cache.
    md5sum "$1" >/dev/null
    echo "$1"
  fi
}

median() { sort -g | awk '{v[NR] = $1} END {if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

stats_rows=0
for c in "${cases[@]}"; do
  read -r name _ <<<"$c"
  selected "$name" stats && stats_rows=1
done
((stats_rows)) && printf '%-15s %8s | %7s %6s | %7s %6s %5s %7s | %7s %6s %5s %7s | %s\n' \
  file MB md5_s MB/s stream_s MB/s xmd5 MiB "$label" MB/s xmd5 MiB status
for c in "${cases[@]}"; do
  read -r name profile format ext size extra <<<"$c"
  selected "$name" stats || continue
  file=$cache/stats-seed$seed-$name.$ext
  if [[ $regen == 1 || ! -s $file ]]; then
    # shellcheck disable=SC2086 # extra holds options
    "$gen" --seed "$seed" --size "$size" --profile "$profile" --format "$format" $extra \
      -o "$file.tmp" 2>/dev/null
    mv "$file.tmp" "$file"
  fi
  bytes=$(stat -c %s "$file")
  file=$(timed_copy "$file" "$ext")
  md5=() stream=() stream_rss=() whole_t=() whole_rss=()
  status=0
  for ((i = 0; i < runs; i++)); do
    read -r t _ _ < <("$timer" md5sum "$file")
    md5+=("$t")
    read -r t m status < <("$timer" "$tool" "$file")
    stream+=("$t")
    stream_rss+=("$m")
    if [[ $whole == 1 ]]; then
      read -r t m _ < <("$timer" "$whole_tool" "$file")
      whole_t+=("$t")
      whole_rss+=("$m")
    fi
  done
  md5_s=$(printf '%s\n' "${md5[@]}" | median)
  stream_s=$(printf '%s\n' "${stream[@]}" | median)
  stream_m=$(printf '%s\n' "${stream_rss[@]}" | median)
  if [[ $whole == 1 ]]; then
    whole_s=$(printf '%s\n' "${whole_t[@]}" | median)
    whole_m=$(printf '%s\n' "${whole_rss[@]}" | median)
  else
    whole_s=0 whole_m=0
  fi
  awk -v n="$name" -v b="$bytes" -v md5="$md5_s" -v st="$stream_s" -v sm="$stream_m" \
      -v wt="$whole_s" -v wm="$whole_m" -v s="$status" 'BEGIN {
    mb = b / 1e6
    printf "%-15s %8.1f | %7.3f %6s | %7.3f %6s %5s %7.1f | %7.3f %6s %5s %7.1f | %d\n",
      n, mb,
      md5, (md5 > 0 ? sprintf("%.0f", mb / md5) : "inf"),
      st, (st > 0 ? sprintf("%.0f", mb / st) : "inf"), (md5 > 0 ? sprintf("%.2f", st / md5) : "-"), sm / 1024,
      wt, (wt > 0 ? sprintf("%.0f", mb / wt) : "-"), (md5 > 0 && wt > 0 ? sprintf("%.2f", wt / md5) : "-"), wm / 1024,
      s
  }'
  [[ $in_place == 1 ]] || rm -f "$file"
done

# Condensing traces into a statistics file.
condense_rows=0
for c in "${condense_cases[@]}"; do
  read -r name _ <<<"$c"
  selected "$name" condense && condense_rows=1
done
((condense_rows)) || exit 0
if [[ ! -x $condense ]] && ! command -v "$condense" >/dev/null; then
  echo "run_bench.sh: $condense is missing: the condense rows are skipped"
  exit 0
fi
((stats_rows)) && echo
printf '%-15s %8s | %7s %6s | %10s %6s %8s %5s %7s %6s | %s\n' \
  file MB md5_s MB/s condense_s MB/s kspans/s xmd5 MiB xotlp status
otlp_s=
for c in "${condense_cases[@]}"; do
  read -r name format size ext <<<"$c"
  selected "$name" condense || continue
  # The name changes whenever the generator's traces change, so that a cached file is never stale.
  file=$cache/traces2-seed$seed-$size.$format.$ext
  if [[ $regen == 1 || ! -s $file || ! -s $file.spans ]]; then
    "$gen_traces" --seed "$seed" --size "$size" --format "$format" --spans-file "$file.spans" \
      -o "$file.tmp" 2>/dev/null
    mv "$file.tmp" "$file"
  fi
  bytes=$(stat -c %s "$file")
  spans=$(<"$file.spans")
  file=$(timed_copy "$file" "$format.$ext")
  md5=() cond=() cond_rss=()
  status=0
  for ((i = 0; i < runs; i++)); do
    read -r t _ _ < <("$timer" md5sum "$file")
    md5+=("$t")
    read -r t m status < <("$timer" "$condense" "$file" -o /dev/null --format bincode)
    cond+=("$t")
    cond_rss+=("$m")
  done
  md5_s=$(printf '%s\n' "${md5[@]}" | median)
  cond_s=$(printf '%s\n' "${cond[@]}" | median)
  cond_m=$(printf '%s\n' "${cond_rss[@]}" | median)
  # Jaeger and Zipkin hold the traces of the 100 MB OTLP file: their time against its time.
  ref=
  [[ $name == otlp-100m ]] && otlp_s=$cond_s
  [[ $name == jaeger-100m || $name == zipkin-100m ]] && ref=$otlp_s
  awk -v n="$name" -v b="$bytes" -v sp="$spans" -v md5="$md5_s" -v ct="$cond_s" -v cm="$cond_m" \
      -v ref="$ref" -v s="$status" 'BEGIN {
    mb = b / 1e6
    printf "%-15s %8.1f | %7.3f %6s | %10.3f %6s %8s %5s %7.1f %6s | %d\n",
      n, mb,
      md5, (md5 > 0 ? sprintf("%.0f", mb / md5) : "inf"),
      ct, (ct > 0 ? sprintf("%.0f", mb / ct) : "inf"), (ct > 0 ? sprintf("%.0f", sp / ct / 1000) : "inf"),
      (md5 > 0 ? sprintf("%.2f", ct / md5) : "-"), cm / 1024,
      (ref != "" && ref > 0 ? sprintf("%.2f", ct / ref) : "-"),
      s
  }'
  [[ $in_place == 1 ]] || rm -f "$file"
done
