"""Claim rows on a local Ray with 2 CPUs equal the command line's results."""

import json
import os

import pytest

from test_batch import HALF_A_CHARACTER, _claim_rows, _read_rows, _rows_as_check, _turns
from test_cli import CLAIMS, PACKAGE_HOME, run

ray = pytest.importorskip("ray")
pytest.importorskip("ray.data")


@pytest.fixture(scope="module")
def local_ray(tmp_path_factory):
    # Ray's workers put the driver's working directory on their path: in a checkout,
    # that would be the package's sources instead of the installed package. They are
    # pointed at the package these tests import instead.
    here = os.getcwd()
    os.chdir(tmp_path_factory.mktemp("ray"))
    try:
        ray.init(num_cpus=2, include_dashboard=False, log_to_driver=False,
                 runtime_env={"env_vars": {"PYTHONPATH": str(PACKAGE_HOME)}})
        yield
        ray.shutdown()
    finally:
        os.chdir(here)


def test_rows_of_paths_and_of_records_equal_the_command_line(local_ray, tmp_path):
    from proofmark_core.ray import claim_rows

    path = _turns(tmp_path)
    expected = _rows_as_check(run("check", "--format", "jsonl", path).stdout)
    ray.data.DataContext.get_current().execution_options.preserve_order = True
    of_paths = claim_rows(ray.data.from_items([{"path": str(path)}])).take_all()
    assert _claim_rows(of_paths) == expected
    assert [row["record"] for row in of_paths if row["error"]] == [5]
    records = [{"record": line} for line in CLAIMS.read_text().splitlines()]
    of_records = claim_rows(ray.data.from_items(records)).take_all()
    from_cli = _rows_as_check(run("check", "--format", "jsonl", CLAIMS).stdout)
    assert [row["verdict"] for row in of_records] == [row["verdict"] for row in from_cli]
    [half] = claim_rows(ray.data.from_items([{"record": json.dumps(HALF_A_CHARACTER)}])).take_all()
    assert half["text"] == "Added `a\ufffd.py`"


def test_batch_command_on_a_local_ray(tmp_path):
    # Named relative to the command's working directory, which Ray's workers do not share.
    path = os.path.relpath(_turns(tmp_path), PACKAGE_HOME)
    out = tmp_path / "rows.parquet"
    done = run("batch", "--ray", "local", "--jobs", "2", path, "-o", out)
    assert done.returncode == 2, done.stderr
    local = tmp_path / "local.jsonl"
    run("batch", path, "-o", local)
    assert _read_rows(out) == [json.loads(line) for line in local.read_text().splitlines()]
