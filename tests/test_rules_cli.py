"""The product rules through the command line: a session's recaps, a command that only
failed, the engine's own verdicts beside the final ones, and --strict."""

import json

import pytest

from proofmark_core import check_turn, read_turns
from test_cli import jsonl_results, run

SESSION = "5e55a0d1-0000-4000-8000-000000000000"


def transcript(*turns):
    """A Claude Code transcript: each turn a prompt, tool calls (name, input, result,
    failed) and a closing message."""
    records, parent = [], None

    def add(kind, content):
        nonlocal parent
        uuid = f"{len(records):08d}-0000-4000-8000-000000000000"
        records.append({"parentUuid": parent, "isSidechain": False, "userType": "external",
                        "cwd": "/repo", "sessionId": SESSION, "version": "2.1.38",
                        "type": kind, "uuid": uuid, "timestamp": "2026-12-01T09:00:00.000Z",
                        "message": {"role": kind, "content": content}})
        parent = uuid

    for prompt, calls, closing in turns:
        add("user", prompt)
        for index, (name, tool_input, result, failed) in enumerate(calls):
            call = f"toolu_{len(records):03d}_{index}"
            add("assistant", [{"type": "tool_use", "id": call, "name": name, "input": tool_input}])
            add("user", [{"tool_use_id": call, "type": "tool_result", "content": result,
                          "is_error": failed}])
        add("assistant", [{"type": "text", "text": closing}])
    return "".join(json.dumps(record) + "\n" for record in records)


def bash(command, exit_code=0):
    return ("Bash", {"command": command},
            f"Exit code {exit_code}\nFAILED" if exit_code else "ok", bool(exit_code))


RECAP = transcript(
    ("Add a log server.", [("Write", {"file_path": "/repo/scripts/log-server.mjs",
                                      "content": "import http from 'node:http'\n"},
                            "File created successfully", False)],
     "Added `scripts/log-server.mjs`."),
    ("Now deploy it.", [bash("head k8s/app.yaml"), bash("kubectl apply -f k8s/app.yaml", 1),
                        bash("kubectl apply -f k8s/app.yaml", 1)],
     "Ran `kubectl apply -f k8s/app.yaml`: the rollout succeeded.\n\n"
     "Summary: I added `scripts/log-server.mjs` in the first turn."),
)


@pytest.fixture
def recap_log(tmp_path):
    path = tmp_path / "session.jsonl"
    path.write_text(RECAP)
    return path


def rows(*args):
    done = run("check", "--format", "jsonl", *args)
    assert done.stderr == b""
    return jsonl_results(done.stdout)[0]


def test_rules_give_the_final_verdicts_and_keep_the_engines_beside(recap_log):
    final = [row for row in rows(recap_log) if row["turn"] == 1]
    assert [(row["verdict"], row["evidence"]) for row in final] == [
        ("contradicted", "`kubectl apply -f k8s/app.yaml` ran 2 times, every run FAILED "
                         "(exit 1)"),
        ("verified", "turn 0: `scripts/log-server.mjs` in write"),
    ]
    assert [(row["engine_verdict"], row["engine_evidence"][:30]) for row in final] == [
        ("verified", "`kubectl apply -f k8s/app.yaml"),
        ("unverified", "`scripts/log-server.mjs` not f"),
    ]
    unchanged = rows(recap_log)[0]
    assert unchanged["verdict"] == "verified" and "engine_verdict" not in unchanged


def test_strict_gives_the_engines_verdicts_for_the_turn_alone(recap_log):
    engine = [(result.verdict, result.evidence) for turn in read_turns(recap_log)
              for result in check_turn(turn.run_log, turn.claims)]
    strict = rows("--strict", recap_log)
    assert [(row["verdict"], row["evidence"]) for row in strict] == engine
    assert not any("engine_verdict" in row for row in strict)


@pytest.mark.parametrize("jobs", ["1", "2"])
def test_an_import_checks_as_the_log_whatever_the_jobs(recap_log, tmp_path, jobs):
    imported = tmp_path / "turns.jsonl"
    assert run("import", recap_log, "-o", imported).returncode == 0
    shown = ["verdict", "evidence", "engine_verdict"]
    direct = [[row.get(key) for key in shown] for row in rows("--jobs", jobs, recap_log)]
    again = [[row.get(key) for key in shown] for row in rows("--jobs", jobs, imported)]
    assert again == direct


def test_claims_given_are_judged_with_their_session(recap_log, tmp_path):
    claims = tmp_path / "claims.json"
    claims.write_text(json.dumps([{"kind": "file_changed", "text": "Added the log server",
                                   "targets": ["scripts/log-server.mjs"]}]))
    [row] = rows("--claims", claims, recap_log)
    assert (row["turn"], row["verdict"], row["evidence"]) == (
        1, "verified", "turn 0: `scripts/log-server.mjs` in write")


def test_fail_on_counts_the_final_verdicts(recap_log):
    assert run("check", "--fail-on", "unverified", recap_log).returncode == 0
    assert run("check", "--strict", "--fail-on", "unverified", recap_log).returncode == 1
