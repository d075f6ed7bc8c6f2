#!/usr/bin/env bash
# Installs the Debian packages the project needs. Without arguments: what building and running
# the library and the vtq tool take. With --dev: also what tests, benchmarks, sanitizers and
# fuzzing add. Idempotent: installs only what is missing and runs apt-get update only when it must.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libxerces-c-dev      # DOM behind XmlSupport
  bison                # both LALR(1) parsers, generated at build time
  uuid-dev             # GUID generation
  libcli11-dev         # argument parsing of the vtq tool
  libcurl4-openssl-dev # HTTP of the server-backed provider
)
dev_packages=(
  libgtest-dev libgmock-dev   # test suites
  libbenchmark-dev            # benchmarks
  libsqlite3-dev              # baseline of the query benchmark
  clang libclang-rt-14-dev    # sanitizer builds
  libfuzzer-14-dev            # fuzz targets
  clickhouse-server clickhouse-client  # the server-backed provider's tests and benchmark
)

case "${1:-}" in
  "") ;;
  --dev) packages+=("${dev_packages[@]}") ;;
  *) echo "usage: $0 [--dev]" >&2; exit 1 ;;
esac

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
