#!/usr/bin/env bash
# Throughput medians over repetitions, and each driver's ratio to libsorvel
# pull (4096-byte buffer) and to the memchr ceiling, all from one run.
#
#   bench/run.sh [BUILD_DIR] [REPETITIONS] [CORPUS_MIB] [extra benchmark flags]
#
# BUILD_DIR defaults to build/bench (cmake --workflow --preset bench).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
reps=${2:-5}
mib=${3:-8}
shift $(($# < 3 ? $# : 3))
bin="$build/bench/sorvel_bench"
[[ -x $bin ]] || { echo "no $bin: run cmake --workflow --preset bench" >&2; exit 1; }
out="$build/bench/results.json" # kept for a second look

"$bin" --corpus_mib="$mib" --benchmark_repetitions="$reps" \
  --benchmark_report_aggregates_only=true --benchmark_out="$out" \
  --benchmark_out_format=json "$@" >/dev/null

python3 - "$out" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
med = {}
for r in runs:
    if r.get("aggregate_name") == "median":
        shape, driver = r["run_name"].split("/")[:2]
        med.setdefault(shape, {})[driver] = r["bytes_per_second"]
ref = "sorvel_pull_4096"
for shape, d in med.items():
    print(f"\n{shape}: median MB/s, ratio to {ref}, time ratio to memchr")
    print("| driver | MB/s | vs sorvel pull | time vs memchr |")
    print("|---|---:|---:|---:|")
    for name, bps in d.items():
        print(f"| {name} | {bps / 1e6:.0f} | {bps / d[ref]:.2f} | "
              f"{d['memchr'] / bps:.1f}x |")
PY
