"""Claims of passing tests, builds, lint and type checks judged by the session's runs."""

import re

import pytest
from hypothesis import given
from hypothesis import strategies as st

from proofmark_core.api import ClaimResult
from proofmark_core.claims import extract_claims
from proofmark_core.rules.context import Session
from proofmark_core.claims.test_results import read_test_claim
from proofmark_core.rules.test_results import _naming, judge_test_claim


def run(command, output="", exit_code=0):
    return {"command": command, "exit_code": exit_code, "output": output}


def turn(*commands, written=()):
    return {"events": [], "external": [], "written": list(written), "commands": list(commands)}


def judged(text, *turns, targets=(), verdict="unchecked", first=0):
    engine = ClaimResult(verdict, "nothing literal to check",
                         {"kind": "other", "text": text, "targets": list(targets)})
    return judge_test_claim(Session(tuple(turns), first=first), engine)


@pytest.mark.parametrize(("text", "kinds", "count"), [
    ("All 116 tests passed.", {"tests"}, 116),
    ("Ran `pytest -q`: all 12 tests pass", {"tests"}, 12),
    ("116 passed, 2 skipped", {"tests"}, 116),
    ("The suite is green.", {"tests"}, None),
    ("Tests are passing now.", {"tests"}, None),
    ("0 failures", {"tests"}, None),
    ("All 12 specs pass.", {"tests"}, 12),
    ("12/12 tests pass", {"tests"}, 12),
    ("389 tests passing, credo clean", {"tests", "lint"}, 389),
    ("Build succeeded.", {"build"}, None),
    ("Lint is clean.", {"lint"}, None),
    ("No type errors.", {"types"}, None),
    ("Ran `mypy src`: no issues.", {"types"}, None),
    ("`utils_tests.test_html` passed.", {"tests"}, None),
    ("测试全部通过", {"tests"}, None),
    ("所有 12 个测试都通过了", {"tests"}, 12),
    ("テストはすべて成功しました", {"tests"}, None),
    ("12개 테스트 모두 통과", {"tests"}, 12),
    ("Todas las pruebas pasan.", {"tests"}, None),
    ("Alle 12 Tests bestanden.", {"tests"}, 12),
    ("Tous les tests passent.", {"tests"}, None),
    ("Todos os testes passaram.", {"tests"}, None),
    ("Все 12 тестов прошли.", {"tests"}, 12),
    ("构建成功", {"build"}, None),
    ("没有类型错误", {"types"}, None),
    ("Fixed the failing test; all 12 tests pass now.", {"tests"}, 12),
    ("14 doctests, 65 tests, 0 failures", {"tests"}, 65),
    ("Verified that all tests pass.", {"tests"}, None),
])
def test_claims_of_passing_checks(text, kinds, count):
    claim = read_test_claim(text, [])
    assert claim is not None and claim.kinds == kinds and claim.count == count


@pytest.mark.parametrize("text", [
    "We should run the tests.",
    "I'll run the tests next.",
    "Tests should pass now.",
    "All tests pass except one unrelated failure.",
    "3 tests fail on main too.",
    "The tests did not pass.",
    "Run `pytest -q` to check.",
    "If the build succeeds, deploy it.",
    "The test passes `None` to the parser.",
    "Most tests are skipped because `bs4` is missing.",
    "Updated `src/app.py`.",
    "I've created a benchmark suite for the library!",
    "Some tests pass.",
    "| 5 | Run linting | ⏳ Todo | Ensure code passes make lint |",
    "Ensure lint passes before merging.",
    "Test utilities and examples for the useTodos hook",
    "This hook verifies that all unit tests pass before the agent stops.",
    "The build script passes `--release` to cargo.",
    "However, looking at the layout, `tests/` is a separate folder.",
    "测试失败了",
    "Los tests no pasan.",
])
def test_not_claims_of_passing_checks(text):
    assert read_test_claim(text, []) is None


