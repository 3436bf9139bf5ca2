#!/usr/bin/env bash
# Builds the extension with AddressSanitizer + UndefinedBehaviorSanitizer and
# runs the test suite against it.
#   tools/sanitize_test.sh [pytest arguments...]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build/asan"
"$here/tools/dev_build.sh" "$build" -DVONA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
asan=$(g++ -print-file-name=libasan.so)
ubsan=$(g++ -print-file-name=libubsan.so)
cd /tmp
# Python itself is not built with ASan: its allocator's leaks are not ours.
VONA_SANITIZER_RUN=1 \
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
LD_PRELOAD="$asan:$ubsan" \
PYTHONPATH="$build/python" \
  python3 -m pytest -q -p no:cacheprovider "$here/tests" "$@"
