"""Which commands run tests, builds, linters or type checkers, however they are launched.

A command line is cut into its simple commands (``cd app && CI=1 uv run pytest -q | tail``
holds three); each loses its launchers (environment settings, ``timeout``, ``uv run``,
``python -m``, ``npx``, ``bash -c`` ...) and is then named by its program and subcommand.
"""

from __future__ import annotations

import re
from dataclasses import dataclass, replace

TEST, BUILD, LINT, TYPES = "tests", "build", "lint", "types"

# A comment, a line end, a word (quoted parts and escapes included, over several lines
# if need be) or an operator; an unclosed quote runs on to the end.
TOKEN_RE = re.compile(r"""(?<![^\s;&|()])#[^\n]*|\n"""
                      r"""|(?:[^\s'"\\;&|()]|\\.?|'[^']*'?|"(?:[^"\\]|\\.)*"?)+|&&|\|\||;;|\|&|[;&|()]""")
# "2>&1", "&> log": redirections, which hold "&" but end no command.
REDIRECTION_RE = re.compile(r"\d*[<>]&\d*-?|&>>?")
QUOTED_RE = re.compile(r"""'[^']*'?|"(?:[^"\\]|\\.)*"?|\\.""")
# Operators that end a simple command; only after "&&" is the line's exit code still
# the runner's (the rest runs only when it succeeded).
SEPARATORS = frozenset({"&&", "||", ";", "|", "|&", "&", "(", ")", ";;"})
HEREDOC_RE = re.compile(r"<<-?\s*(['\"]?)(\w+)\1")
ASSIGNMENT_RE = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*=")
PYTHON_RE = re.compile(r"^(?:python|pypy)[\d.]*(?:\.exe)?$|^py$")
# unit_tests, test-all, run_tests, runtests, BackendTests; not "latest" nor "contest".
TEST_NAME_RE = re.compile(r"(?:^|[_\-.])tests?(?:$|[_\-.])|^runtests?$|[a-z]Tests?$")
SCRIPT_SUFFIXES = (".py", ".sh", ".bash", ".ps1", ".bat", ".cmd", ".js", ".rb", ".pl")

# Programs that only start another one, with how many arguments of their own they take.
LAUNCHERS = {"sudo": 0, "env": 0, "time": 0, "nice": 0, "nohup": 0, "command": 0,
             "exec": 0, "xvfb-run": 0, "stdbuf": 0, "timeout": 1, "catchsegv": 0,
             "npx": 0, "pnpx": 0, "bunx": 0, "dotenv": 0, "unbuffer": 0, "script": 0}
# Tools whose "run"/"exec" subcommand starts another program.
RUN_VIA = {"uv": {"run"}, "poetry": {"run"}, "pipenv": {"run"}, "pdm": {"run"},
           "hatch": {"run"}, "rye": {"run"}, "conda": {"run"}, "mamba": {"run"},
           "micromamba": {"run"}, "bundle": {"exec"}, "pnpm": {"exec", "dlx"},
           "yarn": {"dlx", "exec"}, "opam": {"exec"}, "coverage": {"run"},
           "pixi": {"run"}}
SHELLS = frozenset({"bash", "sh", "zsh", "dash", "pwsh", "powershell"})

