"""The package's Python API: check_turn, lazy loading of the engine, and the type stubs."""

import dataclasses
import importlib.util
import os
import subprocess
import sys
import sysconfig
import textwrap
from pathlib import Path

import pytest

import proofmark_core

PACKAGE_HOME = Path(proofmark_core.__file__).resolve().parent.parent


def test_importing_the_package_leaves_the_engine_unloaded_until_used():
    probe = ("import sys, proofmark_core\n"
             "print('proofmark_core.verify' in sys.modules)\n"
             "proofmark_core.check_turn\n"
             "print('proofmark_core.verify' in sys.modules)\n")
    done = subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True,
                          cwd=PACKAGE_HOME, check=True)
    assert done.stdout.split() == ["False", "True"]


def test_check_turn_gives_each_claim_its_verdict_in_order():
    run_log = {"events": [], "external": [], "written": [],
               "commands": [{"command": "pytest -q", "exit_code": 1}]}
    claims = [{"kind": "command_ran", "text": "Ran `pytest -q`", "targets": ["pytest -q"]},
              {"text": "All done"}]
    results = proofmark_core.check_turn(run_log, claims)
    assert [(r.verdict, r.evidence) for r in results] == [
        ("contradicted", "`pytest -q` ran but FAILED (exit 1)"),
        ("unchecked", "nothing literal to check"),
    ]
    assert [r.claim for r in results] == claims
    assert results[0].claim is claims[0]
    with pytest.raises(dataclasses.FrozenInstanceError):
        results[0].verdict = "verified"


USAGE = '''
    from typing import TYPE_CHECKING

    import proofmark_core
    from proofmark_core import ClaimResult, check_turn
    from proofmark_core.verify import NUM_RE, READ_TOOLS, _in, _kind_of, verify

    if TYPE_CHECKING:
        from proofmark_core.verify import Claim, CommandRecord, RunLog, Verdict

    command: CommandRecord = {"command": "pytest -q", "exit_code": 1}
    log: RunLog = {"events": [{"tool": "read_file", "wrote": False, "output": "x"}],
                   "external": [{"args": {"to": "#ops"}}], "written": [], "commands": [command]}
    claim: Claim = {"kind": "command_ran", "targets": ["pytest -q"]}
    verdict: Verdict
    verdict, evidence = verify(claim, L=log)
    results: list[ClaimResult] = check_turn(log, [claim])
    first: Verdict = results[0].verdict
    found: bool = _in("a", ["b"]) and "read_file" in READ_TOOLS
    kind: str = _kind_of("x.py")
    number = NUM_RE.match("1,000")
    verdicts: tuple[str, ...] = proofmark_core.VERDICTS
'''

MISUSE = '''
    from proofmark_core.verify import verify

    verify({"kind": "other"}, {"events": []})
    wrong: int = verify({}, {"events": [], "external": [], "written": [], "commands": []})[0]
'''


def _mypy(tmp_path, source):
    if importlib.util.find_spec("mypy") is None:
        pytest.skip("mypy is not installed")
    (tmp_path / "usage.py").write_text(textwrap.dedent(source))
    env = {key: value for key, value in os.environ.items() if key != "MYPYPATH"}
    # Installed, the package is found through py.typed; from a checkout, through MYPYPATH.
    if PACKAGE_HOME != Path(sysconfig.get_paths()["purelib"]).resolve():
        env["MYPYPATH"] = str(PACKAGE_HOME)
    return subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental",
                           "usage.py"], capture_output=True, text=True, cwd=tmp_path, env=env)


def test_stubs_type_check_a_usage_example_under_strict_mypy(tmp_path):
    done = _mypy(tmp_path, USAGE)
    assert done.returncode == 0, done.stdout


def test_stubs_catch_a_missing_record_key_and_a_wrong_result_type(tmp_path):
    done = _mypy(tmp_path, MISUSE)
    assert done.returncode == 1
    assert 'Missing keys ("external", "written", "commands")' in done.stdout
    assert 'Incompatible types in assignment (expression has type "Literal[' in done.stdout
