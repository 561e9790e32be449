"""Where the shared real agent data lives, beside the repository (or beside the folder of
its worktrees); tests skip without it."""

from pathlib import Path

import pytest

SHARED = next((folder / "shared" for folder in Path(__file__).resolve().parents[1:]
               if (folder / "shared").is_dir()), Path(__file__).resolve().parents[2] / "shared")
TRAJECTORIES = SHARED / "trajectories"
REALDATA = SHARED / "realdata"


def needs(path: Path) -> pytest.MarkDecorator:
    return pytest.mark.skipif(not path.exists(), reason=f"{path} is absent")


def samples(agent: str, pattern: str = "*") -> list[Path]:
    """The shared sample logs of one agent (none when the folder is absent)."""
    folder = TRAJECTORIES / agent
    return sorted(folder.glob(pattern)) if folder.is_dir() else []