@pytest.mark.parametrize(("text", "kinds", "count"), [
    # a reason clause reports the result; the hedge or denial of the rest is not said of it
    ("It's not needed anymore since the full suite (87 tests, 0 failures) already passed.",
     {"tests"}, 87),
    ("Since `migrations` tests passed, my change didn't break them.", {"tests"}, None),
    ("No changes needed, because lint is clean.", {"lint"}, None),
    # a result hedged or denied in the clause itself, or also reported in the rest
    ("Tests should pass since I fixed the import.", None, None),
    ("The fix is not complete, since the tests still fail.", None, None),
    ("Since tests would pass anyway, I stopped.", None, None),
])
def test_a_reason_clause_reports_its_own_result(text, kinds, count):
    claim = read_test_claim(text, [])
    assert (claim and claim.kinds, claim and claim.count) == (kinds, count)


def test_counts_of_some_tests_are_told_apart():
    assert read_test_claim("The GPU tests run and the first two pass successfully.", []).part
    assert read_test_claim("All 15 SessionLive tests pass", []).part
    assert read_test_claim("Added 3 new tests, all passing", []).part
    assert not read_test_claim("All 12 unit tests pass", []).part


PYTEST_11_1 = "...........s\n11 passed, 1 skipped in 0.40s\n"


# (claim, runs of the turn, verdict, words the evidence must hold)
@pytest.mark.parametrize(("text", "commands", "verdict", "evidence"), [
    ("All 116 tests passed.", [run("pytest", "116 passed, 2 skipped in 3.2s\n")],
     "verified", "`pytest`: 116 passed, 2 skipped in 3.2s"),
    ("Ran `pytest -q`: all 12 tests pass", [run("pytest -q", PYTEST_11_1)],
     "contradicted", "`pytest -q`: 11 passed, 1 skipped in 0.40s; the claim says 12"),
    ("All tests pass.", [run("pytest -q", PYTEST_11_1)], "verified", "11 passed, 1 skipped"),
    ("All tests pass.", [run("npm test", "Tests:       1 failed, 41 passed, 42 total\n", 1)],
     "contradicted", "1 failed, 41 passed, 42 total; it failed"),
    ("All tests pass.", [run("pytest", "no tests ran in 0.01s\n", 5)],
     "contradicted", "it ran no tests"),
    ("All tests pass.", [run("cargo test", "running 0 tests\n\ntest result: ok. 0 passed; 0 failed; "
                                           "0 ignored; 0 measured; 0 filtered out\n")],
     "contradicted", "it ran no tests"),
    ("All tests pass.", [run("ls")], "unverified", "no test run in this session"),
    ("11 passed", [run("python reproduce.py", "ok\n")], "unverified", "no test run"),
    # The last run decides.
    ("All tests pass.", [run("pytest", "1 failed, 11 passed in 0.4s\n", 1),
                         run("pytest", "12 passed in 0.4s\n")], "verified", "12 passed"),
    ("All tests pass.", [run("pytest", "12 passed in 0.4s\n"),
                         run("pytest tests/test_a.py", "1 failed in 0.1s\n", 1)],
     "contradicted", "`pytest tests/test_a.py`: 1 failed"),
    # Without a summary, the exit code decides, when it is the runner's.
    ("Tests are running: both backend tests and unified tests execute successfully",
     [run("./tests/backend_tests", "Segmentation fault (core dumped)\n", 139),
      run("./tests/unified_tests", "5 TEST(S) FAILED\n", 1)], "contradicted", "exit 1"),
    ("The build succeeded.", [run("make", "cc -o app main.c\n")], "verified", "`make`: exit 0"),
    ("The build succeeded.", [run("npm run build 2>&1 | tail -3", "ERROR in src/a.ts\n", 0),
                              run("npm run build && echo OK || echo BROKEN", "BROKEN\n", 0)],
     "contradicted", 'it printed "BROKEN"'),
    ("Ran `mypy src`: no issues.", [run("mypy src", "Success: no issues found in 3 source files\n")],
     "verified", "Success: no issues found"),
    ("Ran `mypy src` and it is clean",
     [run("mypy src", "Found 1 error in 1 file (checked 3 source files)\n", 1)],
     "contradicted", "type check `mypy src`: Found 1 error in 1 file (checked 3 source files); it failed"),
    ("389 tests passing, credo clean",
     [run("mix test", "14 doctests, 389 tests, 0 failures\n"),
      run("mix credo", "123 mods/funs, found no issues.\n")], "verified", "found no issues"),
    ("389 tests passing, credo clean",
     [run("mix test", "14 doctests, 389 tests, 0 failures\n"),
      run("mix credo", "123 mods/funs, found 2 warnings.\n", 2)],
     "contradicted", "lint run `mix credo`: 123 mods/funs, found 2 warnings.; it failed"),
    ("All 157 tests pass.",
     [run("mix test", "14 doctests, 127 tests, 0 failures\n"),
      run("npx vitest run", "      Tests  16 passed (16)\n")], "verified", "= 157 passed"),
    ("All 8 tests pass.", [run("mix test test/a_test.exs", "8 tests, 0 failures\n"),
                           run("mix test", "14 doctests, 87 tests, 0 failures\n")],
     "verified", "`mix test test/a_test.exs`: 8 tests, 0 failures; the last, `mix test`, passed too"),
    ("All 8 tests pass.", [run("mix test test/a_test.exs", "8 tests, 0 failures\n"),
                           run("mix test test/a_test.exs", "1 test, 1 failure\n", 2),
                           run("mix test", "14 doctests, 87 tests, 0 failures\n")],
     "contradicted", "the claim says 8"),
    ("All 15 SessionLive tests pass.",
     [run("mix test test/app_web/live/session_live_test.exs", "15 tests, 0 failures\n")],
     "verified", "15 tests, 0 failures"),
    ("All 15 SessionLive tests pass.", [run("mix test", "389 tests, 0 failures\n")],
     "verified", "the claim's 15 are some of them"),
    ("`aggregation` tests passed.",
     [run("python tests/runtests.py aggregation", "Ran 72 tests in 1.2s\n\nOK\n"),
      run("python tests/runtests.py aggregation_regress", "Ran 63 tests in 1.1s\n\nFAILED (failures=1)\n", 1)],
     "verified", "runtests.py aggregation`: Ran 72 tests; OK"),
    # An ad hoc script counts when it prints a summary, or when the claim names it.
    ("All tests pass.", [run("pytest", "1 failed, 3 passed in 0.1s\n", 1),
                         run("python test_fix.py", "it works\n")], "contradicted", "1 failed"),
    ("I ran `test_fix.py` and it passed.", [run("python test_fix.py", "it works\n")],
     "verified", "exit 0"),
])
def test_verdicts(text, commands, verdict, evidence):
    result = judged(text, turn(*commands))
    assert result is not None
    assert (result.verdict, evidence in result.evidence) == (verdict, True), result.evidence


