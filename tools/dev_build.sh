#!/usr/bin/env bash
# Development build without installing: configures and builds into BUILD_DIR
# (default: build/dev) and stages an importable package in BUILD_DIR/python.
#   tools/dev_build.sh [BUILD_DIR] [extra cmake arguments...]
#   PYTHONPATH=BUILD_DIR/python pytest tests/...
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/dev}
shift || true
launcher=()
if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S "$here" -B "$build" -G Ninja -DPython_EXECUTABLE="$(command -v python3)" "${launcher[@]}" "$@" >/dev/null
cmake --build "$build"
stage="$build/python/vona_tokenizer"
mkdir -p "$stage"
for f in "$here"/vona_tokenizer/*; do
  [ -e "$stage/$(basename "$f")" ] || ln -s "$f" "$stage/"
done
cp -f "$build"/_accel*.so "$stage/"
echo "staged: $build/python"
