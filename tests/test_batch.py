"""Checking many turns: worker processes, claim rows to Parquet or JSONL, and Ray.

Every path must give what the plain single-process ``proofmark check`` gives.
"""

import gzip
import json
import os
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

from proofmark_core.run import pool as _parallel
from test_cli import CLAIMS, EMPTY_LOG, GOOD, PACKAGE_HOME, _env, jsonl, jsonl_results, run

COMMON = ("file", "agent", "session", "claim", "kind", "text", "verdict", "evidence")


def _turns(tmp_path, count=12):
    """Turn records whose claims get every verdict, with one bad record among them."""
    records = [json.loads(line) for line in CLAIMS.read_text().splitlines()]
    lines = [json.dumps(records[i % 2]) for i in range(count)]
    lines[5] = '{"run_log": '
    path = tmp_path / "turns.jsonl"
    path.write_text("\n".join(lines) + "\n")
    return path


def _rows_as_check(stdout):
    results, _ = jsonl_results(stdout)
    return [{**{key: result[key] for key in COMMON},
             "turn": result["turn"] if result["turn"] is not None else result["record"]}
            for result in results]


def _claim_rows(rows):
    return [{key: row[key] for key in (*COMMON, "turn")} for row in rows if row["error"] is None]


@pytest.mark.parametrize("jobs", ["1", "2", "3"])
def test_workers_keep_input_order_and_every_error(jobs, tmp_path):
    path = _turns(tmp_path)
    single = run("check", "--format", "jsonl", "--jobs", "1", path)
    done = run("check", "--format", "jsonl", "--jobs", jobs, path, tmp_path / "missing.jsonl")
    assert done.stdout.startswith(single.stdout.rsplit(b"\n", 2)[0])
    assert done.returncode == 2
    assert done.stderr.decode().splitlines() == [
        f"proofmark: {path}:6: record 5: invalid JSON at column 13: Expecting value",
        f"proofmark: {tmp_path / 'missing.jsonl'}: No such file or directory"]


@pytest.mark.parametrize("jobs", ["1", "2"])
def test_gzip_and_piped_input_read_as_the_plain_file(jobs, tmp_path):
    path = _turns(tmp_path)
    packed = tmp_path / "turns.jsonl.gz"
    packed.write_bytes(gzip.compress(path.read_bytes()))
    plain = run("check", "--format", "jsonl", "--jobs", "1", path)
    zipped = run("check", "--format", "jsonl", "--jobs", jobs, packed)
    piped = run("check", "--format", "jsonl", "--jobs", jobs, "-", stdin=path.read_bytes())
    assert zipped.stdout.replace(b".jsonl.gz", b".jsonl") == plain.stdout
    assert piped.stdout.replace(b"<stdin>", str(path).encode()) == plain.stdout