# Program → kinds of check it runs, for those whose subcommand does not matter.
PROGRAMS = {
    "pytest": {TEST}, "py.test": {TEST}, "tox": {TEST}, "nox": {TEST},
    "jest": {TEST}, "vitest": {TEST}, "mocha": {TEST}, "ava": {TEST}, "rspec": {TEST},
    "phpunit": {TEST}, "ctest": {TEST}, "nextest": {TEST}, "trial": {TEST},
    "nosetests": {TEST}, "karma": {TEST},
    "mypy": {TYPES}, "dmypy": {TYPES}, "pyright": {TYPES}, "basedpyright": {TYPES},
    "tsc": {TYPES, BUILD}, "vue-tsc": {TYPES}, "flow": {TYPES}, "pytype": {TYPES},
    "ruff": {LINT}, "flake8": {LINT}, "pylint": {LINT}, "eslint": {LINT},
    "rubocop": {LINT}, "credo": {LINT}, "golangci-lint": {LINT}, "shellcheck": {LINT},
    "stylelint": {LINT}, "biome": {LINT}, "oxlint": {LINT}, "ktlint": {LINT},
    "swiftlint": {LINT}, "hadolint": {LINT}, "markdownlint": {LINT},
    "latexmk": {BUILD}, "pdflatex": {BUILD}, "xelatex": {BUILD},
    "lualatex": {BUILD}, "msbuild": {BUILD}, "xcodebuild": {BUILD},
}
# Program → subcommand → kinds.
SUBCOMMANDS = {
    "go": {"test": {TEST}, "build": {BUILD}, "vet": {LINT}},
    "cargo": {"test": {TEST}, "nextest": {TEST}, "build": {BUILD}, "check": {BUILD, TYPES},
              "clippy": {LINT}},
    "dotnet": {"test": {TEST}, "build": {BUILD}},
    "deno": {"test": {TEST}, "check": {TYPES}, "lint": {LINT}},
    "mix": {"test": {TEST}, "compile": {BUILD}, "credo": {LINT}, "dialyzer": {TYPES}},
    "bun": {"test": {TEST}},
    "rake": {"test": {TEST}, "spec": {TEST}},
    "rails": {"test": {TEST}},
    "swift": {"test": {TEST}, "build": {BUILD}},
    "zig": {"build": {BUILD}},
    "bazel": {"test": {TEST}, "build": {BUILD}},
    "bazelisk": {"test": {TEST}, "build": {BUILD}},
    "playwright": {"test": {TEST}},
    "php": {"artisan": {TEST}},
    "composer": {"test": {TEST}},
}
PYTHON_MODULES = {**{name: PROGRAMS[name] for name in (
    "pytest", "mypy", "pyright", "ruff", "flake8", "pylint", "tox", "nox", "trial", "pytype")},
    "unittest": {TEST}, "nose": {TEST}}
PACKAGE_MANAGERS = frozenset({"npm", "yarn", "pnpm", "bun"})
# Script names of package.json, Makefiles and task runners, by what they usually do.
SCRIPT_KINDS = (
    (re.compile(r"^(?:test|tests|spec|check|ci|unittest|unit|e2e|integration)(?:[:\-_].*)?$"
                r"|^(?:test|check)\w*$"), {TEST}),
    (re.compile(r"^(?:build|compile|all|dist|bundle)(?:[:\-_].*)?$"), {BUILD}),
    (re.compile(r"^(?:lint|eslint|ruff|flake8|credo|clippy)(?:[:\-_].*)?$"), {LINT}),
    (re.compile(r"^(?:typecheck|type-check|types|tsc|mypy|check-types|pyright)(?:[:\-_].*)?$"),
     {TYPES}),
)


# A line that starts a runner names one of these (or says "test"); the others need not
# be parsed. Python itself is not one: what it runs is named ("-m pytest", "-m mypy",
# "runtests.py", "manage.py test").
RUNNER_WORDS = frozenset({*PROGRAMS, *SUBCOMMANDS, "nose", "gradle", "gradlew", "mvn", "mvnw",
                          "make", "gmake", "just", "task", "ninja", "cmake", "npm", "yarn",
                          "pnpm"})
WORD_RE = re.compile(r"[A-Za-z][\w.+-]*")


def _may_start_runner(text: str) -> bool:
    """Whether a word of the text, without its trailing digits and dots or from its first
    dot on, is a runner's: looked up together for the words that have neither."""
    lowered = text.lower()
    if "test" in lowered:
        return True
    words = set(WORD_RE.findall(lowered))
    return not RUNNER_WORDS.isdisjoint(words) or any(
        word.rstrip("0123456789.") in RUNNER_WORDS or word.split(".", 1)[0] in RUNNER_WORDS
        for word in words if "." in word or word[-1] in "0123456789")


@dataclass(frozen=True, slots=True)
class Invocation:
    """One runner started by a command line."""

    runner: str               # its usual name: "pytest", "go test", "npm test", "mypy"
    kinds: frozenset[str]     # what it checks: tests, build, lint, types
    words: str                # the simple command, launchers taken off
    exit_is_its: bool         # the command line's exit code is this runner's
    zero_is_its: bool         # an exit code of 0 says this runner succeeded ("a && b")
    needs_summary: bool = False  # a script of the agent's counts only if it printed one
    # "runner && echo OK || echo FAILED": the words echoed on success and on failure.
    echoes: tuple[str, str] | None = None


def invocations(command: str) -> list[Invocation]:
    """The runners a command line starts, in order."""
    found: list[Invocation] = []
    segments = _simple_commands(command)
    for index, (words, separator) in enumerate(segments):
        zero_is_its = all(after == "&&" for _, after in segments[index:-1])
        runners = _runners(words, separator == "", zero_is_its)
        echoes = _echoes(segments[index:])
        found += [replace(runner, echoes=echoes) for runner in runners] if echoes else runners
    return found


