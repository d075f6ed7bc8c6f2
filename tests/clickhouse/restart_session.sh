#!/usr/bin/env bash
# A shell session over a server that stops and starts again: the query while it is down gives a
# clear error, the session goes on, and the query after the restart succeeds. Uses a server of
# its own (instance 3: HTTP 8125, TCP 9002) under FOLDER, stopped by its process id at the end.
# Each step waits for the session's answer to the one before, not for a fixed time.
#   restart_session.sh VTQ FOLDER
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
vtq=$1
folder=$2
if ! command -v clickhouse-server > /dev/null; then
  echo "clickhouse-server is not installed: skipped"
  exit 77
fi
mkdir -p "$folder"
rm -f "$folder/commands" "$folder/out"
mkfifo "$folder/commands"
session=""
finish() {
  exec 3>&- 2> /dev/null
  [ -n "$session" ] && wait "$session"
  bash "$root/scripts/clickhouse-stop.sh" "$folder"
}
trap finish EXIT
bash "$root/scripts/clickhouse-start.sh" 3 "$folder" || exit 1
PORT=9002 bash "$root/examples/sales/load-clickhouse.sh" single || exit 1
sed 's|http://127.0.0.1:8123|http://127.0.0.1:8125|' "$root/examples/sales/sales.clickhouse.xml" > "$folder/sales.xml"

"$vtq" --cube "$folder/sales.xml" shell < "$folder/commands" > "$folder/out" 2>&1 &
session=$!
exec 3> "$folder/commands"
# Waits until the session's output holds `count` lines matching `pattern`.
await() {
  for _ in $(seq 1 600); do
    [ "$(grep -c -- "$2" "$folder/out")" -ge "$1" ] && return 0
    sleep 0.1
  done
  echo "FAIL: no answer matching '$2' (output so far below)"
  cat "$folder/out"
  exit 1
}
grid='^Europe         5043528.5    582439.45   673605.2  3958196.15$'
down='^error 0xC2032002: The server http://127.0.0.1:8125 (user default) cannot be reached for a grid query of cube'
printf 'move [Product] 0\nmove [Geography] 1\nlevel [Product] 1\nlevel [Geography] 1\nquery\n' >&3
await 1 "$grid"
bash "$root/scripts/clickhouse-stop.sh" "$folder"
# A changed view, so that the query reaches the server rather than the last result.
printf 'level [Geography] 0\nquery\nlevel [Geography] 1\n' >&3
await 1 "$down"
bash "$root/scripts/clickhouse-start.sh" 3 "$folder" > /dev/null || exit 1
printf 'query\n' >&3
await 2 "$grid"
exec 3>&-
wait "$session"
status=$?
session=""
cat "$folder/out"
[ "$status" -eq 0 ] || { echo "FAIL: status $status"; exit 1; }
[ "$(grep -c '^error' "$folder/out")" -eq 1 ] || { echo "FAIL: errors other than the one while the server was down"; exit 1; }
echo "passed"
