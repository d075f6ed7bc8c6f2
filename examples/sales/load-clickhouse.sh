#!/usr/bin/env bash
# Loads the sample CSV tables into running servers (see scripts/clickhouse-start.sh).
#   load-clickhouse.sh single  - database vtq_sales on the server at TCP port 9000 (or PORT)
#   load-clickhouse.sh cluster - database vtq_cluster on the servers at TCP ports 9000 and 9001:
#                                the facts split between them (facts_local on each), a
#                                Distributed table "facts" over both and the dimension tables on
#                                the first
# CSV_DIR (default: this folder) may name another folder holding the same five tables.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
csv=${CSV_DIR:-$here}
mode=${1:-single}
client() { local port=$1; shift; clickhouse-client --host 127.0.0.1 --port "$port" "$@"; }

# Members take the order in which the server returns the rows of a dimension table: TinyLog
# tables return them as they were inserted, the order of the CSV files.
dimension_tables() {
  local port=$1 db=$2
  client "$port" --query "CREATE TABLE $db.months (month String, year String, quarter String,
    month_name String, fiscal_year String, fiscal_quarter String, days String) ENGINE = TinyLog"
  client "$port" --query "CREATE TABLE $db.products (item String, subcategory String, category String)
    ENGINE = TinyLog"
  client "$port" --query "CREATE TABLE $db.cities (city String, country String, region String)
    ENGINE = TinyLog"
  for t in months products cities; do
    client "$port" --query "INSERT INTO $db.$t FORMAT CSVWithNames" < "$csv/$t.csv"
  done
}

facts_table() {
  local port=$1 db=$2 name=$3
  client "$port" --query "CREATE TABLE $db.$name (month String, item String, city String,
    sales Float64, quantity Float64, cost Float64) ENGINE = MergeTree ORDER BY (month, item, city)"
}

case "$mode" in
  single)
    port=${PORT:-9000}
    client "$port" --query "DROP DATABASE IF EXISTS vtq_sales"
    client "$port" --query "CREATE DATABASE vtq_sales"
    dimension_tables "$port" vtq_sales
    facts_table "$port" vtq_sales facts
    client "$port" --query "INSERT INTO vtq_sales.facts FORMAT CSVWithNames" < "$csv/facts.csv"
    ;;
  cluster)
    for port in 9000 9001; do
      client "$port" --query "DROP DATABASE IF EXISTS vtq_cluster"
      client "$port" --query "CREATE DATABASE vtq_cluster"
      facts_table "$port" vtq_cluster facts_local
    done
    dimension_tables 9000 vtq_cluster
    client 9000 --query "CREATE TABLE vtq_cluster.facts AS vtq_cluster.facts_local
      ENGINE = Distributed(vtq_two_shards, vtq_cluster, facts_local)"
    # Odd records to the first shard, even ones to the second.
    { head -n 1 "$csv/facts.csv"; awk 'NR > 1 && NR % 2 == 0' "$csv/facts.csv"; } |
      client 9000 --query "INSERT INTO vtq_cluster.facts_local FORMAT CSVWithNames"
    { head -n 1 "$csv/facts.csv"; awk 'NR > 1 && NR % 2 == 1' "$csv/facts.csv"; } |
      client 9001 --query "INSERT INTO vtq_cluster.facts_local FORMAT CSVWithNames"
    ;;
  *) echo "usage: $0 single|cluster" >&2; exit 1 ;;
esac
