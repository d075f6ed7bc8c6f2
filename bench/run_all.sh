#!/usr/bin/env bash
# Runs every benchmark program of the build (build/bin/*_benchmark), each with its own output as
# it goes, then prints one table of every ratio they printed ("ratio A / B = R (goal <= G)", see
# bench/BenchRatio.h) with its goal, met or missed. A program that fails is listed as failed and
# makes the script exit non-zero once all have run.
#
# usage: bench/run_all.sh [BUILD_DIR] (default: build)
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="${1:-$here/../build}"
logs="$build/bench-logs"
mkdir -p "$logs"
rm -f "$logs"/*.log

status=0
failed=()
for program in "$build"/bin/*_benchmark; do
  [[ -x "$program" ]] || continue
  name="$(basename "$program")"
  echo "== $name"
  if ! "$program" 2>&1 | tee "$logs/$name.log"; then
    failed+=("$name")
    status=1
  fi
done

# The threads' goal is set at 20,000,000 facts: the two scans alone, at that size.
if [[ -x "$build/bin/query_benchmark" ]]; then
  echo "== query_benchmark, threads at 20,000,000 facts"
  if ! "$build/bin/query_benchmark" --facts 20000000 --benchmark_filter='^BM_Grid(OneThread|TwoThreads)$' \
      --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>&1 | tee "$logs/query_benchmark_20M.log"; then
    failed+=("query_benchmark --facts 20000000")
    status=1
  fi
fi

echo
echo "== ratio summary"
bash "$here/ratio_summary.sh" "$logs"/*.log
for name in "${failed[@]+"${failed[@]}"}"; do echo "FAILED: $name"; done
exit $status
