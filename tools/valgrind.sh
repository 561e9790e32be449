#!/usr/bin/env bash
# Runs a short test suite under valgrind's memcheck against a debug build of the
# extension: invalid reads and writes, uses of uninitialised values, and blocks
# definitely lost all fail the run. The developer build in proofmark_core/ is
# left untouched.
#
# The interpreter must itself run clean under memcheck, so that every report is
# about this module: by default the distribution's /usr/bin/python3 (an
# interpreter whose own startup already draws reports is refused). The tests
# run in a virtual environment of it under build/, made on first use.
# Usage: tools/valgrind.sh [pytest args...]   (PYTHON=... picks the interpreter;
# arguments replace the suite below)
set -euo pipefail
cd "$(dirname "$0")/.."
base=${PYTHON:-/usr/bin/python3}
tag=$("$base" -c "import sys; print(sys.implementation.cache_tag)")
venv=build/valgrind-venv-$tag
[ -x "$venv/bin/python" ] || "$base" -m venv "$venv"
"$venv/bin/python" -c "import pytest, hypothesis" 2>/dev/null ||
  "$venv/bin/pip" install -q pytest hypothesis
py=$venv/bin/python
source tools/staged_build.sh

staged_build "build/valgrind-$tag" "-O1 -g -fno-omit-frame-pointer" ""

# A few minutes' worth: every function and every error path once, the callbacks
# that change things mid-call, deep nesting, the leak cases, and the turn engine
# on both its roads. Start-up runs
# in child interpreters, which are not traced; the generated inputs, the large
# ones and the full cross of hostile records are for tools/sanitize.sh.
suite=(tests/test_smoke.py tests/test_binding.py tests/test_verify_chain.py
       tests/test_verify_errors.py tests/test_verify_pools.py tests/test_example.py
       tests/test_hostile_midcall.py tests/test_hostile_large.py tests/test_leaks.py
       tests/test_turn.py::test_a_plain_turn_is_read_once_for_all_its_claims
       tests/test_turn.py::test_anything_else_goes_claim_by_claim
       tests/test_turn.py::test_the_first_claim_that_raises_decides_the_exception
       tests/test_turn.py::test_needles_beyond_one_automaton
       tests/test_turn.py::test_no_block_growth
       -m "not large")
[ $# -eq 0 ] || suite=("$@")

# The interpreter's allocator goes through malloc so that memcheck sees every
# block. What the interpreter and the C library are known to draw is listed,
# with the reason, in tools/valgrind-python.supp.
export PYTHONMALLOC=malloc PYTHONPATH="$STAGE"
check_staged_import
memcheck=(valgrind --tool=memcheck --error-exitcode=99 --leak-check=full
          --show-leak-kinds=definite --errors-for-leak-kinds=definite
          --suppressions=tools/valgrind-python.supp --num-callers=30)
"${memcheck[@]}" -q "$py" -P -c "import pytest, hypothesis" || {
  echo "$base draws memcheck reports of its own; pick a clean interpreter with PYTHON=..." >&2
  exit 1
}
"${memcheck[@]}" "$py" -P -m pytest -q -p no:cacheprovider "${suite[@]}"
