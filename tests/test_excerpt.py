"""Excerpts of the run log where a verdict's evidence points, judged by the engine's
own evidence lines."""

import pytest

from proofmark_core.api import check_claim
from proofmark_core.run.evidence import Match, matches
from proofmark_core.run.excerpts import MAX_CHARS, excerpt
from runlogs import claim, event, ran, read, run_log, wrote

LINES = "".join(f"line {n}\n" for n in range(20))
LONG_LINE = "x" * 5000 + " MAX_RETRIES = 5 " + "y" * 5000
TERMINAL = "terminal"


def shell(line, output):
    return event(TERMINAL, command=line, output=output)


CASES = {
    "a write, with a line on each side": (
        run_log([wrote(LINES.replace("line 9\n", "TIMEOUT = 30\n"))]),
        claim("file_changed", "Set `TIMEOUT = 30`", "TIMEOUT = 30"),
        "verified", ["write_file wrote:", "\u2026\nline 8\nTIMEOUT = 30\nline 10\n\u2026"]),
    "a failed command and the end of its own output": (
        run_log([shell("pytest -q", LINES + "2 failed")], [ran("pytest -q", 2)]),
        claim("command_ran", "Ran `pytest -q`", "pytest -q"),
        "contradicted", ["command, exit 2:\npytest -q\n\u2026\nline 18\nline 19\n2 failed"]),
    "the successful run among failed ones": (
        run_log([shell("pytest -q", "1 failed"), shell("pytest -q", "3 passed")],
                [ran("pytest -q", 1), ran("pytest -q", 0)]),
        claim("command_ran", "Ran `pytest -q`", "pytest -q"),
        "verified", ["command, exit 0:\npytest -q\n3 passed"]),
    "a long output line, cut around the literal": (
        run_log([shell("python show.py", LONG_LINE)]),
        claim("other", "It prints `MAX_RETRIES = 5`", "MAX_RETRIES = 5"),
        "verified", ["output of `python show.py`:\n\u2026", "MAX_RETRIES = 5"]),
    "an external action, any script kept": (
        run_log(external=[{"channel": "#releases", "text": "リリース 2.0"}]),
        claim("external_action", "Posted to `#releases`", "#releases"),
        "verified", ["external action:\n", "\"#releases\"", "リリース 2.0"]),
    "a path only read: the reading tool's output, not another's": (
        run_log([shell("python list.py", "NOTES.md"), read("# todo\nsee notes.md\n")]),
        claim("file_changed", "Added `notes.md`", "notes.md"),
        "pre-existing", ["read_file output:\n# todo\nsee notes.md"]),
    "an empty search": (
        run_log([shell("rg legacy src", "")], [ran("rg legacy src", 1, "")]),
        claim("other", "Searched for the legacy hook: no matches", "legacy hook"),
        "verified", ["command, exit 1:\nrg legacy src\n(no output)"]),
    "a literal cut from a target, found with its target's wording": (
        run_log([shell("bench", "60 runs\n72 fps\n60 fps")]),
        claim("other", "It renders at `60 fps`", "60 fps"),
        "verified", ["72 fps\n60 fps"]),
    "a file name written, and a literal in a payload": (
        run_log([wrote("def with_retries(): pass")], written=["src/retry.py"]),
        claim("file_changed", "Added `src/retry.py` with `with_retries`", "src/retry.py",
              "with_retries"),
        "verified", ["write_file wrote:\ndef with_retries(): pass"]),
    "only the file name written": (
        run_log([wrote("x = 1")], written=["src/retry.py"]),
        claim("file_changed", "Added `src/retry.py`", "src/retry.py"),
        "verified", ["the turn wrote the path:\nsrc/retry.py"]),
}


@pytest.mark.parametrize("log, the_claim, verdict, shown", CASES.values(), ids=CASES)
def test_excerpt_shows_where_the_evidence_points(log, the_claim, verdict, shown):
    result = check_claim(log, the_claim)
    assert result.verdict == verdict
    text = excerpt(log, the_claim, matches(result.evidence))
    assert text is not None and len(text) <= MAX_CHARS
    for part in shown:
        assert part in text


@pytest.mark.parametrize("log, the_claim", [
    (run_log([wrote("x = 1")]), claim("file_changed", "Raised it in `src/fetch.py`",
                                      "src/fetch.py")),
    (run_log(), claim("other", "All done")),
    (run_log(), claim("mention", "The limit lives in `config/retry.yaml`", "config/retry.yaml")),
])
def test_no_excerpt_where_the_evidence_points_nowhere(log, the_claim):
    assert excerpt(log, the_claim, matches(check_claim(log, the_claim).evidence)) is None


def test_an_excerpt_of_a_huge_log_stays_short():
    payload = "MAX_RETRIES = 5 " * 10_000 + "\n" + "z" * 100_000
    log = run_log([wrote(payload)], written=["a.py"])
    the_claim = claim("file_changed", "Set `MAX_RETRIES = 5`", "MAX_RETRIES = 5")
    text = excerpt(log, the_claim, matches(check_claim(log, the_claim).evidence))
    assert text.startswith("write_file wrote:\nMAX_RETRIES = 5") and len(text) <= MAX_CHARS


@pytest.mark.parametrize("evidence, expected", [
    ("`a; b` in write; words of `run the suite` in output \u00b7 unchecked: `c; d`",
     [Match("write", "a; b"), Match("output", "run", words=True)]),
    ("`pytest -q` ran but FAILED (exit 1); `make` ran but FAILED (exit None)",
     [Match("failed command", "pytest -q", "1"), Match("failed command", "make", "None")]),
    ("`ok` in command (exit ok); `#ops` in external action; empty search result matches claim",
     [Match("command", "ok"), Match("external action", "#ops"), Match("empty search")]),
    ("`a.md`, `b.md` seen only in read output; no write or command touched it",
     [Match("read output", "a.md")]),
    ("`x` not found in any write, command or output", []),
    ("a mention, not a claim of work: `x` not in this turn's log", []),
    # The product rules' failed runs in the claim's own turn; an earlier turn's are not here.
    ("`pytest x.py` ran 2 times, every run FAILED (exit 1, 2)",
     [Match("failed command", "pytest x.py", "1, 2")]),
    ("`gradlew build` ran and FAILED (exit 1), as the claim says",
     [Match("failed command", "gradlew build", "1")]),
    ("turn 3: `mix test` ran once, every run FAILED (exit 2)", []),
    # The test-results rule's deciding run.
    ("test run `pytest -q`: 1 failed, 11 passed in 0.4s; it failed", [Match("last run", "pytest -q")]),
    ("test runs `mix test`: 14 passed + `vitest`: 2 passed = 16 passed", [Match("last run", "mix test")]),
    ("turn 2: type check `mypy src`: Success: no issues found", []),
])
def test_the_places_an_evidence_line_names(evidence, expected):
    assert matches(evidence) == expected
