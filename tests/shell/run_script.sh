#!/usr/bin/env bash
# Runs one shell test script and compares what it prints with the expected text.
#   run_script.sh VTQ SCRIPT.vtq [CUBE]
# With CUBE (a cube definition holding the sample cube elsewhere, e.g. on a server), a script that
# runs on the bundled sample cube runs on CUBE instead and must print the same.
# A script's first line may be "# args: ARGUMENTS": what follows `vtq shell` (paths relative to
# this folder; without --cube the bundled sample cube). SCRIPT.expected holds standard output,
# then a line "--- stderr" and standard error, then "--- status N". With VTQ_UPDATE_EXPECTED=1
# the expected file is written from the run instead (read the diff before committing it).
# GUIDs, fresh on every run, are compared as the text {GUID}. A script may write files under
# $SCRATCH, a directory of its own that is removed after the run; output shows it as $SCRATCH.
set -euo pipefail
vtq=$1
script=$2
here=$(cd "$(dirname "$script")" && pwd)
name=$(basename "$script" .vtq)
expected="$here/$name.expected"
args=$(sed -n '1s/^# args: //p' "$script")
if [ -n "${3:-}" ]; then
  args="--cube $(printf '%q' "$3") $args"
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
mkdir "$scratch/files"
sed "s|\$SCRATCH|$scratch/files|g" "$here/$name.vtq" > "$scratch/script"
(cd "$here" && eval "\"\$vtq\" shell $args" < "$scratch/script" > "$scratch/out" 2> "$scratch/err") ||
  status=$?
{
  cat "$scratch/out"
  echo "--- stderr"
  cat "$scratch/err"
  echo "--- status $status"
} | sed -E -e 's/\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}/{GUID}/g' \
      -e "s|$scratch/files|\$SCRATCH|g" > "$scratch/actual"

if [ "${VTQ_UPDATE_EXPECTED:-}" = 1 ] && [ -z "${3:-}" ]; then
  cp "$scratch/actual" "$expected"
  echo "wrote $expected"
  exit 0
fi
diff -u "$expected" "$scratch/actual"
