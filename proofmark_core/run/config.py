"""Settings kept with a project: ``[tool.proofmark]`` in ``pyproject.toml`` or the top
level of ``proofmark.toml``, the nearer of the two from the working directory upward
(``proofmark.toml`` first within one folder). ``PROOFMARK_*`` environment variables
override the file, and options given on the command line override both.
"""

from __future__ import annotations

import os
import re
import tomllib
from collections.abc import Callable, Mapping
from dataclasses import dataclass, field, replace
from fnmatch import fnmatchcase
from pathlib import Path

from proofmark_core.run.pool import cores
from proofmark_core.verdicts import VERDICTS, ClaimResult

KEY_WIDTH = 11
FORMATS = ("table", "json", "jsonl", "html", "sarif", "junit", "github", "markdown")
SCOPES = ("session", "turn")
PROJECT_FILE = "proofmark.toml"
PYPROJECT = "pyproject.toml"
TABLE = "[tool.proofmark]"
DEFAULT = "default"
# An ignore pattern with this prefix is a regular expression of claim text; any other is
# a glob of files.
CLAIM_PREFIX = "re:"


class ConfigError(ValueError):
    """A setting that cannot be used; the message names its file or variable and key."""


@dataclass(frozen=True, slots=True)
class Ignore:
    """Files left out of a run, and claims left unchecked. Globs are matched against
    the path relative to ``base`` (the configuration's folder); one without a "/"
    matches any part of the path, like a name in .gitignore."""

    globs: tuple[str, ...] = ()
    claims: tuple[re.Pattern[str], ...] = ()
    base: Path = field(default_factory=Path.cwd)

    def __bool__(self) -> bool:
        return bool(self.globs or self.claims)

    def __str__(self) -> str:
        return ", ".join([*self.globs, *(CLAIM_PREFIX + claim.pattern for claim in self.claims)])

    def file(self, path: str) -> bool:
        full = Path(os.path.abspath(path))
        try:
            relative = full.relative_to(self.base).as_posix()
        except ValueError:
            relative = full.as_posix()
        return any(_glob_matches(relative, glob) for glob in self.globs)

    def claim(self, text: str) -> re.Pattern[str] | None:
        """The first pattern that finds something in the claim's text."""
        return next((claim for claim in self.claims if claim.search(text)), None)

    def apply(self, result: ClaimResult, source: str) -> ClaimResult:
        """The result, or ``unchecked`` when a pattern finds its claim's text; the
        engine's own finding stays in ``engine_verdict`` and ``engine_evidence``."""
        text = result.claim.get("text")
        found = self.claim(text) if self.claims and isinstance(text, str) else None
        if found is None:
            return result
        evidence = f"left unchecked by the setting ignore '{CLAIM_PREFIX}{found.pattern}' ({source})"
        return replace(result, verdict="unchecked", evidence=evidence,
                       engine_verdict=result.engine_verdict or result.verdict,
                       engine_evidence=result.engine_evidence or result.evidence)


@dataclass(frozen=True, slots=True)
class Setting:
    value: object
    source: str


Parse = Callable[[object, Path], object]


def _verdicts(value: object, base: Path) -> frozenset[str]:
    names = value.split(",") if isinstance(value, str) else value
    if not isinstance(names, list) or not names or not all(isinstance(n, str) for n in names):
        raise ValueError(f"expected verdicts as a list or a comma-separated string, got {value!r}")
    verdicts = frozenset(name.strip() for name in names)
    if unknown := sorted(verdicts - set(VERDICTS)):
        raise ValueError(f"unknown verdict {unknown[0]!r} (choose from {', '.join(VERDICTS)})")
    return verdicts


def _choice(choices: tuple[str, ...]) -> Parse:
    def parse(value: object, base: Path) -> str:
        if value not in choices:
            raise ValueError(f"expected one of {', '.join(choices)}, got {value!r}")
        return value
    return parse


def _whole_number(least: int) -> Parse:
    def parse(value: object, base: Path) -> int:
        if isinstance(value, str) and value.strip().isdigit():
            value = int(value)
        if not isinstance(value, int) or isinstance(value, bool) or value < least:
            kind = "a positive whole number" if least else "a whole number"
            raise ValueError(f"expected {kind}, got {value!r}")
        return value
    return parse


def _ignore(value: object, base: Path) -> Ignore:
    patterns = [line for line in value.splitlines() if line.strip()] if isinstance(value, str) else value
    if not isinstance(patterns, list) or not all(isinstance(p, str) and p for p in patterns):
        raise ValueError(f"expected a list of patterns, got {value!r}")
    globs, claims = [], []
    for pattern in patterns:
        if not pattern.startswith(CLAIM_PREFIX):
            globs.append(pattern)
            continue
        try:
            claims.append(re.compile(pattern[len(CLAIM_PREFIX):]))
        except re.error as exc:
            raise ValueError(f"bad regular expression {pattern!r}: {exc}") from None
    return Ignore(tuple(globs), tuple(claims), base)


