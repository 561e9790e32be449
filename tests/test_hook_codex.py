"""proofmark hook codex: Codex's Stop hook on recorded payloads and rollouts, its rounds and
its own failures, and its entry in Codex's hooks.json."""

import io
import json
import re
import sys
from pathlib import Path

import pytest

from proofmark_core import cli
from proofmark_core.hook.decision import HookError
from proofmark_core.hook.settings import install, uninstall
from proofmark_core.logs import LogFile, last_turn
from proofmark_core.logs import codex as codex_reader

CODEX = Path(__file__).resolve().parent / "hook" / "codex"
ROLLOUT = CODEX / "continued.jsonl"
LINES = ROLLOUT.read_bytes().splitlines(keepends=True)
SENT = json.loads((CODEX / "stop-payload.json").read_text())
# The turn as it was when the agent first stopped: its tests failed, its claim says not.
FIRST_STOP = 20
CLOSING = "Added `src/retry.py`. Ran `pytest -q`: all tests pass."
UNCHECKED = "; the turn ends unchecked\n"


def payload(rollout=ROLLOUT, **changes):
    return {**SENT, "transcript_path": None if rollout is None else str(rollout), **changes}


def rollout_of(tmp_path, lines, name="rollout.jsonl"):
    path = tmp_path / name
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(b"".join(lines))
    return path


@pytest.fixture
def hook(monkeypatch, capsys, tmp_path):
    """Runs the hook in this process as Codex would: (exit status, stdout, stderr)."""
    monkeypatch.setenv("XDG_STATE_HOME", str(tmp_path / "state"))
    monkeypatch.setenv("CODEX_HOME", str(tmp_path / "codex-home"))

    def run(sent, *options):
        data = sent if isinstance(sent, bytes) else json.dumps(sent).encode()
        monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BytesIO(data)))
        try:
            status = cli.main(["hook", "codex", *options])
        except SystemExit as exit:  # from the argument parser
            status = exit.code
        out, err = capsys.readouterr()
        return status, out, err
    return run


def failing(out):
    """The verdict and claim of each claim the block reason names."""
    return re.findall(r"^- (\S+): (.*)$", json.loads(out)["reason"], re.M) if out else []


@pytest.mark.parametrize("lines, changes, fails", [
    (LINES[:FIRST_STOP], {}, [("contradicted", "Ran `pytest -q`: all tests pass.")]),
    # The rollout lags behind: Codex's copy of the closing message is used.
    (LINES[:18], {"last_assistant_message": CLOSING},
     [("contradicted", "Ran `pytest -q`: all tests pass.")]),
    (LINES[:18], {}, []),
    # Written up to a line cut short: the cut line is left out.
    ([*LINES[:FIRST_STOP], LINES[FIRST_STOP][:40]], {},
     [("contradicted", "Ran `pytest -q`: all tests pass.")]),
    # Sent back, the agent fixed the tests: the hook's reason was input to the same turn,
    # so the file it wrote before is still this turn's work.
    (LINES, {}, []),
    (LINES, {"turn_id": "t1"}, []),
], ids=["first stop", "lagging", "lagging without a copy", "line cut short", "fixed", "turn t1"])
def test_decisions(hook, tmp_path, lines, changes, fails):
    status, out, err = hook(payload(rollout_of(tmp_path, lines), **changes),
                            "--fail-on", "contradicted,unverified")
    assert (status, failing(out), err) == (0, fails, "")


def test_the_turn_runs_from_its_id_through_the_reason_sent_back():
    turn = last_turn(ROLLOUT, "codex", "t2")
    assert (turn.line, [call.command for call in turn.calls]) == (11, [None, "pytest -q",
                                                                      "pytest -q"])
    assert (turn.written, len(turn.messages)) == (["src/retry.py"], 2)


@pytest.mark.parametrize("path", sorted((Path(__file__).parent / "logs" / "codex").glob("*.jsonl"))
                         + [ROLLOUT], ids=lambda path: path.name)
