"""Shell command lines as agents log them: the text that ran, and the files it wrote.

Both are best effort. The files a command writes are the targets of its ``>`` and
``>>`` redirections (a heredoc written to a file included), of ``tee``, of ``sed -i``
and of PowerShell's ``Set-Content``, ``Add-Content`` and ``Out-File``; what a script or
any other program writes is not seen. Output sent to ``/dev/null``, PowerShell's
``$null`` or cmd's ``NUL`` is written nowhere. A backslash before a letter, digit or
``.``, ``_``, ``-`` is a Windows path separator (``> D:\\app\\out.txt``), not an escape.
"""

from __future__ import annotations

import re
import shlex
from collections.abc import Iterator, Sequence

SHELLS = frozenset({"bash", "sh", "zsh", "dash", "ksh", "fish", "pwsh", "powershell",
                    "powershell.exe", "pwsh.exe", "cmd", "cmd.exe"})
# -c and the single-letter flag groups that end in it (-lc, -ic), and PowerShell's words.
SCRIPT_FLAG_RE = re.compile(r"-[a-z]*c|-command|/c", re.I)
REDIRECTIONS = frozenset({">", ">>", ">|", "&>", "&>>"})
PUNCTUATION = "();<>|&\n"
# A run of these alone ("&&", ";;", ";\n", "|") separates commands.
SEPARATOR_CHARS = "();|&\n"
# Output that goes nowhere on disk.
NOT_FILES_RE = re.compile(r"/dev/(null|std(out|err)|tty|fd/\d+)$|(?i:\$null|nul)$")
WINDOWS_SEPARATOR_RE = re.compile(r"\\(?=[\w.-])")
# PowerShell's file writers, and the parameters that name the file.
POWERSHELL_WRITERS = frozenset({"set-content", "add-content", "out-file"})
PATH_PARAMETERS = frozenset({"-path", "-literalpath", "-filepath"})
# The start of a heredoc and its terminator word, quoted or not.
# -i, -i.bak, -Ei and --in-place[=SUFFIX]: sed edits its files in place.
SED_IN_PLACE_RE = re.compile(r"-[nrEsuz]*i\S*|--in-place(=\S*)?")
HEREDOC_RE = re.compile(r"<<-?\s*(['\"]?)([A-Za-z_][\w.-]*)\1")
# A command line with none of these writes nothing that can be told: no need to parse it.
MAY_WRITE_RE = re.compile(r">|\btee\b|\bsed\b|(?i:\b(?:set-content|add-content|out-file)\b)")


def command_text(command: str | Sequence[object]) -> str:
    """The command line that ran: the script of a ``bash -lc`` wrapper, an argv array joined."""
    if isinstance(command, str):
        try:
            argv = shlex.split(command)
        except ValueError:
            return command
        script = _wrapped_script(argv)
        return command if script is None else script
    argv = [str(part) for part in command]
    script = _wrapped_script(argv)
    return shlex.join(argv) if script is None else script


def _wrapped_script(argv: Sequence[str]) -> str | None:
    """The script of ``[... shell -c SCRIPT]``: the last shell of the argv that takes one."""
    for index in range(len(argv) - 2, 0, -1):
        if SCRIPT_FLAG_RE.fullmatch(argv[index]) and _is_shell(argv[index - 1]) \
                and index + 2 == len(argv):
            return argv[index + 1]
    return None


def _is_shell(word: str) -> bool:
    return word.rsplit("/", 1)[-1].lower() in SHELLS


def shell_written_paths(command: str) -> list[str]:
    """The files the command line writes through redirections, ``tee`` and ``sed -i``."""
    if not MAY_WRITE_RE.search(command):
        return []
    paths = _targets("\n".join(_without_heredoc_bodies(command)))
    return list(dict.fromkeys(path for path in paths if not NOT_FILES_RE.match(path)))


def _without_heredoc_bodies(command: str) -> Iterator[str]:
    lines = iter(command.splitlines())
    for line in lines:
        yield line
        for found in HEREDOC_RE.finditer(line):
            terminator = found.group(2)
            for body in lines:
                if body.strip() == terminator:
                    break


def _targets(script: str) -> Iterator[str]:
    try:
        tokens = list(_tokens(script))
    except ValueError:  # unbalanced quotes: nothing can be told reliably
        return
    for start, end in _simple_commands(tokens):
        words = tokens[start:end]
        yield from _redirection_targets(words)
        yield from _tool_targets(list(_without_redirections(words)))


def _tokens(script: str) -> Iterator[str]:
    # A newline outside quotes ends a command, as ";" does; inside quotes it is text.
    script = WINDOWS_SEPARATOR_RE.sub(r"\\\\", script)
    lexer = shlex.shlex(script, posix=True, punctuation_chars=PUNCTUATION)
    lexer.whitespace = " \t\r"
    lexer.whitespace_split = True
    lexer.commenters = ""
    yield from lexer


def _simple_commands(tokens: list[str]) -> Iterator[tuple[int, int]]:
    start = 0
    for index, token in enumerate(tokens):
        if token and not token.strip(SEPARATOR_CHARS):
            yield start, index
            start = index + 1
    yield start, len(tokens)


def _redirection_targets(words: list[str]) -> Iterator[str]:
    for index, word in enumerate(words[:-1]):
        if _redirection(word):
            yield words[index + 1]


def _redirection(word: str) -> bool:
    # "2>" comes out of the lexer as "2" then ">"; ">&" (to a descriptor) writes no file.
    return word in REDIRECTIONS


def _without_redirections(words: list[str]) -> Iterator[str]:
    skip = False
    for word in words:
        if skip:
            skip = False
        elif _redirection(word) or word in ("<", "<<", "<<<", ">&", "<&"):
            skip = True
        elif not (word.isdigit() and len(word) == 1):
            yield word


def _tool_targets(words: list[str]) -> Iterator[str]:
    while words and ("=" in words[0] and not words[0].startswith("-") or words[0] == "sudo"):
        words = words[1:]  # VAR=value prefixes and sudo
    if not words:
        return
    program = words[0].rsplit("/", 1)[-1]
    if program == "tee":
        yield from (word for word in words[1:] if not word.startswith("-"))
    elif program == "sed" and any(SED_IN_PLACE_RE.fullmatch(word) for word in words[1:]):
        yield from _sed_files(words[1:])
    elif program.lower() in POWERSHELL_WRITERS:
        yield from _powershell_file(words[1:])


def _powershell_file(args: list[str]) -> Iterator[str]:
    """The file of a PowerShell writer: its -Path (or -LiteralPath, -FilePath), else its
    first argument that is neither a parameter nor a parameter's value."""
    for index, word in enumerate(args[:-1]):
        if word.lower() in PATH_PARAMETERS:
            yield args[index + 1]
            return
    for index, word in enumerate(args):
        if not word.startswith("-") and (index == 0 or not args[index - 1].startswith("-")):
            yield word
            return


def _sed_files(args: list[str]) -> Iterator[str]:
    """The file operands of a sed command: after the script, unless -e or -f gave it."""
    operands: list[str] = []
    script_given = False
    skip = False
    for word in args:
        if skip:
            skip = False
        elif word in ("-e", "-f", "--expression", "--file"):
            script_given = skip = True
        elif word.startswith(("--expression=", "--file=")):
            script_given = True
        elif word.startswith("-") and len(word) > 1:
            continue
        else:
            operands.append(word)
    yield from operands if script_given else operands[1:]
