"""The proofmark command end to end, in a child process: formats, inputs, exit status."""

import json
import os
import pty
import re
import subprocess
import sys
from collections import Counter
from pathlib import Path

import pytest

import proofmark_core
from proofmark_core.report.terminal import display_width
from proofmark_core.verify import verify

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"
CLAIMS = EXAMPLES / "claims.jsonl"
# Children run from the directory that holds the package under test, so that they
# import the same package whether it is installed or built beside its sources.
PACKAGE_HOME = Path(proofmark_core.__file__).resolve().parent.parent
EXAMPLE_VERDICTS = [
    "verified", "contradicted", "pre-existing", "unverified", "unverified", "unchecked",
    "verified", "unchecked",
]
EMPTY_LOG = {"events": [], "external": [], "written": [], "commands": []}
DONE = {"kind": "other", "text": "All done", "targets": []}
GOOD = {"run_log": EMPTY_LOG, "claims": [DONE]}


def run(*args, stdin=b"", env=None):
    return subprocess.run(
        [sys.executable, "-m", "proofmark_core", *map(str, args)],
        input=stdin, capture_output=True, cwd=PACKAGE_HOME, env=_env(env),
    )


def _env(extra=None):
    env = {k: v for k, v in os.environ.items() if k not in ("NO_COLOR", "COLUMNS")}
    return {**env, "COLUMNS": "100", **(extra or {})}


def jsonl_results(stdout):
    lines = [json.loads(line) for line in stdout.decode().splitlines()]
    return [line for line in lines if "verdict" in line], lines[-1]


def jsonl(*records):
    return "".join(json.dumps(record) + "\n" for record in records).encode()


def test_table_shows_every_claim_aligned_and_plain_when_piped():
    done = run("check", CLAIMS)
    assert (done.returncode, done.stderr) == (1, b"")
    lines = done.stdout.decode().splitlines()
    assert lines[0] == str(CLAIMS)
    header, rows = lines[1], lines[2:2 + len(EXAMPLE_VERDICTS)]
    assert header.split() == ["RECORD", "CLAIM", "VERDICT", "TEXT", "EVIDENCE"]
    verdict_at, evidence_at = header.index("VERDICT"), header.index("EVIDENCE")
    for row, verdict in zip(rows, EXAMPLE_VERDICTS):
        assert row[verdict_at:].startswith(verdict + " ")
        assert row[evidence_at - 2:evidence_at] == "  " and row[evidence_at] != " "
    assert "\x1b" not in done.stdout.decode()
    assert lines[-1] == ("2 records, 8 claims: 2 verified, 2 unverified, 1 pre-existing, "
                         "1 contradicted, 2 unchecked")


@pytest.mark.parametrize("output_format", ["json", "jsonl"])
def test_machine_formats_carry_place_claim_verdict_and_summary(output_format):
    done = run("check", "--format", output_format, CLAIMS)
    assert (done.returncode, done.stderr) == (1, b"")
    if output_format == "json":
        document = json.loads(done.stdout)
        results, summary, errors = document["results"], document["summary"], document["errors"]
    else:
        results, last = jsonl_results(done.stdout)
        summary, errors = last["summary"], []
    records = [json.loads(line) for line in CLAIMS.read_text().splitlines()]
    expected_places = [(r, c) for r, record in enumerate(records)
                       for c in range(len(record["claims"]))]
    assert [(res["record"], res["claim"]) for res in results] == expected_places
    assert [res["verdict"] for res in results] == EXAMPLE_VERDICTS
    for res in results:
        claim = records[res["record"]]["claims"][res["claim"]]
        assert (res["file"], res["line"]) == (str(CLAIMS), res["record"] + 1)
        assert (res["kind"], res["text"]) == (claim["kind"], claim["text"])
    assert results[1]["evidence"] == "test run `pytest -q`: 1 failed, 11 passed in 0.42s; it failed"
    assert results[1]["engine_evidence"] == "`pytest -q` ran but FAILED (exit 1)"
    assert summary == {"records": 2, "claims": 8, "errors": 0,
                       "verdicts": Counter(EXAMPLE_VERDICTS)}
    assert errors == []


