"""The evidence pools: read-only calls, successful exits, external-action arguments."""
import pytest

from proofmark_core.verify import verify
from runlogs import claim, event, ran, read, run_log, wrote

# A file-change claim on a path seen in one event's output: a read-only event
# leaves it "seen only in read output", any other event leaves it not found.
CHANGED_APP = claim("file_changed", "Changed `src/app.py`", "src/app.py")
SEEN_IN_READ = ("unverified", "`src/app.py` seen only in read output; no write or command touched it")
NOT_FOUND = ("unverified", "`src/app.py` not found in any write, command or output")


@pytest.mark.parametrize(
    "tool, command, expected",
    [
        ("read_file", None, SEEN_IN_READ),
        ("search_files", None, SEEN_IN_READ),
        ("skill_view", None, SEEN_IN_READ),
        ("terminal", "cat src/app.py", SEEN_IN_READ),
        ("terminal", "  head -n 5 notes.md", SEEN_IN_READ),
        ("terminal", "ls -la", SEEN_IN_READ),
        ("terminal", "sed -n 1,5p f", SEEN_IN_READ),
        ("terminal", "rg app", SEEN_IN_READ),
        ("terminal", "git grep foo", NOT_FOUND),
        ("terminal", "echo x | grep y", NOT_FOUND),
        ("terminal", "lsof", NOT_FOUND),
        ("terminal", "cd x && cat y", NOT_FOUND),
        ("terminal", "sed -i s/a/b/ f", NOT_FOUND),
        ("terminal", "CAT f", NOT_FOUND),
        ("execute_code", "os.system('cat f')", SEEN_IN_READ),
        ("execute_code", "sqlite3.connect('a.db')", SEEN_IN_READ),
        ("execute_code", "os.system('cat f; mkdir d')", NOT_FOUND),
        ("execute_code", "db.execute('SELECT * FROM t')", NOT_FOUND),
        ("write_file", "cat f", NOT_FOUND),
    ],
)
def test_read_only_events(tool, command, expected):
    log = run_log([event(tool, command=command, output="see src/app.py")])
    assert verify(CHANGED_APP, log) == expected


def test_read_tool_command_is_never_read():
    e = event("read_file", output="see src/app.py")
    del e["command"]
    assert verify(CHANGED_APP, run_log([e])) == SEEN_IN_READ


@pytest.mark.parametrize("code", [0, "0", None, 0.0, False])
def test_successful_exits(code):
    log = run_log(commands=[ran("pytest -q", code)])
    assert verify(claim("command_ran", "ran it", "pytest -q"), log) == (
        "verified", "`pytest -q` in command (exit ok)")


@pytest.mark.parametrize("code, shown", [
    (1, "1"), (-1, "-1"), (2, "2"), ("1", "1"), ("00", "00"), (" 0", " 0"), ("", ""),
    ("ok", "ok"), (True, "True"), (0.5, "0.5"),
])
def test_failed_exits_and_their_rendering(code, shown):
    log = run_log(commands=[ran("pytest -q", code)])
    assert verify(claim("command_ran", "ran it", "pytest -q"), log) == (
        "contradicted", f"`pytest -q` ran but FAILED (exit {shown})")


def test_one_ok_and_one_failed_record_of_a_command():
    log = run_log(commands=[ran("make test", 2), ran("make test", 0)])
    assert verify(claim("command_ran", "ran it", "make test"), log)[0] == "verified"


@pytest.mark.parametrize("target, args, found", [
    ("to=alice", {"to": "alice", "n": 1}, True),  # json.dumps puts ": " after keys
    ("#releases", {"channel": "#releases"}, True),
    ("café", {"text": "café"}, False),  # non-ASCII is escaped
    ("alice", ["bob"], False),
])
def test_external_action_arguments_are_json(target, args, found):
    log = run_log(external=[args])
    verdict = verify(claim("external_action", "Sent it", target), log)
    assert (verdict == ("verified", f"`{target}` in external action")) is found


def test_event_without_payload_when_it_did_not_write():
    e = event(output="x")
    del e["payload"]
    log = run_log([e, wrote("uses src/app.py")])
    assert verify(CHANGED_APP, log) == ("verified", "`src/app.py` in write")


def test_one_shot_events_iterator_is_empty_on_later_walks():
    events = [read("see src/app.py")]
    edited = claim("other", "Edited `src/app.py`", "src/app.py")
    assert verify(edited, run_log(events)) == ("verified", "`src/app.py` in output")
    log = run_log()
    log["events"] = iter(events)
    assert verify(edited, log) == NOT_FOUND
