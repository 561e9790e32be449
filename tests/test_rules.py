"""The product rules above the engine: session recaps, reported failures, refused
writes and command identity, each on a small session of its own."""

import pytest

from proofmark_core import check_turn
from proofmark_core.rules import Session, SessionLog, apply, check_session
from runlogs import claim, event, ran, read, run_log, wrote


def judged(session, the_claim):
    """The engine's result on the session's last turn, and the ruled one."""
    if isinstance(session, list):
        session = Session(tuple(session))
    engine = check_turn(session.run_log, [the_claim])[0]
    return engine, check_session(session, [the_claim])[0]


def session_of(*turns, first=0):
    """The turns as the run stage hands them to the rules: earlier ones kept lean."""
    log = SessionLog(first)
    for turn in turns[:-1]:
        log.add(turn)
    return log.session(turns[-1])


ADDED_LOG_SERVER = claim("file_changed", "Added `scripts/log-server.mjs`", "scripts/log-server.mjs")
SERVER_WRITTEN = run_log([wrote("import http from 'node:http'")],
                         written=["scripts/log-server.mjs"])


def test_a_recap_of_an_earlier_turn_is_verified_by_that_turn():
    session = session_of(run_log(), SERVER_WRITTEN, run_log(), run_log([read("ok")]), first=2)
    engine, ruled = judged(session, ADDED_LOG_SERVER)
    assert engine.verdict == "unverified"
    assert (ruled.verdict, ruled.evidence) == ("verified", "turn 3: `scripts/log-server.mjs` in write")
    assert (ruled.engine_verdict, ruled.engine_evidence) == (engine.verdict, engine.evidence)


@pytest.mark.parametrize("earlier", [
    run_log([read("scripts/log-server.mjs: 40 lines")]),
    run_log([event("terminal", command="cat scripts/log-server.mjs", output="...")],
            [ran("cat scripts/log-server.mjs")]),
    run_log(),
], ids=["read", "cat", "nothing"])
def test_a_file_no_turn_wrote_stays_as_the_engine_found_it(earlier):
    engine, ruled = judged(session_of(earlier, run_log()), ADDED_LOG_SERVER)
    assert ruled == engine and ruled.engine_verdict is None


@pytest.mark.parametrize("text", [
    "Ran `./gradlew assembleDebug`: failed because JAVA_HOME is unset.",
    "Tried `./gradlew assembleDebug`, but it could not find a JDK.",
    "`./gradlew assembleDebug` 构建失败，未能找到 JDK。",
    "`./gradlew assembleDebug` は JDK がないため失敗しました。",
    "`./gradlew assembleDebug` ist fehlgeschlagen.",
])
def test_an_honest_report_of_a_failure_is_verified_by_the_failing_run(text):
    turn = run_log(commands=[ran("cd app && ./gradlew assembleDebug", 1)])
    engine, ruled = judged([turn], claim("command_ran", text, "./gradlew assembleDebug"))
    assert engine.verdict == "contradicted"
    assert ruled.verdict == "verified"
    assert ruled.evidence == ("`./gradlew assembleDebug` ran and FAILED (exit 1), "
                              "as the claim says")


def test_a_reported_failure_the_engine_verified_is_not_contradicted_by_its_runs():
    turn = run_log(commands=[ran("bin/test", 1), ran("bin/test", 1)], written=["bin/test"])
    the_claim = claim("other", "The command failed because `bin/test` exited non-zero.",
                      "bin/test")
    engine, ruled = judged([turn], the_claim)
    assert ruled == engine and engine.verdict == "verified"


@pytest.mark.parametrize("text", [
    "Fixed the test that failed; `pytest -q` passes.",
    "Ran `pytest -q`: 12 passed, 0 failed.",
])
def test_a_failure_the_claim_does_not_report_stays_contradicted(text):
    turn = run_log(commands=[ran("pytest -q", 1)])
    engine, ruled = judged([turn], claim("command_ran", text, "pytest -q"))
    assert ruled.verdict == engine.verdict == "contradicted"


REFUSED = {"path": "/repo/src/portalocker.py",
           "reason": "No file open. Use the `open` command first."}
UPDATED_PORTALOCKER = claim("file_changed", "Updated `portalocker.py` to take an exclusive lock",
                            "portalocker.py", "exclusive lock")


def refused_turn(**extra):
    turn = run_log([read("[File: /repo/src/portalocker.py (80 lines total)]\nimport fcntl"),
                    event("edit", output="No file open. Use the `open` command first.\n"
                                         "# take an exclusive lock")], **extra)
    turn["refused"] = [REFUSED]
    return turn


def test_a_claimed_write_that_was_refused_is_contradicted():
    engine, ruled = judged([refused_turn()], UPDATED_PORTALOCKER)
    assert engine.verdict == "verified"
    assert (ruled.verdict, ruled.evidence) == (
        "contradicted", "the edit of `portalocker.py` was refused: No file open. Use the "
                        "`open` command first.")