def test_shipped_turn_example_reports_what_the_engine_says():
    turn = EXAMPLES / "turn.json"
    done = run("check", "--strict", "--format", "jsonl", turn)
    results, last = jsonl_results(done.stdout)
    assert (done.returncode, done.stderr) == (1, b"")
    record = json.loads(turn.read_text())
    assert [(res["verdict"], res["evidence"]) for res in results] == [
        verify(claim, record["run_log"]) for claim in record["claims"]]
    assert last["summary"]["claims"] == len(record["claims"])


def _layouts():
    records = [json.loads(line) for line in CLAIMS.read_text().splitlines()]
    return {
        "jsonl with a blank line": ("\n".join([json.dumps(records[0]), "", json.dumps(records[1])])
                                    + "\n", [1, 3]),
        "list, indented": (json.dumps(records, indent=2), None),
        "list, one line": (json.dumps(records), [1, 1]),
        "one record, indented": (json.dumps(records[0], indent=2), [1]),
        "one record, one line": (json.dumps(records[0]), [1]),
    }


@pytest.mark.parametrize("layout", list(_layouts()))
@pytest.mark.parametrize("source", ["file", "stdin"])
def test_every_layout_is_read_from_a_file_and_from_stdin(layout, source, tmp_path):
    text, lines = _layouts()[layout]
    path = tmp_path / "turns.json"
    path.write_text(text)
    done = run("check", "--format", "jsonl", *((path,) if source == "file" else ("-",)),
               stdin=text.encode() if source == "stdin" else b"")
    results, _ = jsonl_results(done.stdout)
    assert done.stderr == b""
    assert [res["verdict"] for res in results] == EXAMPLE_VERDICTS[:len(results)]
    assert len(results) in (6, 8)
    assert {res["file"] for res in results} == {str(path) if source == "file" else "<stdin>"}
    starts = sorted({(res["record"], res["line"]) for res in results})
    if lines is None:  # each record's line is the one that opens it
        assert all(text.splitlines()[line - 1].strip() == "{" for _, line in starts)
    else:
        assert [line for _, line in starts] == lines


@pytest.mark.parametrize("args, records, status", [
    ([], None, 1),
    ([], [GOOD], 0),
    (["--fail-on", "verified,contradicted"], [GOOD], 0),
    (["--fail-on", "contradicted, unchecked"], [GOOD], 1),
])
def test_exit_status_follows_fail_on(args, records, status, tmp_path):
    path = CLAIMS
    if records is not None:
        path = tmp_path / "turns.jsonl"
        path.write_bytes(jsonl(*records))
    done = run("check", *args, path)
    assert (done.returncode, done.stderr) == (status, b"")


@pytest.mark.parametrize("args, message", [
    (["check", "--fail-on", "verified,wrong", "x.json"], "unknown verdict 'wrong'"),
    (["check", "--format", "yaml", "x.json"], "invalid choice: 'yaml'"),
    (["check"], "the following arguments are required: PATH"),
    (["check", "--from", "aider", "x.json"], "invalid choice: 'aider'"),
    (["check", "--claims", "missing.json", "x.json"], "missing.json: No such file or directory"),
])
def test_unusable_arguments_exit_2_with_usage(args, message):
    done = run(*args)
    assert done.returncode == 2 and done.stdout == b""
    assert message in done.stderr.decode() and b"Traceback" not in done.stderr


def _bad(*lines):
    return "".join(line + "\n" for line in lines).encode()


def _with(**changes):
    return json.dumps({**GOOD, **changes})


def _log(**changes):
    return _with(run_log={**EMPTY_LOG, **changes})


