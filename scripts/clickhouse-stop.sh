#!/usr/bin/env bash
# Stops the test servers that clickhouse-start.sh started under FOLDER, by their process ids.
#   clickhouse-stop.sh [FOLDER]
set -uo pipefail
base=${1:-${VTQ_CLICKHOUSE_DIR:-/tmp/vtq-clickhouse}}
for pidfile in "$base"/server*/pid; do
  [ -f "$pidfile" ] || continue
  pid=$(cat "$pidfile")
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
    for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && kill -9 "$pid"
  fi
  rm -f "$pidfile"
done
exit 0
