#!/usr/bin/env bash
# A shell session over a server that stops and starts again: the query while it is down gives a
# clear error, the session goes on, and the query after the restart succeeds. Uses a server of
# its own (instance 3: HTTP 8125, TCP 9002) under FOLDER, stopped by its process id at the end.
#   restart_session.sh VTQ FOLDER
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
vtq=$1
folder=$2
if ! command -v clickhouse-server > /dev/null; then
  echo "clickhouse-server is not installed: skipped"
  exit 77
fi
trap 'bash "$root/scripts/clickhouse-stop.sh" "$folder"' EXIT
bash "$root/scripts/clickhouse-start.sh" 3 "$folder" || exit 1
PORT=9002 bash "$root/examples/sales/load-clickhouse.sh" single || exit 1
sed 's|http://127.0.0.1:8123|http://127.0.0.1:8125|' "$root/examples/sales/sales.clickhouse.xml" > "$folder/sales.xml"

out=$(
  {
    printf 'move [Product] 0\nmove [Geography] 1\nlevel [Product] 1\nlevel [Geography] 1\nquery\n'
    sleep 2
    bash "$root/scripts/clickhouse-stop.sh" "$folder"
    # A changed view, so that the query reaches the server rather than the last result.
    printf 'level [Geography] 0\nquery\nlevel [Geography] 1\n'
    sleep 2
    bash "$root/scripts/clickhouse-start.sh" 3 "$folder" > /dev/null
    printf 'query\n'
  } | "$vtq" --cube "$folder/sales.xml" shell 2>&1
)
status=$?
echo "$out"
[ "$status" -eq 0 ] || { echo "FAIL: status $status"; exit 1; }
[ "$(grep -c '^error 0xC2032002: The server http://127.0.0.1:8125 (user default) cannot be reached for a grid query of cube' <<< "$out")" -eq 1 ] ||
  { echo "FAIL: no single 'cannot be reached' error for the query while the server was down"; exit 1; }
[ "$(grep -c '^Europe         5043528.5    582439.45   673605.2  3958196.15$' <<< "$out")" -eq 2 ] || { echo "FAIL: the grid before and after the restart"; exit 1; }
echo "passed"
