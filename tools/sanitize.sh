#!/usr/bin/env bash
# Builds the extension with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs the test suite against that build. Any report fails the run. The
# developer build in proofmark_core/ is left untouched.
# Usage: tools/sanitize.sh [pytest args...]   (PYTHON=... picks the interpreter)
set -euo pipefail
cd "$(dirname "$0")/.."
py=${PYTHON:-python3}
source tools/staged_build.sh

staged_build "build/sanitize-$("$py" -c "import sys; print(sys.implementation.cache_tag)")" \
  "-O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=undefined" \
  "-fsanitize=address,undefined"

asan=$(g++ -print-file-name=libasan.so)
ubsan=$(g++ -print-file-name=libubsan.so)
# The interpreter itself is not instrumented: its allocator goes through malloc so
# that ASan sees every block, and leaks at interpreter exit are not ours to report
# (tests/test_leaks.py and tools/valgrind.sh look for ours).
export LD_PRELOAD="$asan:$ubsan" PYTHONMALLOC=malloc PYTHONPATH="$STAGE" \
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
check_staged_import
"$py" -P -m pytest -q -p no:cacheprovider "$@"