LATEX_WITH_ERRORS = ("! Missing $ inserted.\nOutput written on paper.pdf (24 pages, 412474 bytes).\n"
                     "Transcript written on paper.log.\n")


@pytest.mark.parametrize(("text", "commands", "verdict", "evidence"), [
    # pdflatex writes its PDF after errors too: the exit code or the echo decides
    ("Paper compiles cleanly.", [run("pdflatex -interaction=nonstopmode paper.tex", LATEX_WITH_ERRORS, 1)],
     "contradicted", "exit 1"),
    ("Paper compiled successfully!",
     [run('pdflatex paper.tex && echo "PDF generated!" || echo "Still has errors"',
          LATEX_WITH_ERRORS + "Still has errors\n")], "contradicted", 'printed "Still has errors"'),
    ("Paper compiled successfully!", [run("pdflatex paper.tex", "Output written on paper.pdf (3 pages).\n")],
     "verified", "exit 0"),
])
def test_a_written_pdf_is_no_passing_build(text, commands, verdict, evidence):
    result = judged(text, turn(*commands))
    assert result is not None
    assert (result.verdict, evidence in result.evidence) == (verdict, True), result.evidence


@pytest.mark.parametrize(("text", "commands"), [
    ("All tests pass.", [run("pytest | head -20", "tests/test_a.py ....", 0)]),   # cut, and head's exit
    ("All tests pass.", [run("pytest", "tests/test_a.py ....", None)]),          # no exit code recorded
    ("Ran `npm test`: all pass.", [run("pytest", "3 passed in 0.1s\n")]),        # npm test never ran
    ("`test_parse` passes.", [run("pytest tests/test_other.py", "3 passed in 0.1s\n")]),
    ("Updated `src/app.py`.", [run("pytest", "3 passed in 0.1s\n")]),
    ("The login test now passes.", [run("pytest", "1 failed, 40 passed in 0.4s\n", 1)]),  # one of 40?
])
def test_runs_that_cannot_tell_leave_the_engine_verdict(text, commands):
    assert judged(text, turn(*commands)) is None


