"""Runner summaries read from output written after each runner's documented format, and
runner commands recognised however they are launched."""

import pytest

from proofmark_core.claims.runners import invocations
from proofmark_core.rules.runner_summaries import read_summary

PYTEST_OK = ("collected 118 items\n\ntests/test_a.py ......\n\n"
             "================= 116 passed, 2 skipped in 3.21s =================\n")
GO_VERBOSE = ("=== RUN   TestA\n--- PASS: TestA (0.00s)\n=== RUN   TestB\n--- PASS: TestB (0.00s)\n"
              "PASS\nok  \texample.com/app\t0.010s\n")
CARGO_OK = ("running 12 tests\n............\ntest result: ok. 12 passed; 0 failed; 0 ignored; "
            "0 measured; 0 filtered out; finished in 0.01s\n\n   Doc-tests app\n\nrunning 3 tests\n"
            "test result: ok. 3 passed; 0 failed; 0 ignored; 0 measured; 0 filtered out; "
            "finished in 0.20s\n")
MAVEN_OK = ("[INFO] Tests run: 5, Failures: 0, Errors: 0, Skipped: 0, Time elapsed: 0.1 s - in a.AppTest\n"
            "[INFO] \n[INFO] Results:\n[INFO] \n[INFO] Tests run: 12, Failures: 0, Errors: 0, Skipped: 1\n"
            "[INFO] \n[INFO] BUILD SUCCESS\n")