SETTINGS: dict[str, Parse] = {
    "fail-on": _verdicts,
    "format": _choice(FORMATS),
    "jobs": _whole_number(1),
    "max-rounds": _whole_number(0),
    "scope": _choice(SCOPES),
    "ignore": _ignore,
}


def environment_name(key: str) -> str:
    return "PROOFMARK_" + key.upper().replace("-", "_")


def default(key: str) -> object:
    if key == "jobs":
        return cores()
    return DEFAULTS[key]


DEFAULTS: dict[str, object] = {
    "fail-on": frozenset({"contradicted"}), "format": "table", "max-rounds": 2,
    "scope": "session", "ignore": Ignore(),
}


class Config:
    """The settings of the file and the environment, over the defaults."""

    def __init__(self, settings: dict[str, Setting], file: Path | None,
                 setting_file: str | None = None) -> None:
        self._settings = settings
        self.file = file
        # The file as sources name it: "pyproject.toml [tool.proofmark]".
        self.setting_file = setting_file

    def get(self, key: str, given: object = None) -> object:
        """The option given on the command line (when not None), else the setting."""
        return self.setting(key).value if given is None else given

    def setting(self, key: str) -> Setting:
        return self._settings.get(key) or Setting(default(key), DEFAULT)


def shown(value: object) -> str:
    """A value as ``proofmark config`` prints it."""
    if isinstance(value, frozenset):
        return ",".join(verdict for verdict in VERDICTS if verdict in value)
    return str(value)


def described(config: Config) -> list[str]:
    """What ``proofmark config`` prints: the file, then each setting and its source."""
    file = config.setting_file or "none found from the working directory upward"
    values = {key: shown(config.get(key)) for key in SETTINGS}
    width = max(map(len, values.values()))
    return [f"configuration file: {file}", *(
        f"{key:<{KEY_WIDTH}} {value:<{width}}  {config.setting(key).source}".rstrip()
        for key, value in values.items())]


def load(cwd: Path | None = None, environ: Mapping[str, str] | None = None) -> Config:
    """The configuration found from ``cwd`` upward, overridden by the environment.
    Raises :class:`ConfigError` for a file or value that cannot be used."""
    cwd = Path.cwd() if cwd is None else cwd
    environ = os.environ if environ is None else environ
    settings: dict[str, Setting] = {}
    where = None
    found = find_file(cwd)
    if found is not None:
        path, table = found
        name = _shown(path, cwd)
        where = name if path.name == PROJECT_FILE else f"{name} {TABLE}"
        for key, raw in table.items():
            if key not in SETTINGS:
                raise ConfigError(f"{where}: unknown key {key!r} "
                                  f"(known: {', '.join(SETTINGS)})")
            settings[key] = Setting(_parsed(key, raw, path.parent, where), where)
    for key in SETTINGS:
        variable = environment_name(key)
        # Empty is unset, as for a workflow input left blank.
        if environ.get(variable, "").strip():
            settings[key] = Setting(_parsed(key, environ[variable], cwd, variable), variable)
    return Config(settings, found[0] if found else None, where)


def find_file(start: Path) -> tuple[Path, dict[str, object]] | None:
    """The nearest configuration and its settings: a ``proofmark.toml``, or a
    ``pyproject.toml`` that has a ``[tool.proofmark]`` table."""
    for folder in (start, *start.parents):
        project = folder / PROJECT_FILE
        if project.is_file():
            return project, _read(project, start)
        pyproject = folder / PYPROJECT
        if pyproject.is_file():
            tool = _read(pyproject, start).get("tool")
            table = tool.get("proofmark") if isinstance(tool, dict) else None
            if table is not None:
                if not isinstance(table, dict):
                    raise ConfigError(f"{_shown(pyproject, start)}: tool.proofmark: expected a table")
                return pyproject, table
    return None


def _read(path: Path, cwd: Path) -> dict[str, object]:
    try:
        with path.open("rb") as stream:
            return tomllib.load(stream)
    except OSError as exc:
        raise ConfigError(f"{_shown(path, cwd)}: {exc.strerror or exc}") from None
    except (tomllib.TOMLDecodeError, UnicodeDecodeError) as exc:
        raise ConfigError(f"{_shown(path, cwd)}: invalid TOML: {exc}") from None


def _parsed(key: str, raw: object, base: Path, where: str) -> object:
    try:
        return SETTINGS[key](raw, base)
    except ValueError as exc:
        place = where if where.startswith("PROOFMARK_") else f"{where} {key}"
        raise ConfigError(f"{place}: {exc}") from None


def _shown(path: Path, cwd: Path) -> str:
    return os.path.relpath(path, cwd)


def _glob_matches(path: str, glob: str) -> bool:
    glob = glob.rstrip("/")
    if "/" not in glob:
        return any(fnmatchcase(part, glob) for part in path.split("/"))
    glob = glob.removeprefix("./")
    return fnmatchcase(path, glob) or fnmatchcase(path, glob + "/*")
