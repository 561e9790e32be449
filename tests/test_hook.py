"""proofmark hook: the Claude Code Stop hook's decisions, its failures, and its settings entry."""

import importlib.util
import io
import json
import os
import subprocess
import sys
import time
from pathlib import Path

import pytest

import proofmark_core
from proofmark_core import cli
from proofmark_core.hook.decision import HookError, deadline as _deadline
from proofmark_core.hook.settings import install, uninstall

HOOK = Path(__file__).resolve().parent / "hook"
SESSION = "5d9c1b7a-2e4f-4a61-8b3c-9d0e1f2a3b4c"
CLOSING = "Added the retry to `fetch.py`. Ran `pytest -q`: all tests pass."
REASON = (
    "proofmark checked the claims of your closing message against what this turn wrote, "
    "ran and saw; 1 claim does not hold:\n"
    "- contradicted: Ran `pytest -q`: all tests pass.\n"
    "  evidence: test run `pytest -q`: 1 failed, 5 passed; it failed\n"
    "Fix the work so that the claim holds, or correct the claim in your reply; say plainly "
    "what was not done.")
BLOCK = json.dumps({"decision": "block", "reason": REASON}) + "\n"
UNCHECKED = "; the turn ends unchecked\n"


def payload(transcript, active=False, **extra):
    return {"session_id": SESSION, "transcript_path": str(HOOK / transcript),
            "cwd": "/work/app", "hook_event_name": "Stop", "stop_hook_active": active, **extra}


@pytest.fixture
def hook(monkeypatch, capsys, tmp_path):
    """Runs the hook in this process as Claude Code would: (exit status, stdout, stderr)."""
    monkeypatch.setenv("XDG_STATE_HOME", str(tmp_path / "state"))

    def run(sent, *options):
        data = sent if isinstance(sent, bytes) else json.dumps(sent).encode()
        monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BytesIO(data)))
        try:
            status = cli.main(["hook", "claude-code", *options])
        except SystemExit as exit:  # from the argument parser
            status = exit.code
        out, err = capsys.readouterr()
        return status, out, err
    return run


@pytest.mark.parametrize("sent, out", [
    (payload("contradicted.jsonl"), BLOCK),
    (payload("clean.jsonl"), ""),
    # The transcript lags behind: Claude Code's copy of the closing message is used.
    (payload("lagging.jsonl", last_assistant_message=CLOSING), BLOCK),
    (payload("lagging.jsonl"), ""),
    (payload("clean.jsonl", last_assistant_message=CLOSING), ""),
])
def test_decisions(hook, sent, out):
    assert hook(sent) == (0, out, "")


@pytest.mark.parametrize("setting, options, out, err", [
    ("max-rounds = 0", (), "", "proofmark: 1 claim still fails after 0 rounds; the turn ends\n"),
    ("max-rounds = 0", ("--max-rounds", "1"), BLOCK, ""),
    ("fail-on = 'unverified'", (), "", ""),
    ("max-rounds = 'x'", (), "", "proofmark: proofmark.toml max-rounds: expected a whole "
                                 "number, got 'x'" + UNCHECKED),
])
def test_the_projects_settings_hold_under_the_options(hook, tmp_path, setting, options, out, err):
    (tmp_path / "proofmark.toml").write_text(setting + "\n")
    assert hook(payload("contradicted.jsonl", cwd=str(tmp_path)), *options) == (0, out, err)


def test_fail_on_names_the_failing_verdicts(hook):
    status, out, _ = hook(payload("clean.jsonl", last_assistant_message="Added `retry.py`."),
                          "--fail-on", "contradicted,unverified")
    assert "- unverified: Added `retry.py`." in json.loads(out)["reason"]


