#!/usr/bin/env bash
# Builds the native benchmark executables (not part of the wheel) into
# OUT_DIR (default /tmp/vona_bench), with the flags of a release build.
#   bench/build_native.sh [OUT_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-/tmp/vona_bench}
mkdir -p "$out"
${CXX:-g++} -std=c++20 -O3 -DNDEBUG -Wall -Wextra \
  -I "$root/support" -I "$root/vona-core/src" \
  "$root/bench/scanner_bench.cpp" "$root/vona-core/src/tokens.cpp" "$root/support/unicode_tables.cpp" \
  -o "$out/scanner_bench"
echo "$out/scanner_bench"