# (runner, output, (passed, failed, skipped, total, ok)); None where the runner gives no count.
@pytest.mark.parametrize(("runner", "output", "expected"), [
    ("pytest", PYTEST_OK, (116, 0, 2, 118, True)),
    ("pytest", "FAILED tests/test_a.py::test_x - assert 1 == 2\n"
               "==== 1 failed, 11 passed, 1 error in 0.42s ====\n", (11, 2, 0, 13, False)),
    ("pytest", "collected 0 items\n\n==== no tests ran in 0.01s ====\n", (0, 0, 0, 0, False)),
    ("pytest", "11 passed, 1 skipped in 0.40s\n", (11, 0, 1, 12, True)),
    ("unittest", "....\n" + "-" * 70 + "\nRan 12 tests in 0.003s\n\nOK (skipped=2)\n",
     (10, 0, 2, 12, True)),
    ("unittest", "Ran 12 tests in 0.004s\n\nFAILED (failures=1, errors=1)\n", (10, 2, 0, 12, False)),
    ("unittest", "Ran 0 tests in 0.000s\n\nNO TESTS RAN\n", (0, 0, 0, 0, False)),
    ("jest", "Test Suites: 3 passed, 3 total\nTests:       42 passed, 42 total\nSnapshots:   0 total\n",
     (42, 0, 0, 42, True)),
    ("jest", "Tests:       1 failed, 2 skipped, 41 passed, 44 total\n", (41, 1, 2, 44, False)),
    ("jest", "No tests found, exiting with code 1\n", (0, 0, 0, 0, False)),
    ("vitest", " Test Files  4 passed (4)\n      Tests  41 passed (41)\n   Duration  1.20s\n",
     (41, 0, 0, 41, True)),
    ("vitest", " Test Files  1 failed | 3 passed (4)\n      Tests  1 failed | 40 passed (41)\n",
     (40, 1, 0, 41, False)),
    ("vitest", "No test files found, exiting with code 1\n", (0, 0, 0, 0, False)),
    ("mocha", "  12 passing (30ms)\n  2 pending\n  1 failing\n", (12, 1, 2, 15, False)),
    ("go test", "ok  \texample.com/app/api\t0.012s\nok  \texample.com/app/db\t0.020s\n"
                "?   \texample.com/app/cmd\t[no test files]\n", (None, 0, 0, None, True)),
    ("go test", GO_VERBOSE, (2, 0, 0, 2, True)),
    ("go test", "--- FAIL: TestB (0.00s)\n    b_test.go:9: got 1\nFAIL\nFAIL\texample.com/app\t0.011s\nFAIL\n",
     (0, 1, 0, 1, False)),
    ("go test", "?   \texample.com/app\t[no test files]\n", (0, 0, 0, 0, False)),
    ("cargo test", CARGO_OK, (15, 0, 0, 15, True)),
    ("cargo test", "test result: FAILED. 11 passed; 1 failed; 2 ignored; 0 measured; 0 filtered out; "
                   "finished in 0.01s\n", (11, 1, 2, 14, False)),
    ("cargo test", "running 0 tests\n\ntest result: ok. 0 passed; 0 failed; 0 ignored; 0 measured; "
                   "0 filtered out; finished in 0.00s\n", (0, 0, 0, 0, True)),
    ("cargo test", "error[E0425]: cannot find value `x`\nerror: could not compile `app` (lib test) "
                   "due to 1 previous error\n", (0, 0, 0, None, False)),
    ("cargo nextest", "     Summary [   0.012s] 12 tests run: 11 passed, 1 failed, 0 skipped\n",
     (11, 1, 0, 12, False)),
    ("mvn", MAVEN_OK, (11, 0, 1, 12, True)),
    ("mvn", "[ERROR] Tests run: 12, Failures: 1, Errors: 1, Skipped: 0\n[INFO] BUILD FAILURE\n",
     (10, 2, 0, 12, False)),
    ("mvn", "[INFO] No tests to run.\n[INFO] BUILD SUCCESS\n", (0, 0, 0, 0, True)),
    ("gradle", "> Task :app:test\n\nBUILD SUCCESSFUL in 4s\n5 actionable tasks: 5 executed\n",
     (None, 0, 0, None, True)),
    ("gradle", "AppTest > adds() FAILED\n\n12 tests completed, 1 failed, 2 skipped\n\n"
               "FAILURE: Build failed with an exception.\n\nBUILD FAILED in 3s\n", (9, 1, 2, 12, False)),
    ("dotnet test", "Passed!  - Failed:     0, Passed:    25, Skipped:     0, Total:    25, "
                    "Duration: 1 s - App.Tests.dll (net8.0)\n", (25, 0, 0, 25, True)),
    ("dotnet test", "Failed!  - Failed:     1, Passed:    24, Skipped:     0, Total:    25, "
                    "Duration: 1 s - App.Tests.dll (net8.0)\n", (24, 1, 0, 25, False)),
    ("dotnet test", "Test summary: total: 25, failed: 0, succeeded: 25, skipped: 0, duration: 1.2s\n",
     (25, 0, 0, 25, True)),
    ("dotnet test", "No test is available in /src/App.Tests/bin/App.Tests.dll.\n", (0, 0, 0, 0, False)),
    ("rspec", "Finished in 0.02 seconds (files took 0.1 seconds to load)\n12 examples, 0 failures, 2 pending\n",
     (10, 0, 2, 12, True)),
    ("rspec", "12 examples, 1 failure\n\nFailed examples:\n\nrspec ./spec/a_spec.rb:4 # A works\n",
     (11, 1, 0, 12, False)),
    ("rspec", "0 examples, 0 failures\n", (0, 0, 0, 0, False)),
    ("phpunit", "............\n\nOK (12 tests, 30 assertions)\n", (12, 0, 0, 12, True)),
    ("phpunit", "FAILURES!\nTests: 12, Assertions: 30, Failures: 1, Skipped: 2.\n", (9, 1, 2, 12, False)),
    ("phpunit", "No tests executed!\n", (0, 0, 0, 0, False)),
    ("ctest", "100% tests passed, 0 tests failed out of 12\n\nTotal Test time (real) =   0.05 sec\n",
     (12, 0, 0, 12, True)),
    ("ctest", "83% tests passed, 2 tests failed out of 12\n", (10, 2, 0, 12, False)),
    ("ctest", "No tests were found!!!\n", (0, 0, 0, 0, False)),
    ("mix test", "Finished in 0.5 seconds (0.1s async, 0.4s sync)\n14 doctests, 389 tests, 0 failures\n",
     (403, 0, 0, 403, True)),
    ("mix test", "3 doctests, 10 tests, 2 failures, 1 skipped\n", (10, 2, 1, 13, False)),
    ("mix test", "0 tests, 0 failures\n", (0, 0, 0, 0, False)),
    ("deno test", "ok | 12 passed (3 steps) | 0 failed | 2 ignored (45ms)\n", (12, 0, 2, 14, True)),
    ("deno test", "FAILED | 11 passed | 1 failed (50ms)\n", (11, 1, 0, 12, False)),
    ("deno test", "error: No test modules found\n", (0, 0, 0, 0, False)),
    ("bun test", " 12 pass\n 0 fail\n 30 expect() calls\nRan 12 tests across 3 files. [50.00ms]\n",
     (12, 0, 0, 12, True)),
    ("bun test", " 11 pass\n 1 fail\n", (11, 1, 0, 12, False)),
    ("unit_tests", "[==========] 12 tests from 3 test suites ran. (5 ms total)\n[  PASSED  ] 12 tests.\n",
     (12, 0, 0, 12, True)),
    ("unit_tests", "[  PASSED  ] 11 tests.\n[  FAILED  ] 1 test, listed below:\n[  FAILED  ] A.B\n",
     (11, 1, 0, 12, False)),
    ("unit_tests", "All tests passed (30 assertions in 12 test cases)\n", (12, 0, 0, 12, True)),
    ("unit_tests", "test cases: 12 | 11 passed | 1 failed\nassertions: 30 | 29 passed | 1 failed\n",
     (11, 1, 0, 12, False)),
    ("tox", "11 passed in 0.4s\n  py311: OK (3.20=setup[0.5]+cmd[2.7] seconds)\n  congratulations :)\n",
     (11, 0, 0, 11, True)),
    ("tox", "1 failed, 10 passed in 0.4s\n  py311: FAIL code 1 (2.1 seconds)\n", (10, 1, 0, 11, False)),
])
def test_test_summaries(runner, output, expected):
    summary = read_summary(runner, output, tests=True)
    assert summary is not None
    assert (summary.passed, summary.failed, summary.skipped, summary.total, summary.ok) == expected


