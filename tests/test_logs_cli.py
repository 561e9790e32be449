"""Agent logs through the command line: a folder of every format, import and check
agree, and a broken log is one line that names it while the others are checked."""

import json
from pathlib import Path

import pytest

from proofmark_core.logs import find_logs
from proofmark_core.run.sources import Inputs
from shared_data import TRAJECTORIES, needs
from test_cli import jsonl_results, run

FIXTURES = Path(__file__).resolve().parent / "logs"
EXAMPLES = Path(__file__).resolve().parent.parent / "examples"
AGENTS = {"claude-code", "codex", "openhands", "swe-agent", "mini-swe-agent"}


def _verdicts(stdout):
    results, last = jsonl_results(stdout)
    return [(r["agent"], r["session"], r["turn"], r["claim"], r["text"], r["verdict"],
             r["evidence"]) for r in results], last["summary"]


@pytest.mark.parametrize("folder", [FIXTURES, pytest.param(TRAJECTORIES, marks=needs(TRAJECTORIES))])
def test_a_folder_of_logs_checks_as_its_import(folder, tmp_path):
    direct = run("check", "--format", "jsonl", "--jobs", "1", folder)
    assert direct.returncode in (0, 1) and direct.stderr == b""
    # Workers read whole logs: the same report, in the same order.
    assert run("check", "--format", "jsonl", "--jobs", "2", folder).stdout == direct.stdout
    verdicts, summary = _verdicts(direct.stdout)
    assert {agent for agent, *_ in verdicts} >= AGENTS - {"codex"} and summary["errors"] == 0
    imported, alone = tmp_path / "turns.jsonl", tmp_path / "one-job.jsonl"
    assert run("import", folder, "-o", imported).returncode == 0
    assert run("import", "--jobs", "1", folder, "-o", alone).returncode == 0
    assert imported.read_bytes() == alone.read_bytes()
    records = [json.loads(line) for line in imported.read_text().splitlines()]
    assert {record["source"]["agent"] for record in records} == AGENTS
    again, again_summary = _verdicts(run("check", "--format", "jsonl", imported).stdout)
    assert again == verdicts
    assert again_summary["records"] == summary["records"] == len(records)


def test_a_turn_is_a_heading_of_the_table_with_its_session():
    done = run("check", FIXTURES / "swe-agent" / "1x.traj")
    lines = done.stdout.decode().splitlines()
    assert lines[0].endswith("(swe-agent, session demo__repo-7)")
    assert lines[1].split()[:2] == ["TURN", "CLAIM"]
    assert lines[-1].startswith("1 turn, ")


BROKEN = {
    # name: (content, message)
    "cut.jsonl": (FIXTURES / "codex" / "envelope-0.142.jsonl", "invalid JSON at column"),
    "number.json": (b"42\n", "not a log of a known format"),
    "list-of-numbers.json": (b"[1, 2, 3]\n", "not a log of a known format"),
}


@pytest.mark.parametrize("jobs", ["1", "2"])
@pytest.mark.parametrize("name", list(BROKEN))
def test_a_broken_log_is_one_line_and_the_others_are_checked(name, jobs, tmp_path):
    content, message = BROKEN[name]
    if not isinstance(content, bytes):  # a real log cut off in the middle of a line
        lines = content.read_bytes().splitlines(keepends=True)
        content = b"".join(lines[:4]) + lines[4][:30] + b"\n" + b"".join(lines[5:])
    broken = tmp_path / name
    broken.write_bytes(content)
    good = FIXTURES / "swe-agent" / "1x.traj"
    done = run("check", "--format", "jsonl", "--jobs", jobs, broken, good)
    assert done.returncode == 2
    errors = done.stderr.decode().splitlines()
    assert len(errors) == 1 and errors[0].startswith(f"proofmark: {broken}:")
    assert message in errors[0]
    results, last = jsonl_results(done.stdout)
    assert {r["file"] for r in results} >= {str(good)} and last["summary"]["errors"] == 1


def test_a_folder_without_events_is_named(tmp_path):
    (tmp_path / "empty").mkdir()
    done = run("check", tmp_path / "empty")
    assert (done.returncode, done.stderr.decode()) == (
        2, f"proofmark: {tmp_path / 'empty'}: no agent logs in this folder\n")
    forced = run("check", "--from", "openhands", tmp_path / "empty")
    assert forced.returncode == 2 and b"Traceback" not in forced.stderr


@pytest.mark.parametrize("asked", [True, False])
def test_excerpts_come_only_when_asked(asked):
    session = EXAMPLES / "session.jsonl"
    done = run("check", "--format", "jsonl", *(["--excerpts"] if asked else []), session)
    results, _ = jsonl_results(done.stdout)
    contradicted = next(r for r in results if r["verdict"] == "contradicted")
    if asked:
        assert contradicted["excerpt"].startswith("command, exit 1:\npytest -q\n")
        assert "1 failed, 11 passed" in contradicted["excerpt"]
    else:
        assert all("excerpt" not in r for r in results)


def test_a_folder_walk_goes_round_a_loop_once_and_names_what_it_cannot_read(tmp_path,
                                                                              monkeypatch):
    (tmp_path / "a").mkdir()
    (tmp_path / "a" / "session.jsonl").write_bytes((EXAMPLES / "session.jsonl").read_bytes())
    (tmp_path / "a" / "up").symlink_to("..")
    (tmp_path / "locked").mkdir()
    iterdir = Path.iterdir

    def refusing(folder):
        if folder.name == "locked":
            raise PermissionError(13, "Permission denied", str(folder))
        return iterdir(folder)

    monkeypatch.setattr(Path, "iterdir", refusing)
    assert list(find_logs(tmp_path)) == [tmp_path / "a" / "session.jsonl", tmp_path / "locked"]
    problems = [unit.item.error for unit in Inputs([str(tmp_path)], "auto") if unit.item.error]
    assert problems == ["Permission denied"]
