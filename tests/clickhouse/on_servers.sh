#!/usr/bin/env bash
# Runs a command that needs the fixture's servers; exits 77 (skipped) without the server
# packages.
#   on_servers.sh COMMAND ARGUMENTS...
if ! command -v clickhouse-server > /dev/null; then
  echo "clickhouse-server is not installed: skipped"
  exit 77
fi
exec bash "$@"