def test_rounds_end_at_max_rounds_and_start_again_with_the_next_turn(hook):
    sent = [payload("contradicted.jsonl", active) for active in (False, True, True, False)]
    assert [hook(one)[1:] for one in sent] == [
        (BLOCK, ""), (BLOCK, ""),
        ("", "proofmark: 1 claim still fails after 2 rounds; the turn ends\n"),
        (BLOCK, "")]
    assert hook(payload("contradicted.jsonl", True), "--max-rounds", "1")[1:] == \
        ("", "proofmark: 1 claim still fails after 1 round; the turn ends\n")


@pytest.mark.parametrize("sent, why", [
    (b"{not json", "the hook payload is not JSON (Expecting property name enclosed in double "
                   "quotes: line 1 column 2 (char 1))"),
    ({"session_id": SESSION}, "the hook payload has no transcript_path"),
    (payload("missing.jsonl"), f"{HOOK / 'missing.jsonl'}: No such file or directory"),
    (payload("codex/sessions/2026/01/02/rollout-2026-01-02T10-00-00-"
             "0199a1b2-c3d4-7e5f-8a9b-0c1d2e3f4a5b.jsonl"), "not a Claude Code transcript"),
])
def test_own_failures_let_the_turn_end(hook, sent, why):
    status, out, err = hook(sent)
    assert (status, out) == (0, "") and err.startswith("proofmark: ") and err.endswith(UNCHECKED)
    assert why in err and err.count("\n") == 1


def test_broken_transcript_lets_the_turn_end(hook, tmp_path):
    lines = (HOOK / "contradicted.jsonl").read_bytes().splitlines(keepends=True)
    broken = tmp_path / "broken.jsonl"
    broken.write_bytes(b"".join(lines[:-2]) + b'{"type":\n' + lines[-1])
    assert hook({**payload(""), "transcript_path": str(broken)}) == \
        (0, "", f"proofmark: {broken}:10: invalid JSON at column 9: Expecting value{UNCHECKED}")


def test_usage_errors_do_not_block(hook):
    status, out, err = hook(payload("contradicted.jsonl"), "--fail-on", "wrong")
    assert (status, out) == (0, "") and err.endswith(UNCHECKED) and "'wrong'" in err


def test_deadline_gives_up():
    with pytest.raises(HookError, match="gave up after 0.05 seconds"), _deadline(0.05):
        time.sleep(2)


def test_log_has_one_line_per_decision(hook, tmp_path):
    log = tmp_path / "decisions.jsonl"
    for sent in (payload("contradicted.jsonl"), payload("clean.jsonl"), b"[]"):
        hook(sent, "--log", str(log))
    lines = [json.loads(line) for line in log.read_text().splitlines()]
    assert [{key: line[key] for key in ("session", "line", "claims", "blocked", "round")}
            for line in lines] == [
        {"session": SESSION, "line": 5, "claims": 2, "blocked": True, "round": 1},
        {"session": SESSION, "line": 5, "claims": 2, "blocked": False, "round": 0},
        {"session": None, "line": None, "claims": 0, "blocked": False, "round": 0}]
    assert lines[0]["verdicts"] == {"verified": 1, "unverified": 0, "pre-existing": 0,
                                    "contradicted": 1, "unchecked": 0}
    assert lines[2]["error"] == "the hook payload is not a JSON object"


def test_the_installed_command_blocks_through_its_entry_point(tmp_path):
    done = subprocess.run([sys.executable, "-m", "proofmark_core", "hook", "claude-code"],
                          input=json.dumps(payload("contradicted.jsonl")).encode(),
                          capture_output=True, env={**os.environ, "XDG_STATE_HOME": str(tmp_path)},
                          cwd=Path(proofmark_core.__file__).resolve().parent.parent)
    assert (done.returncode, done.stdout.decode(), done.stderr) == (0, BLOCK, b"")


OTHERS = {"model": "opus", "hooks": {
    "Stop": [{"hooks": [{"type": "command", "command": "notify-send done"}]}],
    "PreToolUse": [{"matcher": "Bash", "hooks": [{"type": "command", "command": "guard"}]}]}}
ENTRY = {"hooks": [{"type": "command", "command": "proofmark hook claude-code", "timeout": 30}]}