G = json.dumps(GOOD)
BAD_INPUTS = {
    # name: (suffix, content, [(line, record, message)], records still judged)
    "invalid JSON line": (".jsonl", _bad(G, '{"run_log": {', G),
                          [(2, 1, "invalid JSON at column 14: Expecting property name "
                                  "enclosed in double quotes")], 2),
    "not UTF-8": (".jsonl", _bad(G) + b'{"claims": "\xff"}\n' + _bad(G),
                  [(2, 1, "invalid UTF-8 at column 13")], 2),
    "record not an object": (".jsonl", _bad("[1, 2]", G),
                             [(1, 0, "expected an object, got array")], 1),
    "no run_log": (".jsonl", _bad(json.dumps({"claims": []}), G),
                   [(1, 0, 'missing "run_log"')], 1),
    "run log without events": (".jsonl", _bad(_with(run_log={"external": []}), G),
                               [(1, 0, 'run_log: missing "events"')], 1),
    "event output of the wrong type": (
        ".jsonl", _bad(G, _log(events=[{"tool": "read_file", "wrote": False, "output": 3}])),
        [(2, 1, "run_log.events[0].output: expected a string or null, got number")], 1),
    "exit code of the wrong type": (
        ".jsonl", _bad(_log(commands=[{"command": "ls", "exit_code": True}])),
        [(1, 0, "run_log.commands[0].exit_code: expected a number, a string or null, "
                "got boolean")], 0),
    "one bad claim among good ones": (
        ".jsonl", _bad(_with(claims=[DONE, {"text": 5}, DONE])),
        [(1, 0, "claims[1].text: expected a string, got number")], 2),
    "claim the engine cannot judge": (
        ".jsonl", _bad(_with(
            run_log={**EMPTY_LOG, "commands": [{"command": None, "exit_code": 0}]},
            claims=[{"text": "no matches for the hook", "targets": ["legacy hook"]}, DONE])),
        [(1, 0, "claims[0]: the engine failed: TypeError: ")], 1),
    "list cut short": (".json", f"[{G},\n{G},\n{{\"run_log\": ".encode(),
                       [(3, 2, "invalid JSON at column 13: Expecting value; "
                               "the rest of the input is not read")], 2),
    "list with a bad separator": (".json", f"[{G}\n{G}]".encode(),
                                  [(2, 1, "invalid JSON at column 1: Expecting ',' delimiter; "
                                          "the rest of the input is not read")], 1),
    "nested too deeply": (".json", b"[" * 100_000, [(1, 0, "invalid JSON: nested too deeply; "
                                                          "the rest of the input is not read")], 0),
    "one record with a syntax error": (".json", b'{\n  "run_log": {},\n  "claims": [,]\n}',
                                       [(3, 0, "invalid JSON at column 14: Expecting value")], 0),
}


@pytest.mark.parametrize("case", list(BAD_INPUTS))
def test_bad_input_is_one_line_per_problem_and_the_rest_is_checked(case, tmp_path):
    suffix, content, problems, judged = BAD_INPUTS[case]
    path = tmp_path / f"turns{suffix}"
    path.write_bytes(content)
    done = run("check", "--format", "jsonl", path)
    assert done.returncode == 2
    errors = done.stderr.decode().splitlines()
    assert len(errors) == len(problems)
    for error, (line, record, message) in zip(errors, problems):
        assert error.startswith(f"proofmark: {path}:{line}: record {record}: {message}")
    results, last = jsonl_results(done.stdout)
    assert [res["evidence"] for res in results] == ["nothing literal to check"] * judged
    assert last["summary"]["errors"] == len(problems)


@pytest.mark.parametrize("name, message", [
    ("missing.json", "No such file or directory"),
    ("a-directory", "no agent logs in this folder"),
    ("empty.jsonl", "no records"),
    ("blank.json", "no records"),
    ("empty-list.json", "no records"),
])
def test_unreadable_or_empty_file_is_named_and_the_others_are_checked(name, message, tmp_path):
    others = tmp_path / "others.jsonl"
    others.write_bytes(jsonl(*[{"run_log": EMPTY_LOG, "claims": []}] * 2))
    (tmp_path / "a-directory").mkdir()
    (tmp_path / "empty.jsonl").write_bytes(b"")
    (tmp_path / "blank.json").write_bytes(b"\n \n")
    (tmp_path / "empty-list.json").write_bytes(b" [ ]\n")
    done = run("check", "--format", "json", tmp_path / name, others)
    assert done.returncode == 2
    assert done.stderr.decode() == f"proofmark: {tmp_path / name}: {message}\n"
    document = json.loads(done.stdout)
    assert document["errors"] == [{"file": str(tmp_path / name), "line": None, "record": None,
                                   "claim": None, "error": message}]
    assert document["summary"]["records"] == 2


def test_table_cell_is_shortened_to_fit_and_control_characters_are_spelled_out(tmp_path):
    text = "\u202eShown \x1b[2J then a long tail " + "word " * 40
    path = tmp_path / "turn.jsonl"
    path.write_bytes(jsonl({"run_log": EMPTY_LOG, "claims": [
        {"text": text, "targets": ["\x1b[31mred"]}]}))
    done = run("check", path, env={"COLUMNS": "80"})
    row = done.stdout.decode().splitlines()[2]
    assert "\x1b" not in row and "\u202e" not in row
    assert "\\x1b[2J" in row and "\\u202e" in row and "`\\x1b[31mred`" in row
    assert "\u2026" in row and "tail word word" not in row