def _echoes(segments: list[tuple[list[str], str]]) -> tuple[str, str] | None:
    """What ``runner && echo A || echo B`` prints on success and on failure."""
    if len(segments) != 3 or [after for _, after in segments[:2]] != ["&&", "||"]:
        return None
    said = [words[1:] for words, _ in segments[1:] if words[0] in ("echo", "printf")]
    return (" ".join(said[0]), " ".join(said[1])) if len(said) == 2 else None


def runner_of(text: str) -> Invocation | None:
    """The first runner the text would start, read as a command line."""
    found = invocations(text)
    return found[0] if found else None


def _runners(words: list[str], exit_is_its: bool, zero_is_its: bool) -> list[Invocation]:
    words = _without_launchers(words)
    if not words:
        return []
    if _base(words[0]) in SHELLS and len(words) > 2 and words[1] in ("-c", "-lc", "-ic", "-Command"):
        return [replace(found, exit_is_its=found.exit_is_its and exit_is_its,
                        zero_is_its=found.zero_is_its and zero_is_its)
                for found in invocations(words[2])]
    named = _named(words)
    if named is None:
        return []
    runner, kinds, needs_summary = named
    return [Invocation(runner, frozenset(kinds), " ".join(words), exit_is_its and zero_is_its,
                       zero_is_its, needs_summary)]


def _named(words: list[str]) -> tuple[str, set[str], bool] | None:
    program, args = _base(words[0]), [w for w in words[1:] if not w.startswith("-")]
    first = args[0] if args else ""
    if PYTHON_RE.match(program):
        return _python(words[1:])
    if program in SHELLS:
        return _script(args[0], needs_summary=False) if args else None
    if program in PROGRAMS:
        return program, PROGRAMS[program], False
    if program in ("gradle", "gradlew", "gradlew.bat"):
        return _gradle(args)
    if program in ("mvn", "mvnw", "mvnw.cmd"):
        return _maven(args)
    if program in ("make", "gmake", "just", "task", "ninja"):
        return _make(program, words[1:])
    if program in PACKAGE_MANAGERS:
        return _package_script(program, args)
    if program == "cmake" and "--build" in words:
        return "cmake --build", {BUILD}, False
    if first in SUBCOMMANDS.get(program, {}):
        if program == "php" and first == "artisan":
            return ("php artisan test", {TEST}, False) if args[1:2] == ["test"] else None
        return f"{program} {first}", SUBCOMMANDS[program][first], False
    return _script(words[0], needs_summary=False) if _is_path(words[0]) else None


def _python(args: list[str]) -> tuple[str, set[str], bool] | None:
    if len(args) >= 2 and args[0] == "-m":
        module = args[1]
        if module in PYTHON_MODULES:
            return module, PYTHON_MODULES[module], False
        if module == "django" and "test" in args[2:3]:
            return "django test", {TEST}, False
        return None
    scripts = [a for a in args if not a.startswith("-")]
    if not scripts:
        return None
    if _base(scripts[0]) == "manage.py" and scripts[1:2] == ["test"]:
        return "manage.py test", {TEST}, False
    return _script(scripts[0], needs_summary=True)


def _script(path: str, needs_summary: bool) -> tuple[str, set[str], bool] | None:
    """A script or binary of the project that runs its tests, told by its name."""
    name = _base(path)
    stem = name.rsplit(".", 1)[0] if name.endswith(SCRIPT_SUFFIXES) else name
    if not TEST_NAME_RE.search(stem):
        return None
    return name, {TEST}, needs_summary and not stem.startswith(("run", "runtests"))


def _gradle(args: list[str]) -> tuple[str, set[str], bool] | None:
    kinds: set[str] = set()
    for task in args:
        name = task.rsplit(":", 1)[-1]
        if re.search(r"(?i)test|^check$", name):
            kinds.add(TEST)
        elif name == "build":
            kinds |= {TEST, BUILD}
        elif re.match(r"(?i)assemble|compile|bundle", name):
            kinds.add(BUILD)
        elif re.search(r"(?i)lint|detekt|ktlint|spotless", name):
            kinds.add(LINT)
    return ("gradle", kinds, False) if kinds else None


