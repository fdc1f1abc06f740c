#!/usr/bin/env bash
# Instructions per input byte for every driver on every shape, counted by
# callgrind over one parse of a 2 MiB document: the count is repeatable on a
# busy machine, unlike a timing.
#
#   bench/callgrind.sh [BUILD_DIR] [BYTES]
#
# BUILD_DIR defaults to build/bench (cmake --workflow --preset bench).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
bytes=${2:-2097152}
once="$build/bench/sorvel_bench_once"
[[ -x $once ]] || { echo "no $once: run cmake --workflow --preset bench" >&2; exit 1; }
command -v valgrind >/dev/null || { echo "valgrind is not installed" >&2; exit 1; }

shapes=(text markup deep entity)
drivers=(sorvel_pull_4096 sorvel_pull_32 sorvel_push_4096 sorvel_push_32
  expat libxml2 pugixml memchr)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

printf '| driver |'; printf ' %s |' "${shapes[@]}"; printf '\n|---|'
printf -- '---:|%.0s' "${shapes[@]}"; printf '\n'
for d in "${drivers[@]}"; do
  printf '| %s |' "$d"
  for s in "${shapes[@]}"; do
    f="$out/$d.$s"
    len=$(valgrind --tool=callgrind --callgrind-out-file="$f" \
      --collect-atstart=no --toggle-collect=sorvel_bench_measured \
      "$once" "$d" "$s" "$bytes" 2>/dev/null | awk '{print $1}')
    ir=$(awk '/^(summary|totals):/ {print $2; exit}' "$f")
    awk -v ir="$ir" -v len="$len" 'BEGIN {printf " %.2f |", ir / len}'
  done
  printf '\n'
done