@pytest.mark.parametrize("writer", [
    run_log(written=["src/portalocker.py"]),
    run_log(commands=[ran("cp /tmp/portalocker.py src/portalocker.py")]),
    run_log([event("execute_code", command="open('src/portalocker.py', 'w').write(s)")]),
], ids=["write tool", "cp", "code"])
def test_a_refused_write_made_by_another_call_of_the_session_is_no_overclaim(writer):
    engine, ruled = judged(session_of(writer, refused_turn()), UPDATED_PORTALOCKER)
    assert ruled == engine


def test_a_refused_write_the_claim_reports_is_verified():
    failed = claim("file_changed", "Could not update `portalocker.py`: the edit was refused.",
                   "portalocker.py")
    _, ruled = judged([refused_turn()], failed)
    assert ruled.verdict == "verified"
    assert ruled.evidence.startswith("the edit of `portalocker.py` was refused")


@pytest.mark.parametrize("kind, target, commands", [
    ("command_ran", "kubectl apply -f k8s/app.yaml",
     [ran("head k8s/app.yaml"), ran("kubectl apply -f k8s/app.yaml", 1),
      ran("kubectl apply --wait -f k8s/app.yaml", 1)]),
    ("other", "cp -r a/* b/", [ran("mkdir -p a b"), *[ran("cp -r a/* b/", 1)] * 5]),
    ("file_changed", "cp -r a/* b/", [ran("mkdir -p a b"), *[ran("cp -r a/* b/", 1)] * 5]),
], ids=["kubectl", "cp", "copied"])
def test_a_command_is_not_credited_with_its_pieces_in_other_commands(kind, target, commands):
    turn = run_log(commands=commands, written=["k8s/app.yaml"])
    engine, ruled = judged([turn], claim(kind, f"Copied it, ran `{target}`", target))
    assert engine.verdict != "contradicted"
    assert ruled.verdict == "contradicted"
    assert ruled.evidence.startswith(f"`{target}` ran ")
    assert ruled.evidence.endswith("every run FAILED (exit 1)")


@pytest.mark.parametrize("line, runs", [
    ("cd api && python -m alembic -x db=dev upgrade head 2>&1 | tail -5", True),
    ("DB_URL=sqlite:// uv run alembic upgrade head", True),
    ("alembic downgrade head", False),
])
def test_the_runs_of_a_command_are_found_however_it_was_launched(line, runs):
    turn = run_log(commands=[ran(line, 1)])
    engine, ruled = judged([turn], claim("other", "Ran `alembic upgrade head`: it worked",
                                         "alembic upgrade head"))
    assert engine.verdict != "contradicted"
    assert (ruled.verdict == "contradicted") == runs


def test_a_build_said_to_pass_after_only_failed_runs_is_contradicted():
    turn = run_log([event("terminal", command="./gradlew assembleDebug",
                          output="> Task :app:compileDebugKotlin FAILED")],
                   [ran("./gradlew assembleDebug", 1), ran("./gradlew clean")])
    the_claim = claim("other", "Ran `./gradlew assembleDebug`: the build passed",
                      "./gradlew assembleDebug")
    engine, ruled = judged([turn], the_claim)
    assert engine.verdict != "contradicted"
    assert ruled.verdict == "contradicted"


def test_a_recapped_command_is_judged_by_the_runs_of_its_turn():
    session = session_of(run_log(commands=[ran("alembic upgrade head", 2)]), run_log(), first=4)
    _, ruled = judged(session, claim("command_ran", "The initial `alembic upgrade head` run "
                                                    "succeeded", "alembic upgrade head"))
    assert (ruled.verdict, ruled.evidence) == (
        "contradicted", "turn 4: `alembic upgrade head` ran once, every run FAILED (exit 2)")


def test_a_session_sees_only_the_turns_before_its_own():
    log = SessionLog()
    log.add(run_log())
    session = log.session(run_log())
    log.add(session.run_log)
    log.add(run_log([wrote("import http from 'node:http'")], [ran("alembic upgrade head", 1)],
                    written=["scripts/log-server.mjs"]))
    ran_mix = claim("command_ran", "Ran `alembic upgrade head`", "alembic upgrade head")
    for seen in (session, Session(session.turns)):
        assert [result.verdict for result in check_session(seen, [ADDED_LOG_SERVER, ran_mix])] \
            == ["unverified", "unverified"]


def test_results_no_rule_changed_are_the_engines():
    turn = run_log([wrote("x = 1")], [ran("alembic upgrade head", 1)], written=["src/a.py"])
    claims = [claim("file_changed", "Added `src/a.py`", "src/a.py"),
              claim("command_ran", "Ran `alembic upgrade head`", "alembic upgrade head"),
              claim("other", "All done")]
    engine = check_turn(turn, claims)
    assert apply(Session((turn,)), engine) == engine