@pytest.mark.parametrize("before, after_install", [
    (None, {"hooks": {"Stop": [ENTRY]}}),
    ("", {"hooks": {"Stop": [ENTRY]}}),
    (json.dumps(OTHERS), {**OTHERS, "hooks": {**OTHERS["hooks"],
                                              "Stop": [*OTHERS["hooks"]["Stop"], ENTRY]}}),
], ids=["no file", "empty file", "other hooks"])
def test_install_merges_keeps_a_backup_and_uninstall_removes_exactly_it(
        tmp_path, before, after_install):
    path = tmp_path / ".claude" / "settings.json"
    if before is not None:
        path.parent.mkdir()
        path.write_text(before)
    assert install(path) == (ENTRY, True)
    assert json.loads(path.read_text()) == after_install
    backup = path.with_name("settings.json.bak")
    assert (backup.read_text() if backup.exists() else None) == before
    assert install(path) == (ENTRY, False)  # already there: nothing written
    assert json.loads(path.read_text()) == after_install
    assert uninstall(path) == ENTRY["hooks"]
    assert json.loads(path.read_text()) == (json.loads(before) if before else {})
    assert uninstall(path) == []


@pytest.mark.parametrize("text, message", [
    ('{"model": "opus",\n  "hooks": {,}}', ":2: invalid JSON at column 13: Expecting property "
                                            "name enclosed in double quotes; nothing changed"),
    ("[]", ": the settings are not a JSON object; nothing changed"),
    ('{"hooks": {"Stop": {}}}', ': "hooks"."Stop" is not a list; nothing changed'),
])
@pytest.mark.parametrize("change", [install, uninstall])
def test_settings_that_cannot_be_merged_are_refused_unchanged(tmp_path, text, message, change):
    path = tmp_path / "settings.json"
    path.write_text(text)
    with pytest.raises(HookError) as raised:
        change(path)
    assert str(raised.value) == f"{path}{message}"
    assert path.read_text() == text and not path.with_name("settings.json.bak").exists()


def test_install_command_prints_the_entry(monkeypatch, capsys, tmp_path):
    monkeypatch.chdir(tmp_path)
    assert cli.main(["hook", "install", "claude-code"]) == 0
    assert capsys.readouterr().out == \
        f"proofmark: added to {tmp_path}/.claude/settings.json: {json.dumps(ENTRY)}\n"


@pytest.mark.skipif(importlib.util.find_spec("proofmark_core.logs.codex") is None,
                    reason="the Codex reader is not there")
def test_codex_notify_reports_but_cannot_block(monkeypatch, capsys, tmp_path):
    monkeypatch.setenv("CODEX_HOME", str(HOOK / "codex"))
    sent = {"type": "agent-turn-complete", "thread-id": "0199a1b2-c3d4-7e5f-8a9b-0c1d2e3f4a5b",
            "turn-id": "turn-1", "cwd": "/work/app", "input-messages": ["Run the tests"],
            "last-assistant-message": "Ran `pytest -q`: all tests pass."}
    log = tmp_path / "log.jsonl"
    assert cli.main(["hook", "codex-notify", "--log", str(log), json.dumps(sent)]) == 0
    out, err = capsys.readouterr()
    assert out == "" and "- contradicted: Ran `pytest -q`: all tests pass." in err
    assert json.loads(log.read_text())["verdicts"]["contradicted"] == 1


def test_the_hook_sends_back_the_final_verdicts_of_the_turn_in_its_session(hook, tmp_path):
    from test_rules_cli import RECAP

    transcript = tmp_path / "session.jsonl"
    transcript.write_text(RECAP)
    status, out, _ = hook(payload(transcript), "--fail-on", "contradicted,unverified")
    reason = json.loads(out)["reason"]
    assert "1 claim does not hold" in reason
    assert ("evidence: `kubectl apply -f k8s/app.yaml` ran 2 times, every run FAILED "
            "(exit 1)") in reason
