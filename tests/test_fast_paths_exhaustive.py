"""Every code point through the fast paths and the Python-level path: the
character classes \\w, \\d and \\s, lower-casing, and the letters that re.I
matches beyond ASCII (i, k, s)."""

import pytest

import proofmark_core.verify as m
from fallback import forced_fallback

CODE_POINTS = [chr(c) for c in range(0x110000)]
CHUNK = 4096
CHUNKS = [CODE_POINTS[i:i + CHUNK] for i in range(0, len(CODE_POINTS), CHUNK)]


@pytest.fixture(autouse=True)
def home(monkeypatch):
    monkeypatch.setenv("HOME", "/home/tester")


def results(name, texts):
    fn = getattr(m, name)
    return [fn(t) for t in texts]


def assert_same(name, texts):
    fast = results(name, texts)
    with forced_fallback():
        slow = results(name, texts)
    mismatches = [(t, f, s) for t, f, s in zip(texts, fast, slow) if f != s]
    assert not mismatches[:3]


@pytest.mark.parametrize(
    "name, piece",
    [
        ("_tokens", "ab{}cd "),      # \w splits words or joins them
        ("_norm", "a{0}{0}b"),       # \s runs, lower-casing, U+0130
        ("_clean", "x.py{0}:1{0}"),  # \s, \w and \d around a line suffix
        ("_atoms", "v{} ms, "),      # \d after a letter, \s before a unit
    ],
)
def test_classes_over_every_code_point(name, piece):
    assert_same(name, ["".join(piece.format(c) for c in chunk) for chunk in CHUNKS])


def test_numbers_over_every_code_point():
    # NUM_RE: \d, and the `$` that also holds before a final newline.
    assert_same("_kind_of", ["1" + c for c in CODE_POINTS])


@pytest.mark.parametrize(
    "name, template",
    [
        ("_additive", "d{}d not add it"),  # i of NEGATED_RE, under re.I
        ("_additive", "{}et up x"),        # s of ADDITIVE_RE
        ("_atoms", "5 {}b"),               # k of the unit pattern
        ("_atoms", "5 m{}"),               # s of the unit pattern
    ],
)
def test_ignore_case_letters_over_every_code_point(name, template):
    assert_same(name, [template.format(c) for c in CODE_POINTS])
