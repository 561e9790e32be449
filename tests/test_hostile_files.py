"""Hostile inputs through the command as a user runs it: huge integers, deep nesting,
endless and special files, pipe paths, and arguments at their extremes. Each ends in
one line on standard error and exit 2 (or in the right result), never in a traceback,
a hang or memory without bound."""
import contextlib
import gzip
import json
import os
import resource
import signal
import subprocess
import sys
import threading
from pathlib import Path

import pytest

import proofmark_core
from memory_cap import capped

PACKAGE_HOME = Path(proofmark_core.__file__).resolve().parent.parent
SESSION = Path(__file__).resolve().parent.parent / "examples" / "session.jsonl"
EMPTY_LOG = {"events": [], "external": [], "written": [], "commands": []}
GOOD = {"run_log": EMPTY_LOG, "claims": [{"kind": "other", "text": "All done", "targets": []}]}
HUGE = "7" * 5000
# Address space for a child: enough to run, far too little to read an endless input whole.
MEMORY = 1 << 30
SMALL_LIMIT = ["--size-limit", "1M"]

pytestmark = pytest.mark.timeout(60)


def run(*args, stdin=subprocess.DEVNULL, pass_fds=()):
    return subprocess.run([sys.executable, "-m", "proofmark_core", *map(str, args)],
                          stdin=stdin, capture_output=True, cwd=PACKAGE_HOME, timeout=40,
                          preexec_fn=capped(MEMORY), pass_fds=pass_fds)


def one_error(done, *fragments):
    """The run ended with exit 2 and one line on standard error holding the fragments."""
    errors = [line for line in done.stderr.decode(errors="replace").splitlines()
              if " written to " not in line]  # the summary of batch and import -o
    assert done.returncode == 2, errors
    assert len(errors) == 1 and errors[0].startswith("proofmark: "), errors
    for fragment in fragments:
        assert fragment in errors[0]
    return errors[0]


def claude_line(number_text):
    return ('{"type":"user","sessionId":"s","message":{"role":"user","content":"hi"},'
            f'"n":{number_text}}}\n')


@pytest.mark.parametrize("name, content, args", [
    ("turns.jsonl", f'{{"run_log": {json.dumps(EMPTY_LOG)}, "claims": [], "x": {HUGE}}}\n', []),
    ("turns.txt", f'{{"run_log": {json.dumps(EMPTY_LOG)}, "claims": [], "x": {HUGE}}}\n', []),
    ("turn.json", f'{{\n"run_log": {json.dumps(EMPTY_LOG)}, "x": {HUGE}}}', []),
    ("list.json", f'[{json.dumps(GOOD)}, {HUGE}]', []),
    ("session.jsonl", claude_line(HUGE), []),
    ("session.jsonl", claude_line(HUGE), ["--format", "html"]),
    ("session.jsonl", claude_line(HUGE), ["--from", "claude-code"]),
    ("note.json", f'{{"n": {HUGE}}}', []),
])
def test_a_huge_integer_is_one_clean_error(name, content, args, tmp_path):
    (tmp_path / name).write_text(content)
    commands = [["check", *args]] if args else [
        ["check"], ["import"], ["batch", "-o", tmp_path / "rows.jsonl"]]
    for command in commands:
        one_error(run(*command, tmp_path / name), name, "more than 4300 digits")


@pytest.mark.parametrize("value, message", [
    ({"file": "a", "verdict": "verified", "deep": "DEEP"}, "nested too deeply"),
    ({"file": "a", "verdict": "verified", "n": "HUGE"}, "digits"),
])
def test_report_of_a_deep_or_huge_line_is_one_clean_error(value, message, tmp_path):
    # Deeper than any interpreter's decoder goes (3.14 bounds it by stack, not by count).
    deep = "[" * 200_000 + "]" * 200_000
    text = json.dumps(value).replace('"DEEP"', deep).replace('"HUGE"', HUGE)
    (tmp_path / "results.jsonl").write_text(text + "\n")
    done = run("report", tmp_path / "results.jsonl", "-o", tmp_path / "page.html")
    one_error(done, "results.jsonl:1", message)
    assert not (tmp_path / "page.html").exists()


def special_inputs(tmp_path):
    folder = tmp_path / "logs"
    folder.mkdir()
    (folder / "zero.jsonl").symlink_to("/dev/zero")
    return {"/dev/zero": "/dev/zero", "/dev/urandom": "/dev/urandom",
            "folder": str(folder)}


@pytest.mark.parametrize("command", ["check", "import"])
@pytest.mark.parametrize("kind", ["/dev/zero", "/dev/urandom", "folder"])
def test_a_character_device_is_not_read(command, kind, tmp_path):
    path = special_inputs(tmp_path)[kind]
    done = run(command, path)
    one_error(done, "not a regular file or pipe")


def test_claims_from_a_device_are_not_read():
    done = run("check", "--claims", "/dev/zero", SESSION)
    one_error(done, "/dev/zero", "not a regular file or pipe")


