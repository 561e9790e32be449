"""The hook under hostile conditions: text the log cannot encode, an output that is
closed or full, endless transcripts and payloads. It always exits 0, and lets the
turn end on time."""
import json
import os
import subprocess
import sys
import time
from pathlib import Path

import pytest

import proofmark_core
from memory_cap import capped

PACKAGE_HOME = Path(proofmark_core.__file__).resolve().parent.parent
HOOK = Path(__file__).resolve().parent / "hook"
CONTRADICTED = HOOK / "contradicted.jsonl"
MEMORY = 1 << 30

pytestmark = pytest.mark.timeout(60)


def hook(*args, payload=None, stdin=None, stdout=subprocess.PIPE, env=None):
    """The hook run as the agent runs it: (exit status, stdout, stderr, seconds)."""
    started = time.monotonic()
    done = subprocess.run([sys.executable, "-m", "proofmark_core", "hook", *args],
                          input=None if payload is None else payload, stdin=stdin,
                          stdout=stdout, stderr=subprocess.PIPE, cwd=PACKAGE_HOME,
                          env={**os.environ, **(env or {})}, timeout=40,
                          preexec_fn=capped(MEMORY))
    return done.returncode, done.stdout, done.stderr, time.monotonic() - started


def stop_payload(transcript, session="s-1"):
    return (json.dumps({"session_id": session, "transcript_path": str(transcript),
                        "hook_event_name": "Stop", "stop_hook_active": False})
            .encode("utf-8", "surrogatepass"))


def test_a_session_id_the_log_cannot_encode_is_logged_all_the_same(tmp_path):
    log = tmp_path / "hook.jsonl"
    status, out, err, _ = hook("claude-code", "--log", log,
                               payload=stop_payload(CONTRADICTED, "s-\udc80"),
                               env={"XDG_STATE_HOME": str(tmp_path)})
    assert (status, b"Traceback" in err) == (0, False), err
    assert json.loads(out)["decision"] == "block"
    assert json.loads(log.read_text())["blocked"] is True


def test_a_codex_thread_id_the_log_cannot_encode_is_logged_all_the_same(tmp_path):
    log = tmp_path / "hook.jsonl"
    sent = '{"type": "agent-turn-complete", "thread-id": "t-\\udc80"}'
    status, _, err, _ = hook("codex-notify", "--log", log, sent,
                             env={"CODEX_HOME": str(tmp_path)})
    assert (status, b"Traceback" in err) == (0, False), err
    assert "error" in json.loads(log.read_text())


@pytest.mark.parametrize("output", ["closed", "/dev/full"])
def test_a_decision_nobody_can_read_ends_the_hook_quietly(output, tmp_path):
    if output == "closed":
        read, write = os.pipe()
        os.close(read)
        stdout = write
    else:
        stdout = os.open(output, os.O_WRONLY)
    try:
        status, _, err, _ = hook("claude-code", payload=stop_payload(CONTRADICTED),
                                 stdout=stdout, env={"XDG_STATE_HOME": str(tmp_path)})
    finally:
        os.close(stdout)
    assert (status, err) == (0, b"")


@pytest.mark.parametrize("transcript", ["/dev/zero", "/dev/urandom"])
def test_an_endless_transcript_lets_the_turn_end_at_once(transcript, tmp_path):
    status, out, err, seconds = hook("claude-code", payload=stop_payload(transcript),
                                     env={"XDG_STATE_HOME": str(tmp_path)})
    assert (status, out) == (0, b"")
    assert b"not a regular file or pipe" in err and seconds < 10


def test_an_endless_payload_stops_at_the_size_limit(tmp_path):
    with open("/dev/zero", "rb") as zero:
        status, out, err, seconds = hook("claude-code", "--deadline", "5", "--size-limit", "1M",
                                         stdin=zero)
    assert (status, out) == (0, b"") and seconds < 10
    assert b"size limit of 1 MiB" in err and err.endswith(b"the turn ends unchecked\n")


def test_a_fifo_transcript_without_a_writer_is_not_waited_for(tmp_path):
    fifo = tmp_path / "session.jsonl"
    os.mkfifo(fifo)
    status, out, err, _ = hook("claude-code", "--deadline", "0", payload=stop_payload(fifo),
                               env={"XDG_STATE_HOME": str(tmp_path)})
    assert (status, out) == (0, b"") and b"not a regular file or pipe" in err
