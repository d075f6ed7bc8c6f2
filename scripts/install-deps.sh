#!/usr/bin/env bash
# Installs the Debian packages that building, testing, benchmarking and fuzzing need.
# Idempotent: installs only what is missing and runs apt-get update once, only when it must.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libxerces-c-dev      # DOM behind XmlSupport
  bison                # both LALR(1) parsers, generated at build time
  uuid-dev             # GUID generation
  libcli11-dev         # argument parsing of the vtq tool
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev libfuzzer-14-dev
  libsqlite3-dev       # baseline of the query benchmark
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
