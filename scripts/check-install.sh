#!/usr/bin/env bash
# Installs the built library into a temporary prefix and builds examples/api against it twice,
# through the CMake package and through pkg-config, then runs both programs on the installed
# sample cube. Usage: scripts/check-install.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/prefix"

cmake --install "$build" --prefix "$prefix" > /dev/null
cube="$prefix/share/vtq/examples/sales/sales.cube.xml"

cmake -S examples/api -B "$scratch/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" > /dev/null
cmake --build "$scratch/cmake" > /dev/null
echo "== examples/api through find_package"
"$scratch/cmake/query_sales" "$cube" | tee "$scratch/cmake.out"

export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
libdir=$(pkg-config --variable=libdir vtq_common)
c++ -std=c++20 examples/api/query_sales.cpp -o "$scratch/query_sales" \
  $(pkg-config --cflags --libs vtq_common) -lvtq_provider_memory -Wl,-rpath,"$libdir"
echo "== examples/api through pkg-config"
"$scratch/query_sales" "$cube" > "$scratch/pkgconfig.out"
cmp "$scratch/cmake.out" "$scratch/pkgconfig.out"
echo "both builds print the same grid"