@pytest.mark.parametrize("text", [
    "Added 設定ファイル `src/設定.py` and 日本語のドキュメント throughout the project",
    "Cre\u0301e\u0301 le fichier re\u0301sume\u0301 `notes/re\u0301sume\u0301.md`",
    "short",
])
def test_table_columns_stay_aligned_for_wide_and_combining_text(text, tmp_path):
    path = tmp_path / "turn.jsonl"
    path.write_bytes(jsonl({"run_log": EMPTY_LOG, "claims": [{"text": text}, DONE]}))
    lines = run("check", path, env={"COLUMNS": "80"}).stdout.decode().splitlines()
    header, rows = lines[1], lines[2:4]
    evidence_column = header.index("EVIDENCE")
    for row in rows:
        before, evidence = row.rsplit("  ", 1)
        assert display_width(before) + 2 == evidence_column
        assert evidence == "nothing literal to check"


def shown_counts(page):
    """The overall count of each verdict in the page's legend."""
    return {verdict: int(count) for verdict, count in re.findall(
        r'<li class="v\d" data-verdict="([a-z-]+)"><span class="swatch"></span>[a-z-]+: '
        r"<b>(\d+)</b>", page)}


def test_html_page_from_check_and_from_its_saved_results(tmp_path):
    checked = run("check", "--format", "html", "-o", tmp_path / "checked.html", CLAIMS)
    assert (checked.returncode, checked.stdout, checked.stderr) == (1, b"", b"")
    saved = run("check", "--format", "jsonl", "-o", tmp_path / "results.jsonl", CLAIMS)
    assert (saved.returncode, saved.stdout) == (1, b"")
    from_file = run("report", tmp_path / "results.jsonl", "-o", tmp_path / "report.html")
    from_stdin = run("report", "-", stdin=(tmp_path / "results.jsonl").read_bytes())
    # The report exits as the check did: a claim is contradicted.
    assert (from_file.returncode, from_file.stdout, from_file.stderr) == (1, b"", b"")
    assert (from_stdin.returncode, from_stdin.stderr) == (1, b"")
    pages = [(tmp_path / "checked.html").read_text(), (tmp_path / "report.html").read_text(),
             from_stdin.stdout.decode()]
    for page in pages:
        assert page.startswith("<!DOCTYPE html>") and page.endswith("</html>\n")
        assert shown_counts(page) == Counter(EXAMPLE_VERDICTS)
        assert '<p id="totals">2 records, 8 claims</p>' in page


@pytest.mark.parametrize("content, message", [
    (None, "{name}: No such file or directory"),
    (b'{"verdict": "verified"}\n{"verdict": \n', "{name}:2: invalid JSON at column 13: "
                                                  "Expecting value"),
    (b"[1, 2]\n", "{name}:1: expected an object, got array"),
    (b'\n{"verdict": "fine"}\n', '{name}:2: neither a result with a known "verdict", '
                                 "an error nor the summary"),
])
def test_report_of_unusable_results_is_one_line_and_writes_nothing(content, message, tmp_path):
    results, page = tmp_path / "results.jsonl", tmp_path / "report.html"
    if content is not None:
        results.write_bytes(content)
    done = run("report", results, "-o", page)
    assert done.returncode == 2 and not page.exists()
    assert done.stderr.decode() == f"proofmark: {message.format(name=results)}\n"


def run_on_terminal(args, *, terminal, code="", env=None):
    """Run the command with stdout or stderr on a pseudo-terminal; returns what each got."""
    leader, follower = pty.openpty()
    streams = {"stdout": subprocess.PIPE, "stderr": subprocess.PIPE, terminal: follower}
    child = subprocess.Popen(
        [sys.executable, "-c", code + "from proofmark_core.cli import main\n"
                                      "raise SystemExit(main())", *map(str, args)],
        cwd=PACKAGE_HOME, env=_env(env), stdin=subprocess.DEVNULL, **streams)
    os.close(follower)
    seen = b""
    while True:
        try:
            chunk = os.read(leader, 1 << 16)
        except OSError:  # the follower side closed
            break
        if not chunk:
            break
        seen += chunk
    out, err = child.communicate()
    os.close(leader)
    return child.returncode, seen.decode().replace("\r\n", "\n"), out, err


