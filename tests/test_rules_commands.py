"""Reading command lines for the command-identity rule: the regular-expression split is
shlex's, and the look before parsing never drops a line that runs the command."""

import shlex
from collections import Counter
from unittest import mock

import pytest
from hypothesis import example, given
from hypothesis import strategies as st

from proofmark_core.rules import _commands
from proofmark_core._command_lines import (bare_lines, command_parts, command_programs,
                                           lines_holding, word_ends_index)
from proofmark_core.rules._commands import (ParsedLines, TurnCommands, bare_text, command_of,
                                          ends_index, matches, parts, programs_of, read_parts,
                                          stands_alone)
from proofmark_core.rules._shell_words import shell_words


def shlex_words(line):
    lexer = shlex.shlex(line, posix=True, punctuation_chars=";&|()")
    lexer.whitespace_split = True
    lexer.commenters = ""
    try:
        return list(lexer)
    except ValueError:
        return ValueError


def words_or_error(line):
    try:
        return shell_words(line)
    except ValueError:
        return ValueError


@given(st.text(alphabet="ab ;&|()\t\r\n\v-./#$é'\"\\", max_size=24))
def test_split_as_shlex(line):
    assert words_or_error(line) == shlex_words(line)


# Pieces of command lines that reach every rule of reading one: quoting, operators,
# Windows separators, wrappers, settings, interpreters and runners.
LINE_PIECES = st.sampled_from([
    " ", "\t", "\n", "\v", "\x1f", ";", "&", "|", "(", ")", "'", '"', "\\", "\\a", "./", "/", "a",
    "B", "é", "_", "=", "-", "--", ".", "5", "s", "sudo", "env", "cd", "timeout", "-k",
    "python3.1", "py", "-m", "-c", "-u", "uv", "run", "pytest", "X_1="])


@given(st.lists(LINE_PIECES, max_size=24).map("".join))
@example('"\\')
@example("cd a && FOO=1 timeout -k 5 --9.5s python3 -u -m pytest ./Tests/ | timeout ---5 x")
@example("uv run .\\gradlew 'a b'\"c\\\"d\\x\"e\\ f;;x|&y")
def test_the_native_reader_reads_as_the_python_reader(line):
    native = command_parts(line)
    assert native == (read_parts(line) if line.isascii() else None)
    assert command_programs(line) == (programs_of(native) if line.isascii() else None)


# Words and lines of every width of character, in which a word may stand alone.
WORD_PIECES = st.sampled_from(["a", "b", ".", " ", ";", "\v", "é", "\U0001d400", "\ud800"])


@given(st.lists(st.lists(WORD_PIECES, max_size=12).map("".join), max_size=5))
def test_the_native_index_is_the_python_index(lines):
    assert word_ends_index(lines) == ends_index(lines)


# Letters whose case folding is not their lower case, and what the bare form drops.
BARE_PIECES = st.sampled_from(["a", "B", "Z", "'", '"', "\\", "/", " ", "ß", "Σ", "İ", "ﬁ",
                               "\U0001d400"])


@given(st.lists(st.lists(BARE_PIECES, max_size=8).map("".join), max_size=4))
def test_native_bare_lines_are_the_python_ones(lines):
    assert bare_lines(lines) == [bare_text(line) for line in lines]
    assert bare_lines([*lines, type("Line", (str,), {})("a")]) is None  # left to Python


@given(st.lists(WORD_PIECES, max_size=3).map("".join),
       st.lists(st.lists(WORD_PIECES, max_size=12).map("".join), max_size=5))
@example("a", ["b.a", "ba", "a.b", ";a\U0001d400", "é;a"])
def test_the_native_look_for_a_word_is_the_python_look(word, lines):
    assert lines_holding(word, lines, range(len(lines))) == [
        index for index, line in enumerate(lines) if stands_alone(word, line)]


def parsed_match(command, line):
    """What ``matches`` answers when every line is parsed."""
    ran = parts(line)
    return bool(command) and all(any(part[0] == wanted[0] and not Counter(wanted[1:]) - Counter(part[1:])
                   for part in ran) for wanted in command)


@given(st.text(alphabet="aA b./'\"\\;|", min_size=4, max_size=8),
       st.text(alphabet="aA b./'\"\\;|\n", max_size=20))
def test_look_before_parsing_agrees_with_parsing(target, line):
    command = command_of(target)
    assert matches(command, {"command": line}) == parsed_match(command, line)


@pytest.mark.parametrize(("target", "line"), [
    ("pytest tests/test_x.py", "cd repo && python -m pytest -q tests/test_x.py"),
    ("pytest tests/test_x.py", 'pytest "tests/test_x.py" -x'),
    ("pytest tests/test_x.py", "pytest 'tests/'test_x.py"),
    ("pytest tests/test_x.py", r"pytest tests\/test_x.py"),
    ("pytest tests/test_x.py", "PYTEST ./tests/test_x.py/"),
    ("pytest tests/test_x.py", "pytest tests/test_x.py;echo done"),
    ("pytest tests/test_x.py", "(pytest tests/test_x.py)|tail"),
    ("pytest tests/test_x.py", "pytest tests/test_x.py 'unclosed"),
    ("pytest tests/test_x.py", "head tests/test_x.py"),
    ("pytest tests/test_x.py", "pytest tests/test_x.pyc"),
    (r".\gradlew test", r".\gradlew test --info"),
    ("gradlew test", r"cmd /c .\gradlew.bat test"),
    ("npm run build", 'timeout 60 npm "run" build'),
    ("python reproduce_issue.py", "cat > reproduce_issue.py <<'EOF'\nprint(1)\nEOF\n"
                                  "python reproduce_issue.py"),
    ("reproduce_issue.py", "python ./reproduce_issue.py"),
    ('grep -r "foo bar" src', r"grep -r foo\ bar src"),
    ("echo ΣΑΣ", "echo σας"),
    ("make İ", "make i̇"),
    ("cargo test -- --nocapture", "cargo test -- --nocapture"),
    ("ls a;b", "ls a;b"),
    ("tests", "tests/run.sh"),
    ("tests", "echo" + " xtests" * 20 + "; ./tests"),  # alone after many places it is not
    ("tests", "echo" + " xtests" * 20 + "; ./testsx"),
    (r"A\;", r"a\;"),  # an escaped character in the program's name
])
def test_look_before_parsing_keeps_every_run(target, line):
    command = command_of(target)
    assert matches(command, {"command": line}) == parsed_match(command, line)


# Pieces of lines in which a word stands alone, several times in a line, or within
# a longer word.
PIECES = st.sampled_from(["ab", "Ab", "a.ab", "./", " ", ";", "|", "\n", "'", '"', "\\", "c"])


@pytest.mark.parametrize("words_before_index", [0, 1000])
@given(st.lists(st.lists(PIECES, max_size=10).map("".join), max_size=6),
       st.lists(st.lists(PIECES, min_size=2, max_size=5).map("".join), max_size=6))
@example(["./gradlew test", "x.y.gradlew", "cd a; b.test.py -q"], ["gradlew", "test.py -q"])
@example(["x a", "b y", "a\nb"], ["'a\nb'", "a b"])
def test_turn_lookup_finds_what_matching_every_line_finds(words_before_index, lines, targets):
    records = [{"command": line} for line in lines] + [{"command": None}, {}]
    with mock.patch.object(_commands, "WORDS_BEFORE_INDEX", words_before_index):
        turn = TurnCommands({"commands": records}, ParsedLines())
        for target in targets:
            command = command_of(target)
            found = [run.record for run in turn.runs(command)]
            assert found == [record for record in records if matches(command, record)]