def test_an_earlier_turn_decides_when_this_one_ran_nothing():
    earlier = turn(run("pytest", "12 passed in 0.4s\n"))
    result = judged("All 12 tests pass.", turn(), turn(), earlier, turn(run("ls")), first=2)
    assert result.verdict == "verified"
    assert result.evidence.startswith("turn 4: test run `pytest`: 12 passed")


def test_this_turn_before_earlier_ones():
    result = judged("All tests pass.", turn(run("pytest", "12 passed in 0.4s\n")),
                    turn(run("pytest", "1 failed, 11 passed in 0.4s\n", 1)))
    assert result.verdict == "contradicted" and not result.evidence.startswith("turn")


def test_tests_edited_in_the_turn_are_named_without_changing_the_verdict():
    commands = [run("pytest", "12 passed in 0.4s\n")]
    plain = judged("All tests pass.", turn(*commands, written=["src/app.py"]))
    edited = judged("All tests pass.", turn(*commands, written=["src/app.py", "tests/test_app.py",
                                                                 "web/app.spec.ts", "pkg/a_test.go"]))
    assert plain.verdict == edited.verdict == "verified"
    assert "tests edited" not in plain.evidence
    assert edited.evidence.endswith(
        "tests edited in this turn: `tests/test_app.py`, `web/app.spec.ts`, `pkg/a_test.go`")


def test_the_engine_verdict_is_kept_and_the_run_reported():
    result = judged("Ran `pytest -q`: all 12 tests pass", turn(run("pytest -q", PYTEST_11_1)),
                    targets=["pytest -q"], verdict="verified")
    assert (result.engine_verdict, result.engine_evidence) == ("verified", "nothing literal to check")
    assert result.tests == {"runner": "pytest", "passed": 11, "failed": 0, "skipped": 1,
                            "total": 12, "exit_code": 0}


def test_runs_added_up_are_reported_summed():
    result = judged("All 157 tests pass.", turn(run("mix test", "14 doctests, 127 tests, 0 failures\n"),
                                                run("npx vitest run", "      Tests  16 passed (16)\n")))
    assert result.tests == {"runner": "mix test + vitest", "passed": 157, "failed": 0,
                            "skipped": 0, "total": 157, "exit_code": 0}


@pytest.mark.parametrize(("message", "kept"), [
    ("The suite is green.", True),
    ("389 tests passing, credo clean.", True),
    ("No type errors.", True),
    ("テストはすべて成功しました。", True),
    ("Tests should pass now.", False),
    ("Next steps:\n- make sure the suite is green", False),
])
def test_extraction_keeps_reports_of_passing_checks(message, kept):
    assert bool(extract_claims([message])) is kept


@given(st.lists(st.text(alphabet="aB./\\-_ ", min_size=1, max_size=5), min_size=1, max_size=3),
       st.text(alphabet="abAB./\\-_ \n", max_size=30))
def test_a_named_target_is_found_where_a_look_before_every_spelling_finds_it(scope, line):
    spellings = set()
    for target in scope:
        target = target.strip().removeprefix("./").rstrip("/").replace("\\", "/")
        spellings |= {target, target.replace(".", "/"), target.replace("/", "."),
                      target.replace("/", "\\")} - {""}
    words = "|".join(map(re.escape, sorted(spellings, key=len, reverse=True)))
    looked_before = re.compile(rf"(?<![\w-])(?:{words})(?![\w-])" if words else r"(?!)",
                               re.IGNORECASE)
    assert (_naming(tuple(scope)).search(line) is None) == (looked_before.search(line) is None)
