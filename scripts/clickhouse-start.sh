#!/usr/bin/env bash
# Starts test servers on loopback: instance N listens on HTTP 8122+N and TCP 8999+N (instance 1:
# 8123 and 9000, instance 2: 8124 and 9001); every one knows the two-shard cluster
# "vtq_two_shards" of instances 1 and 2.
#   clickhouse-start.sh [INSTANCES] [FOLDER]     INSTANCES: default "1 2"
# Data, logs and process ids live under FOLDER (default: $VTQ_CLICKHOUSE_DIR or
# /tmp/vtq-clickhouse). Stop them with clickhouse-stop.sh FOLDER.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
instances=${1:-1 2}
base=${2:-${VTQ_CLICKHOUSE_DIR:-/tmp/vtq-clickhouse}}
[[ $instances =~ ^[0-9]+( [0-9]+)*$ ]] ||
  { echo "usage: clickhouse-start.sh [INSTANCES] [FOLDER]: instances are numbers, such as \"1 2\"" >&2; exit 2; }
command -v clickhouse-server >/dev/null || { echo "clickhouse-server is not installed" >&2; exit 3; }
mkdir -p "$base"
for i in $instances; do
  dir="$base/server$i"
  http=$((8122 + i)); tcp=$((8999 + i)); inter=$((9008 + i))
  if [ -f "$dir/pid" ] && kill -0 "$(cat "$dir/pid")" 2>/dev/null; then continue; fi
  mkdir -p "$dir/data" "$dir/tmp" "$dir/format_schemas"
  sed -e "s|@DIR@|$dir|g" -e "s|@CONFIG_DIR@|$here/clickhouse|g" -e "s|@HTTP_PORT@|$http|g" \
      -e "s|@TCP_PORT@|$tcp|g" -e "s|@INTERSERVER_PORT@|$inter|g" \
      "$here/clickhouse/server.xml.in" > "$dir/config.xml"
  clickhouse-server --config-file="$dir/config.xml" > "$dir/stdout.log" 2>&1 &
  echo $! > "$dir/pid"
done
for i in $instances; do
  http=$((8122 + i))
  for _ in $(seq 1 100); do
    if [ "$(curl -s "http://127.0.0.1:$http/?query=SELECT%201" 2>/dev/null)" = 1 ]; then break; fi
    sleep 0.1
  done
  if [ "$(curl -s "http://127.0.0.1:$http/?query=SELECT%201" 2>/dev/null)" != 1 ]; then
    echo "server $i did not answer on port $http; see $base/server$i/" >&2
    exit 1
  fi
done