@pytest.mark.parametrize("args", [["check", "-"], ["import", "-"], ["report", "-"]])
def test_endless_standard_input_stops_at_the_size_limit(args):
    with open("/dev/zero", "rb") as zero:
        done = run(*args, *SMALL_LIMIT, stdin=zero)
    one_error(done, "<stdin>", "size limit of 1 MiB")


def test_report_of_a_device_is_not_read():
    one_error(run("report", "/dev/zero"), "/dev/zero", "not a regular file or pipe")


@pytest.mark.parametrize("name, content", [
    ("turns.jsonl.gz", b"{" + b" " * (3 << 20) + b"}\n"),
    ("session.json.gz", b'{"history": [], "pad": "' + b"a" * (3 << 20) + b'"}'),
    ("turns.json.gz", b"[" + b"\"" + b"a" * (3 << 20) + b"\"]"),
])
def test_a_gzip_member_inflating_past_the_limit_is_one_error(name, content, tmp_path):
    (tmp_path / name).write_bytes(gzip.compress(content))
    one_error(run("check", *SMALL_LIMIT, tmp_path / name), name, "size limit of 1 MiB")


def test_a_line_within_the_limit_is_read(tmp_path):
    record = {**GOOD, "pad": "x" * (900 << 10)}
    (tmp_path / "turns.jsonl.gz").write_bytes(gzip.compress(json.dumps(record).encode()))
    done = run("check", *SMALL_LIMIT, "--format", "jsonl", tmp_path / "turns.jsonl.gz")
    assert done.returncode == 0, done.stderr


@pytest.mark.parametrize("value", ["0", "-1", "1X", "lots"])
def test_an_unusable_size_limit_is_a_usage_error(value):
    done = run("check", "--size-limit", value, SESSION)
    assert done.returncode == 2 and b"argument --size-limit: expected a size" in done.stderr


@pytest.mark.parametrize("where", ["path", "folder", "claims"])
def test_a_fifo_without_a_writer_is_not_waited_for(where, tmp_path):
    fifo = tmp_path / "logs" / "session.jsonl"
    fifo.parent.mkdir()
    os.mkfifo(fifo)
    args = {"path": [fifo], "folder": [fifo.parent], "claims": ["--claims", fifo, SESSION]}
    one_error(run("check", *args[where]), str(fifo), "not a regular file or pipe")


def fed_pipe(data):
    """A pipe whose writer sends data from a thread: the read end's descriptor."""
    read, write = os.pipe()

    def feed():
        with open(write, "wb") as stream:
            stream.write(data)
    threading.Thread(target=feed, daemon=True).start()
    return read


@pytest.mark.parametrize("path", [SESSION, SESSION.parent / "claims.jsonl"])
def test_a_pipe_path_is_read_like_the_file(path):
    expected = run("check", "--format", "jsonl", path)
    read = fed_pipe(path.read_bytes())
    try:
        done = run("check", "--format", "jsonl", f"/dev/fd/{read}", pass_fds=(read,))
    finally:
        os.close(read)
    verdicts = [[line.get("verdict") for line in map(json.loads, out.stdout.splitlines())]
                for out in (expected, done)]
    assert done.returncode == expected.returncode, done.stderr
    assert verdicts[0] == verdicts[1] and "verified" in verdicts[1]


def test_report_to_a_full_device_names_the_output(tmp_path):
    results = run("check", "--format", "jsonl", SESSION).stdout
    (tmp_path / "results.jsonl").write_bytes(results)
    one_error(run("report", tmp_path / "results.jsonl", "-o", "/dev/full"), "/dev/full")


def processes_of_this_user():
    count = 0
    for entry in Path("/proc").iterdir():
        try:
            count += entry.name.isdigit() and entry.stat().st_uid == os.getuid()
        except OSError:
            pass
    return count


def test_many_jobs_start_no_more_workers_than_there_is_work():
    # Room for a few workers more than the two logs need, not for ten thousand.
    room = processes_of_this_user() + 64

    def few_processes():
        resource.setrlimit(resource.RLIMIT_NPROC, (room, room))
    child = subprocess.Popen([sys.executable, "-m", "proofmark_core", "check", "--jobs", "10000",
                              SESSION, SESSION], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             cwd=PACKAGE_HOME, preexec_fn=few_processes, start_new_session=True)
    try:
        out, err = child.communicate(timeout=30)
    finally:  # workers it started must not outlive a failed run
        with contextlib.suppress(ProcessLookupError):
            os.killpg(child.pid, signal.SIGKILL)
        child.wait()
    assert child.returncode == 1 and out.count(b"contradicted") >= 2, err


@pytest.mark.timeout(20)
def test_a_long_run_of_blank_lines_is_passed_over_quickly(tmp_path):
    (tmp_path / "turns.jsonl").write_bytes(b"\n" * (30 << 20) + json.dumps(GOOD).encode())
    done = run("check", "--format", "jsonl", tmp_path / "turns.jsonl")
    assert done.returncode == 0
    assert json.loads(done.stdout.splitlines()[0])["line"] == (30 << 20) + 1


def test_a_wrong_from_turns_is_one_line():
    one_error(run("check", "--from", "turns", SESSION), "session.jsonl", "not turn records")
