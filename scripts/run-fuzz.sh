#!/usr/bin/env bash
# Runs every fuzz target of build-fuzz (`make fuzz`) for SECONDS each, starting from its seed
# corpus fuzz/corpus/<name>/ and its dictionary fuzz/<name>.dict. New interesting inputs go to
# build-fuzz/fuzz-corpus/<name>/ (not to git); an input that fails is written to
# build-fuzz/fuzz-artifacts/<name>/, and the script exits 1 naming it. Copy such an input into
# fuzz/corpus/<name>/ once it is mended: the unit tests replay that directory.
set -euo pipefail

seconds=${1:?usage: scripts/run-fuzz.sh SECONDS}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD:-$root/build-fuzz}
status=0

for program in "$build"/bin/*_fuzz; do
  [ -x "$program" ] || { echo "no fuzz targets in $build/bin: run make fuzz" >&2; exit 2; }
  name=$(basename "$program" _fuzz)
  work=$build/fuzz-corpus/$name
  artifacts=$build/fuzz-artifacts/$name
  mkdir -p "$work" "$artifacts"
  options=(-max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$artifacts/")
  [ -f "$root/fuzz/$name.dict" ] && options+=(-dict="$root/fuzz/$name.dict")
  echo "== $name: $seconds s"
  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
       "$program" "${options[@]}" "$work" "$root/fuzz/corpus/$name"; then
    echo "== $name FAILED: see $artifacts/" >&2
    status=1
  fi
done
exit $status