def test_gzip_input_cut_short_is_checked_up_to_the_cut(tmp_path):
    packed = tmp_path / "turns.jsonl.gz"
    whole = gzip.compress(_turns(tmp_path, count=400).read_bytes())
    packed.write_bytes(whole[:len(whole) // 2])
    done = run("check", "--format", "jsonl", packed)
    assert done.returncode == 2
    assert done.stderr.decode().splitlines()[-1] == (
        f"proofmark: {packed}: the compressed data ends before its end marker: "
        "the file is cut short")
    results, last = jsonl_results(done.stdout)
    assert results and last["summary"]["records"] < 400


@pytest.mark.parametrize("cpu_max, cfs, cores", [
    ("max 100000", None, 8),
    ("150000 100000", None, 2),
    ("50000 100000", None, 1),
    ("1600000 100000", None, 8),
    (None, ("-1", "100000"), 8),
    (None, ("300000", "100000"), 3),
    (None, None, 8),
    ("garbage", None, 8),
])
def test_workers_by_default_as_many_as_the_cpu_quota_keeps_busy(cpu_max, cfs, cores, tmp_path,
                                                                monkeypatch):
    files = [("CPU_MAX", cpu_max), *zip(("CFS_QUOTA", "CFS_PERIOD"), cfs or [None] * 2)]
    for name, text in files:
        path = tmp_path / name
        if text is not None:
            path.write_text(text + "\n")
        monkeypatch.setattr(_parallel, name, str(path))
    monkeypatch.setattr(os, "sched_getaffinity", lambda pid: set(range(8)))
    assert _parallel.cores() == cores


# The command as a terminal starts it: Ctrl-C raises KeyboardInterrupt.
INTERRUPTIBLE = ("import signal; signal.signal(signal.SIGINT, signal.default_int_handler)\n"
                 "from proofmark_core.cli import main\nraise SystemExit(main())")


def test_ctrl_c_ends_a_run_on_workers_quietly():
    child = subprocess.Popen([sys.executable, "-c", INTERRUPTIBLE, "check", "--format", "jsonl",
                              "--jobs", "2", "-"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, cwd=PACKAGE_HOME, env=_env(),
                             start_new_session=True)
    # Two batches for the workers, then the input stays open: they wait for more.
    child.stdin.write(jsonl(*[GOOD] * 600))
    child.stdin.flush()
    time.sleep(0.5)
    os.killpg(child.pid, signal.SIGINT)  # as Ctrl-C does: every process of the group
    _, err = child.communicate()
    assert (child.returncode, err.decode()) == (130, "")


@pytest.mark.skipif(not hasattr(signal, "pthread_sigmask"), reason="no signal masks here")
def test_ctrl_c_while_workers_start_comes_once_they_have_started():
    # Taken inside the fork's handlers it was lost (the run went on, exit 0), or it
    # left the pool half started (a traceback).
    started = False
    with pytest.raises(KeyboardInterrupt):
        with _parallel._interrupts_held():
            signal.pthread_kill(threading.get_ident(), signal.SIGINT)
            started = True
    assert started


# The command with a check whose worker dies at the fourth record.
DIES_IN_ITS_WORKER = """
import os, sys
from proofmark_core import cli
from proofmark_core.commands import check as check_command
from proofmark_core.run import batch as _batch, tasks as _tasks

def dies(unit, excerpts=False, strict=False):
    if unit.where.record == 3:
        os._exit(1)
    return _tasks.check_task(unit, excerpts, strict)

check_command.check_task = _batch.check_task = dies
sys.exit(cli.main(sys.argv[1:]))
"""


@pytest.mark.parametrize("command", ["check", "batch"])
def test_a_worker_that_dies_is_one_error_and_the_report_still_ends(command, tmp_path):
    path, out = _turns(tmp_path), tmp_path / "rows.jsonl"
    args = ["--format", "jsonl"] if command == "check" else ["-o", str(out)]
    done = subprocess.run([sys.executable, "-c", DIES_IN_ITS_WORKER, command, "--jobs", "2",
                           *args, str(path)], capture_output=True, cwd=PACKAGE_HOME, env=_env())
    assert done.returncode == 2
    assert (f"proofmark: {path}:1: record 0: a worker process ended before it gave back its "
            "results (killed, or out of memory?); this turn and those after it are not "
            "checked\n").encode() in done.stderr
    if command == "check":
        assert json.loads(done.stdout.splitlines()[-1])["summary"]["errors"] == 1
    else:
        assert json.loads(out.read_text().splitlines()[-1])["error"].startswith("a worker")


def test_import_writes_records_that_check_the_same(tmp_path):
    path = _turns(tmp_path)
    out = tmp_path / "imported.jsonl"
    done = run("import", path, "-o", out)
    assert done.returncode == 2 and b"record 5" in done.stderr
    direct = _rows_as_check(run("check", "--format", "jsonl", path).stdout)
    again = _rows_as_check(run("check", "--format", "jsonl", out).stdout)
    assert [row["verdict"] for row in again] == [row["verdict"] for row in direct]


def test_claims_file_replaces_the_claims_of_the_last_turn(tmp_path):
    path = tmp_path / "turns.jsonl"
    path.write_bytes(jsonl({"run_log": EMPTY_LOG, "claims": []}, json.loads(
        CLAIMS.read_text().splitlines()[0])))
    claims = tmp_path / "claims.json"
    claims.write_text(json.dumps([{"kind": "command_ran", "text": "Ran `pytest -q`",
                                   "targets": ["pytest -q"]}]))
    results, last = jsonl_results(run("check", "--format", "jsonl", "--claims", claims,
                                      path).stdout)
    assert [(r["record"], r["verdict"]) for r in results] == [(1, "contradicted")]
    assert last["summary"]["records"] == 1


@pytest.mark.parametrize("out_name", ["rows.jsonl", "rows.parquet"])
def test_batch_rows_equal_the_check_results(out_name, tmp_path):
    if out_name.endswith(".parquet"):
        pytest.importorskip("pyarrow")
    path = _turns(tmp_path)
    out = tmp_path / out_name
    done = run("batch", path, "-o", out, "--jobs", "2")
    assert done.returncode == 2 and b"record 5" in done.stderr
    rows = _read_rows(out)
    assert [row["error"] for row in rows if row["error"]] == [
        "invalid JSON at column 13: Expecting value"]
    assert _claim_rows(rows) == _rows_as_check(run("check", "--format", "jsonl", path).stdout)


# A claim on half of a character, as JSON may hold it and UTF-8 cannot.
HALF_A_CHARACTER = {"run_log": {**EMPTY_LOG, "written": ["a\ud800.py"]},
                    "claims": [{"text": "Added `a\ud800.py`", "targets": ["a\ud800.py"]}]}


@pytest.mark.parametrize("out_name", ["rows.jsonl", "rows.parquet"])
def test_rows_hold_a_lone_surrogate_as_the_replacement_character(out_name, tmp_path):
    if out_name.endswith(".parquet"):
        pytest.importorskip("pyarrow")
    path = tmp_path / "turns.jsonl"
    path.write_bytes(jsonl(HALF_A_CHARACTER))
    assert run("batch", path, "-o", tmp_path / out_name).returncode == 0
    [row] = _read_rows(tmp_path / out_name)
    assert (row["text"], row["verdict"]) == ("Added `a\ufffd.py`", "verified")


@pytest.mark.parametrize("report", ["table", "json", "jsonl", "html"])
def test_a_report_file_holds_a_lone_surrogate(report, tmp_path):
    path = tmp_path / "turns.jsonl"
    path.write_bytes(jsonl(HALF_A_CHARACTER))
    done = run("check", "--format", report, path, "-o", tmp_path / "report")
    assert (done.returncode, done.stderr) == (0, b"")


@pytest.mark.parametrize("command", ["import", "batch"])
@pytest.mark.parametrize("out", ["missing/rows.jsonl", "/dev/full"])
def test_an_output_that_cannot_be_written_is_one_line(command, out, tmp_path):
    out = out if out.startswith("/") else str(tmp_path / out)
    done = run(command, CLAIMS, "-o", out)
    reason = "No space left on device" if out == "/dev/full" else "No such file or directory"
    assert (done.returncode, done.stderr.decode()) == (2, f"proofmark: {out}: {reason}\n")


def test_parquet_turn_records_check_as_their_jsonl(tmp_path):
    pyarrow = pytest.importorskip("pyarrow")
    parquet = pytest.importorskip("pyarrow.parquet")
    records = [json.loads(line) for line in CLAIMS.read_text().splitlines()]
    table = pyarrow.table({"run_log": [json.dumps(r["run_log"]) for r in records],
                           "claims": [json.dumps(r["claims"]) for r in records]})
    parquet.write_table(table, tmp_path / "turns.parquet")
    from_parquet = _rows_as_check(run("check", "--format", "jsonl",
                                      tmp_path / "turns.parquet").stdout)
    from_jsonl = _rows_as_check(run("check", "--format", "jsonl", CLAIMS).stdout)
    assert [r["verdict"] for r in from_parquet] == [r["verdict"] for r in from_jsonl]


def _read_rows(path):
    if path.suffix == ".parquet":
        return pytest.importorskip("pyarrow.parquet").read_table(path).to_pylist()
    return [json.loads(line) for line in path.read_text().splitlines()]


def test_inputs_and_output_by_uri_are_named_as_given(tmp_path):
    pytest.importorskip("pyarrow")
    folder = tmp_path / "logs"
    folder.mkdir()
    _turns(folder)
    out = tmp_path / "rows.parquet"
    done = run("batch", f"file://{folder}", "-o", f"file://{out}")
    assert done.returncode == 2
    assert f"proofmark: file://{folder}/turns.jsonl:6: record 5: invalid JSON".encode() in done.stderr
    assert {row["file"] for row in _read_rows(out)} == {f"file://{folder}/turns.jsonl"}


def test_workers_use_the_package_the_command_runs_from(tmp_path):
    script = Path(sys.executable).with_name("proofmark")
    if not script.exists():
        pytest.skip("the package is not installed with its scripts here")
    decoy = tmp_path / "proofmark_core"  # as a checkout in the working directory would be
    decoy.mkdir()
    (decoy / "__init__.py").write_text("raise ImportError('the decoy was imported')\n")
    done = subprocess.run([script, "check", "--jobs", "2", CLAIMS], capture_output=True,
                          cwd=tmp_path)
    assert (done.returncode, done.stderr) == (1, b"")
