#!/usr/bin/env bash
# Builds the extension with AddressSanitizer and UndefinedBehaviorSanitizer into
# the checkout and runs the test suite under them. Any report fails the run.
# Usage: tools/sanitize.sh [pytest args...]
set -euo pipefail
cd "$(dirname "$0")/.."
py=${PYTHON:-python3}
build=build/sanitize

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DPython_EXECUTABLE="$(command -v "$py")" \
  -DCMAKE_CXX_FLAGS="-O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$build"

asan=$(g++ -print-file-name=libasan.so)
ubsan=$(g++ -print-file-name=libubsan.so)
# The interpreter itself is not instrumented: its allocator goes through malloc so
# that ASan sees every block, and leaks at interpreter exit are not ours to report.
LD_PRELOAD="$asan:$ubsan" PYTHONMALLOC=malloc \
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$py" -m pytest -q -p no:cacheprovider "$@"
