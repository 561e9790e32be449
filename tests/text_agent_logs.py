"""What the tests of the mini-swe-agent and SWE-agent readers share: reading a log with
one reader, the logs of every agent to tell apart, and the edit-claim check."""

import importlib.util
from pathlib import Path

import pytest

from proofmark_core import check_turn
from proofmark_core.logs import AGENTS, TURNS, LogError
from proofmark_core.logs._file import LogFile
from shared_data import TRAJECTORIES, samples

FIXTURES = Path(__file__).parent / "logs"
LOG_SUFFIXES = (".json", ".jsonl", ".traj")

# read_turns and auto-detection need every reader and the claim extraction.
needs_all_readers = pytest.mark.skipif(
    any(importlib.util.find_spec(f"proofmark_core.logs.{name.replace('-', '_')}") is None
        for name in AGENTS) or importlib.util.find_spec("proofmark_core.claims") is None,
    reason="not every agent reader is there yet")


def read(reader, path):
    return list(reader.read(LogFile(path)))


def read_error(reader, path, content):
    """The one-line error of reading a file of this content with the reader."""
    path.write_text(content)
    with pytest.raises(LogError) as raised:
        read(reader, path)
    return str(raised.value)


def every_log():
    """(agent, path) of each shared sample, each fixture of tests/logs and a turn record."""
    found = [(agent, path) for agent in AGENTS for path in samples(agent)
             if path.is_dir() or path.name.endswith(LOG_SUFFIXES)]
    found += [(folder.name, path) for folder in sorted(FIXTURES.iterdir()) if folder.is_dir()
              for path in sorted(folder.iterdir())]
    return found + [(TURNS, Path(__file__).parents[1] / "examples" / "turn.json")]


def log_id(case):
    agent, path = case
    return f"{agent}:{path.name}"


def edit_verdicts(run_log, *paths):
    """The verdicts of "Edited `PATH`" for each path."""
    claims = [{"kind": "file_changed", "text": f"Edited `{path}`", "targets": [path]}
              for path in paths]
    return [result.verdict for result in check_turn(run_log, claims)]


def sample(agent, name, *values):
    """A test case on one shared sample, skipped when the samples are absent."""
    path = TRAJECTORIES / agent / name
    return pytest.param(path, *values, id=name,
                        marks=pytest.mark.skipif(not path.exists(), reason=f"{path} is absent"))