def test_last_turn_is_the_last_turn_of_a_full_read(path):
    *_, whole = codex_reader.read(LogFile(path))
    ids = re.findall(rb'"turn_id":"([^"]+)"', path.read_bytes())
    for turn_id in {None, *ids[-1:]}:
        turn = last_turn(path, "codex", turn_id and turn_id.decode())
        assert (turn.line, turn.session, turn.cwd, turn.messages, turn.run_log()) == \
            (whole.line, whole.session, whole.cwd, whole.messages, whole.run_log())


def test_without_transcript_path_the_rollout_is_found_by_session(hook, tmp_path):
    home = tmp_path / "codex-home" / "sessions" / "2026" / "03" / "04"
    rollout_of(home, LINES[:FIRST_STOP], f"rollout-2026-03-04T10-00-00-{SENT['session_id']}.jsonl")
    status, out, err = hook(payload(None))
    assert failing(out) == [("contradicted", "Ran `pytest -q`: all tests pass.")]


def test_rounds_end_at_max_rounds_and_start_again_with_the_next_turn(hook, tmp_path):
    path = rollout_of(tmp_path, LINES[:FIRST_STOP])
    outs = [hook(payload(path, stop_hook_active=active))[1:]
            for active in (False, True, True, False)]
    assert [(bool(out), err) for out, err in outs] == [
        (True, ""), (True, ""),
        (False, "proofmark: 1 claim still fails after 2 rounds; the turn ends\n"), (True, "")]


@pytest.mark.parametrize("sent, why", [
    (b"[1, 2]", "the hook payload is not a JSON object"),
    (payload(None, session_id=None), "the hook payload has neither a transcript_path nor a "
                                     "session_id"),
    (payload(None), "no rollout of session 019b0c1d-2e3f-7a4b-8c5d-6e7f8a9b0c1d under "),
    (payload(None, session_id="../../etc/x"), "the session id '../../etc/x' cannot be part"),
    (payload(transcript_path=7), "the hook payload's transcript_path is not a string"),
    (payload(turn_id="t9"), "no turn t9 in the rollout"),
    (payload(Path(__file__).parent / "hook" / "clean.jsonl"), "not a Codex rollout"),
    (payload(CODEX / "missing.jsonl"), "missing.jsonl: No such file or directory"),
])
def test_own_failures_let_the_turn_end(hook, sent, why):
    status, out, err = hook(sent)
    assert (status, out) == (0, "") and err.startswith("proofmark: ") and err.endswith(UNCHECKED)
    assert why in err and err.count("\n") == 1


def test_usage_errors_do_not_block(hook):
    status, out, err = hook(payload(), "--max-rounds", "-1")
    assert (status, out) == (0, "") and err.endswith(UNCHECKED)


TOKEN = "ghp_" + "a1B2c3D4" * 5


@pytest.mark.parametrize("options, shown", [((), "GITHUB_TOKEN=[redacted]"),
                                            (("--no-redact",), f"GITHUB_TOKEN={TOKEN}")])
def test_the_reason_masks_credentials(hook, tmp_path, options, shown):
    closing = f"Ran `pytest -q` with GITHUB_TOKEN={TOKEN} set: all tests pass."
    _, out, _ = hook(payload(rollout_of(tmp_path, LINES[:18]), last_assistant_message=closing),
                     *options)
    assert failing(out) == [("contradicted", f"Ran `pytest -q` with {shown} set: all tests pass.")]


def test_log_has_one_line_per_decision(hook, tmp_path):
    log = tmp_path / "decisions.jsonl"
    hook(payload(rollout_of(tmp_path, LINES[:FIRST_STOP])), "--log", str(log))
    hook(payload(turn_id="t9"), "--log", str(log))
    first, second = (json.loads(line) for line in log.read_text().splitlines())
    assert {key: first[key] for key in ("session", "line", "claims", "blocked", "round")} == \
        {"session": SENT["session_id"], "line": 11, "claims": 2, "blocked": True, "round": 1}
    assert second["error"].endswith("continued.jsonl: no turn t9 in the rollout")