def _maven(args: list[str]) -> tuple[str, set[str], bool] | None:
    kinds: set[str] = set()
    for goal in args:
        if goal == "test":
            kinds.add(TEST)
        elif goal in ("verify", "install", "package", "deploy"):
            kinds |= {TEST, BUILD}
        elif goal in ("compile", "test-compile"):
            kinds.add(BUILD)
    return ("mvn", kinds, False) if kinds else None


def _make(program: str, args: list[str]) -> tuple[str, set[str], bool] | None:
    targets, skip = [], False
    for word in args:
        if not skip and not word.startswith("-") and "=" not in word:
            targets.append(word)
        skip = word in ("-C", "-f", "-j", "-l", "-I", "-o", "-W", "--directory", "--file")
    if not targets:
        return program, {BUILD}, False
    kinds = set().union(*(_script_kinds(target) for target in targets))
    return (f"{program} {targets[0]}", kinds, False) if kinds else None


def _package_script(program: str, args: list[str]) -> tuple[str, set[str], bool] | None:
    if not args:
        return None
    if args[0] in ("test", "t") or (program == "bun" and args[0] == "test"):
        return f"{program} test", {TEST}, False
    script = args[1] if args[0] == "run" and len(args) > 1 else args[0]
    if args[0] != "run" and program in ("npm", "bun"):
        return None  # npm install, npm ci ...: only "npm run X" runs a script
    kinds = _script_kinds(script)
    return (f"{program} run {script}", kinds, False) if kinds else None


def _script_kinds(name: str) -> set[str]:
    for pattern, kinds in SCRIPT_KINDS:
        if pattern.match(name):
            return kinds
    return set()


def _without_launchers(words: list[str]) -> list[str]:
    at = 0
    while at < len(words):
        word, program = words[at], _base(words[at])
        if ASSIGNMENT_RE.match(word):
            at += 1
        elif program in LAUNCHERS:
            at += 1
            while at < len(words) and words[at].startswith("-"):
                at += 1
            at += LAUNCHERS[program] if program != "env" else 0
        elif program in RUN_VIA and at + 1 < len(words) and words[at + 1] in RUN_VIA[program]:
            at += 2
            while at < len(words) and words[at].startswith("-"):
                at += 2 if words[at] in ("-n", "--name", "-e", "--env", "-p") else 1
            if program == "coverage" and words[at - 1] == "-m":
                words = [*words[:at - 1], "python", "-m", *words[at:]]
                at -= 1
        elif program == "--":
            at += 1
        else:
            break
    return words[at:]


def _simple_commands(command: str) -> list[tuple[list[str], str]]:
    """The simple commands of a command line, each with the operator after it ("" last)."""
    text = "\n".join(_lines(command))
    if not _may_start_runner(text):
        return []
    found: list[tuple[list[str], str]] = []
    words: list[str] = []
    for token in _tokens(text):
        if token in SEPARATORS or token == "\n":
            if words:
                found.append((words, ";" if token == "\n" else token))
            words = []
        else:
            words.append(token)
    if words:
        found.append((words, ""))
    elif found:
        found[-1] = (found[-1][0], "")
    return found


def _lines(command: str) -> list[str]:
    """The lines of a command, leaving out the bodies of heredocs and joining lines that
    end in a backslash."""
    lines: list[str] = []
    ending: str | None = None
    for line in command.replace("\\\n", " ").splitlines():
        if ending is not None:
            if line.strip() == ending:
                ending = None
            continue
        lines.append(line)
        if match := HEREDOC_RE.search(line):
            ending = match.group(2)
    return lines


def _tokens(text: str) -> list[str]:
    """The words, operators and line ends of a command as the shell reads them, quotes
    taken off (a quoted word may span lines) and comments left out."""
    tokens = []
    for match in TOKEN_RE.finditer(REDIRECTION_RE.sub(" ", text)):
        token = match.group(0)
        if token.startswith("#"):
            continue
        tokens.append(token if token in SEPARATORS or not QUOTED_RE.search(token)
                      else QUOTED_RE.sub(_unquoted, token))
    return tokens


def _unquoted(match: re.Match[str]) -> str:
    quoted = match.group(0)
    if quoted[0] in "'\"":
        inside = quoted[1:-1] if len(quoted) > 1 and quoted[-1] == quoted[0] else quoted[1:]
        return inside if quoted[0] == "'" else re.sub(r'\\(["\\$`])', r"\1", inside)
    return quoted[1:]  # a backslash and the character it escapes


def _base(word: str) -> str:
    return word.rsplit("/", 1)[-1].rsplit("\\", 1)[-1]


def _is_path(word: str) -> bool:
    return "/" in word or "\\" in word