@pytest.mark.parametrize("env, coloured", [({}, True), ({"NO_COLOR": "1"}, False),
                                           ({"NO_COLOR": ""}, True)])
def test_verdicts_are_coloured_only_on_a_terminal_without_no_color(env, coloured):
    status, seen, _, err = run_on_terminal(["check", CLAIMS], terminal="stdout", env=env)
    assert (status, err) == (1, b"")
    assert ("\x1b[1;31mcontradicted\x1b[0m" in seen) is coloured
    assert ("\x1b[" in seen) is coloured
    assert "contradicted" in seen


QUICK_PROGRESS = ("import proofmark_core.report.terminal as t\n"
                  "t.PROGRESS_DELAY = t.PROGRESS_INTERVAL = 0\n")


@pytest.mark.parametrize("terminal", ["stderr", "stdout"])
def test_progress_is_drawn_on_stderr_only_when_it_is_a_terminal(terminal, tmp_path):
    path = tmp_path / "turns.jsonl"
    path.write_bytes(jsonl(*[{"run_log": EMPTY_LOG, "claims": []}] * 50))
    _, seen, out, err = run_on_terminal(["check", "--format", "jsonl", path],
                                        terminal=terminal, code=QUICK_PROGRESS)
    if terminal == "stderr":
        assert f"\rproofmark: {path}: 50 records, 0 claims checked\x1b[K" in seen
        assert seen.endswith("\r\x1b[K")
        report = out.decode()
    else:
        assert err == b""
        report = seen
    assert json.loads(report.splitlines()[-1])["summary"]["records"] == 50


# Peak of the child's own allocations; its ru_maxrss would start at the parent's size.
MEASURE = """
import sys, tracemalloc
from proofmark_core.cli import main
tracemalloc.start()
main(sys.argv[1:])
sys.stderr.write(f"\\npeak {tracemalloc.get_traced_memory()[1]}\\n")
"""


def _turns(path, count, layout):
    """A file of turns, each with 8 KiB of tool output and one claim found in it."""
    output = ("marker-{} " + "lorem ipsum dolor sit amet " * 300)[:8192]
    records = (json.dumps({"run_log": {**EMPTY_LOG, "events": [
        {"tool": "terminal", "wrote": False, "command": "make", "output": output.format(i)}]},
        "claims": [{"text": f"saw `marker-{i}`", "targets": [f"marker-{i}"]}]})
        for i in range(count))
    with open(path, "w") as out:
        if layout == "jsonl":
            out.writelines(record + "\n" for record in records)
        else:
            out.write("[\n")
            out.writelines(("," if i else "") + record + "\n" for i, record in enumerate(records))
            out.write("]\n")


def _peak_bytes(path):
    done = subprocess.run([sys.executable, "-c", MEASURE, "check", "--format", "jsonl", path],
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, cwd=PACKAGE_HOME,
                          env=_env())
    assert b"Traceback" not in done.stderr
    return int(done.stderr.decode().splitlines()[-1].split()[1])


@pytest.mark.parametrize("layout", ["jsonl", "list"])
def test_memory_stays_flat_however_many_records(layout, tmp_path):
    # "few" already fills what the workers may have in flight (a few MiB of records).
    _turns(tmp_path / "few", 1000, layout)
    _turns(tmp_path / "many", 4000, layout)  # about 33 MiB
    growth = _peak_bytes(tmp_path / "many") - _peak_bytes(tmp_path / "few")
    assert growth < 4 << 20, f"peak memory grew by {growth} bytes"


def test_a_reader_that_stops_early_ends_the_run_quietly(tmp_path):
    path = tmp_path / "turns.jsonl"
    path.write_bytes(jsonl(*[GOOD] * 20_000))
    child = subprocess.Popen([sys.executable, "-m", "proofmark_core", "check", "--format",
                              "jsonl", str(path)], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             cwd=PACKAGE_HOME, env=_env())
    child.stdout.readline()
    child.stdout.close()
    assert b"Traceback" not in child.stderr.read()
    assert child.wait() == 2


def test_console_script_runs_the_command():
    script = Path(sys.executable).with_name("proofmark")
    if not script.exists():
        pytest.skip("the package is not installed with its scripts here")
    done = subprocess.run([script, "--version"], capture_output=True, cwd=PACKAGE_HOME)
    assert done.stdout.decode().strip() == f"proofmark {proofmark_core.__version__}"
