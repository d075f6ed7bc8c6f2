#!/usr/bin/env bash
# The grid query of query_benchmark and the flat query of flat_benchmark against DuckDB on one
# and on two threads, over the same generated rows (the benchmarks write them with --dump-csv).
# DuckDB is the npm package @duckdb/node-api, installed into a scratch folder of the build
# directory: a peer for comparison only, never a dependency of the library. Without npm or the
# package the comparison is skipped (exit 0); when the results differ it fails.
#
# usage: bench/duckdb_compare.sh [BUILD_DIR] [--facts N] (default: build, 2000000 facts; run
# `make build` first, or `make bench-duckdb FACTS=N`)
# RUNS=N sets how many DuckDB runs give the median (default 7).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build_arg="$here/../build"
facts=2000000
while [[ $# -gt 0 ]]; do
  case "$1" in
    --facts)
      [[ $# -ge 2 && "$2" =~ ^[1-9][0-9]*$ ]] || { echo "--facts needs a positive whole number" >&2; exit 2; }
      facts="$2"
      shift 2
      ;;
    *)
      build_arg="$1"
      shift
      ;;
  esac
done
build="$(cd "$build_arg" && pwd)"
scratch="$build/duckdb-scratch"
data="$build/duckdb-data-$facts"
runs="${RUNS:-7}"

skip() {
  echo "DuckDB comparison skipped: $1"
  exit 0
}

command -v node >/dev/null 2>&1 || skip "node is not installed"
command -v npm >/dev/null 2>&1 || skip "npm is not installed"
for program in query_benchmark flat_benchmark; do
  if [[ ! -x "$build/bin/$program" ]]; then
    echo "$build/bin/$program is missing: run make build first" >&2
    exit 1
  fi
done

mkdir -p "$scratch" "$data"
if [[ ! -d "$scratch/node_modules/@duckdb/node-api" ]]; then
  npm install --prefix "$scratch" --no-audit --no-fund --silent @duckdb/node-api \
    >"$scratch/install.log" 2>&1 || skip "npm install @duckdb/node-api failed (see $scratch/install.log)"
fi

# Runs a benchmark program quietly; its output is shown when it fails.
quietly() {
  local log="$data/$1.log"
  shift
  "$@" >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
}

# The same tables both benchmarks generate, and each one's own result to check DuckDB against.
quietly query-dump "$build/bin/query_benchmark" --facts "$facts" --dump-csv "$data"
quietly flat-dump "$build/bin/flat_benchmark" --facts "$facts" --dump-csv "$data"

quietly query "$build/bin/query_benchmark" --facts "$facts" --benchmark_filter='^BM_(ViewQuery|GridEngine|GridTopCountSorted|GridOneThread|GridTwoThreads)$' \
  --benchmark_repetitions=5 --benchmark_out="$data/query.json" --benchmark_out_format=json
quietly flat "$build/bin/flat_benchmark" --facts "$facts" --benchmark_filter='^BM_FlatQuery' \
  --benchmark_out="$data/flat.json" --benchmark_out_format=json

status=0
node "$here/duckdb_compare.mjs" "$scratch" "$data" "$runs" "$data/query.json" "$data/flat.json" "$facts" ||
  status=$?
if [[ $status -eq 2 ]]; then skip "@duckdb/node-api could not be loaded"; fi
exit $status