@pytest.mark.parametrize(("output", "ok"), [
    ("Success: no issues found in 12 source files\n", True),                   # mypy
    ("src/a.py:3: error: Name \"x\" is not defined\nFound 3 errors in 2 files "
     "(checked 12 source files)\n", False),
    ("0 errors, 0 warnings, 0 informations \n", True),                          # pyright
    ("2 errors, 0 warnings, 0 informations \n", False),
    ("All checks passed!\n", True),                                             # ruff
    ("Found 3 errors.\n[*] 2 fixable with the `--fix` option.\n", False),
    ("2 files would be reformatted, 5 files already formatted\n", False),
    ("\u2716 3 problems (2 errors, 1 warning)\n", False),                        # eslint
    ("\u2716 1 problem (0 errors, 1 warning)\n", True),
    ("src/a.ts(3,5): error TS2322: Type 'string' is not assignable\n\nFound 1 error in src/a.ts:3\n",
     False),                                                                    # tsc
    ("Analysis took 0.3 seconds\n123 mods/funs, found no issues.\n", True),      # credo
    ("123 mods/funs, found 2 refactoring opportunities, 1 warning.\n", False),
    ("BUILD SUCCESSFUL in 4s\n", True), ("BUILD FAILED in 3s\n", False),         # gradle
    ("[INFO] BUILD SUCCESS\n", True), ("[INFO] BUILD FAILURE\n", False),         # maven
    ("Build succeeded.\n    0 Warning(s)\n    0 Error(s)\n", True),               # dotnet
    ("make: *** [Makefile:12: all] Error 2\n", False),
    ("Output written on paper.pdf (24 pages, 412474 bytes).\n", None),          # LaTeX: after errors too
])
def test_status_lines(output, ok):
    summary = read_summary("any", output, tests=False)
    assert summary is not None and summary.ok is ok


def test_no_summary_is_none():
    assert read_summary("pytest", "ImportError: no module named app\n", tests=True) is None
    assert read_summary("eslint", "", tests=False) is None


def test_colour_codes_are_ignored():
    summary = read_summary("pytest", "\x1b[32m==== \x1b[1m5 passed\x1b[0m\x1b[32m in 0.1s ====\x1b[0m\n",
                           tests=True)
    assert summary is not None and summary.passed == 5


# (command, runners it starts, whether the command's exit code is the first one's own)
@pytest.mark.parametrize(("command", "runners", "exit_is_its"), [
    ("pytest -q", ["pytest"], True),
    ("cd app && CI=1 uv run python -m pytest -q tests/", ["pytest"], True),
    ("pytest -q | tail -5", ["pytest"], False),
    ("pytest -q 2>&1", ["pytest"], True),
    ("python -m pytest; echo $?", ["pytest"], False),
    ("pytest || true", ["pytest"], False),
    ("bash -lc 'timeout 600 npm test'", ["npm test"], True),
    ("npx jest --ci", ["jest"], True),
    ("pnpm run test:unit", ["pnpm run test:unit"], True),
    ("./gradlew.bat check", ["gradle"], True),
    ("./mvnw -q verify", ["mvn"], True),
    ("go test ./...", ["go test"], True),
    ("cargo nextest run", ["cargo nextest"], True),
    ("python3 -m unittest discover -v", ["unittest"], True),
    ("make -C build test", ["make test"], True),
    ("bundle exec rspec spec/a_spec.rb", ["rspec"], True),
    ("vendor/bin/phpunit", ["phpunit"], True),
    ("mix test && mix credo --strict", ["mix test", "mix credo"], False),
    ("./tests/backend_tests", ["backend_tests"], True),
    ("python tests/runtests.py aggregation", ["runtests.py"], True),
    ("poetry run mypy src", ["mypy"], True),
    ("npx tsc --noEmit", ["tsc"], True),
    ("dotnet test", ["dotnet test"], True),
    ("deno test -A", ["deno test"], True),
    ("cat <<'EOF' > run.sh\npytest -q\nEOF", [], False),
    ("echo 'int main() {\n  return 0;\n}' > unit_test.c && make", ["make"], True),
    ("# don't run pytest here\nmake test", ["make test"], True),
    ("pytest\necho done", ["pytest"], False),
    ("npm install", [], False),
    ("git commit -m 'run the tests'", [], False),
    ("echo pytest", [], False),
    ("./latest_build", [], False),
    ("python reproduce.py", [], False),
])
def test_runner_commands(command, runners, exit_is_its):
    found = invocations(command)
    assert [invocation.runner for invocation in found] == runners
    if found:
        assert found[0].exit_is_its is exit_is_its


def test_echo_idiom_is_read():
    found = invocations('pdflatex paper.tex && echo "built" || echo "Still has errors"')
    assert found[0].echoes == ("built", "Still has errors")