CODEX_ENTRY = {"hooks": [{"type": "command", "command": "proofmark hook codex", "timeout": 30}]}
OTHERS = {"version": 1, "hooks": {
    "Stop": [{"hooks": [{"type": "command", "command": "proofmark hook codex-notify x"}]}],
    "SessionStart": [{"matcher": "startup", "hooks": [{"type": "command", "command": "hi"}]}]}}


@pytest.mark.parametrize("before", [None, "", json.dumps(OTHERS)],
                         ids=["no file", "empty file", "other hooks"])
def test_codex_install_merges_keeps_a_backup_and_uninstall_removes_exactly_it(tmp_path, before):
    path = tmp_path / ".codex" / "hooks.json"
    if before is not None:
        path.parent.mkdir()
        path.write_text(before)
    others = json.loads(before) if before else {}
    stop = others.get("hooks", {}).get("Stop", [])
    assert install(path, "codex") == (CODEX_ENTRY, True)
    assert json.loads(path.read_text()) == {
        **others, "hooks": {**others.get("hooks", {}), "Stop": [*stop, CODEX_ENTRY]}}
    backup = path.with_name("hooks.json.bak")
    assert (backup.read_text() if backup.exists() else None) == before
    assert install(path, "codex") == (CODEX_ENTRY, False)
    assert install(path) == ({"hooks": [{"type": "command", "command": "proofmark hook "
                                         "claude-code", "timeout": 30}]}, True)
    assert uninstall(path, "codex") == CODEX_ENTRY["hooks"]
    assert uninstall(path, "codex") == []
    uninstall(path)
    assert json.loads(path.read_text()) == others


@pytest.mark.parametrize("text, message", [
    ('{"hooks": {"Stop": [{"hooks": {}}]}}',
     ': "hooks"."Stop"[0] is not an object with a "hooks" list; nothing changed'),
    ('{"hooks": {"Stop": [7]}}',
     ': "hooks"."Stop"[0] is not an object with a "hooks" list; nothing changed'),
    ('{"hooks": []}', ': "hooks" is not an object; nothing changed'),
    ("{\n", ":2: invalid JSON at column 1: Expecting property name enclosed in double quotes; "
            "nothing changed"),
])
@pytest.mark.parametrize("change", [install, uninstall])
@pytest.mark.parametrize("agent", ["codex", "claude-code"])
def test_hooks_that_cannot_be_read_are_refused_unchanged(tmp_path, text, message, change, agent):
    path = tmp_path / "hooks.json"
    path.write_text(text)
    with pytest.raises(HookError) as raised:
        change(path, agent)
    assert str(raised.value) == f"{path}{message}"
    assert path.read_text() == text and not path.with_name("hooks.json.bak").exists()


def test_install_commands(monkeypatch, capsys, tmp_path):
    monkeypatch.chdir(tmp_path)
    monkeypatch.setenv("CODEX_HOME", str(tmp_path / "home"))
    assert cli.main(["hook", "install", "codex"]) == 0
    assert capsys.readouterr().out == (
        f"proofmark: added to {tmp_path}/.codex/hooks.json: {json.dumps(CODEX_ENTRY)}\n"
        "proofmark: Codex runs a new hook only once you have reviewed and trusted it: "
        "open /hooks in Codex.\n")
    assert cli.main(["hook", "install", "codex", "--user"]) == 0
    assert (tmp_path / "home" / "hooks.json").exists()
    assert cli.main(["hook", "install"]) == 0  # Claude Code, as before there was a choice
    assert (tmp_path / ".claude" / "settings.json").exists()
    (tmp_path / ".codex" / "hooks.json").write_text("[")
    capsys.readouterr()
    assert cli.main(["hook", "uninstall", "codex"]) == 2
    assert capsys.readouterr().err.count("\n") == 1
