#!/usr/bin/env bash
# Test fixture: starts test servers 1 and 2 under FOLDER, loads the sample into them (database
# vtq_sales on server 1, vtq_cluster split over both) and writes FOLDER/sales.cluster.xml, the
# sample cube over the cluster. Without the server packages it says so and does nothing.
#   servers_up.sh FOLDER
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
folder=$1
if ! command -v clickhouse-server > /dev/null; then
  echo "clickhouse-server is not installed: the server provider's tests are skipped"
  exit 0
fi
mkdir -p "$folder"
bash "$root/scripts/clickhouse-start.sh" "1 2" "$folder"
bash "$root/examples/sales/load-clickhouse.sh" single
bash "$root/examples/sales/load-clickhouse.sh" cluster
sed 's/database="vtq_sales"/database="vtq_cluster"/' "$root/examples/sales/sales.clickhouse.xml" \
  > "$folder/sales.cluster.xml"
