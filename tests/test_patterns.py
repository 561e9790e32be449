"""The phrase patterns, the sibling's work verbs, and the additive-verb test `_additive`."""

import re

import pytest
from hypothesis import given, strategies as st

import proofmark_core.extract as extract
import proofmark_core.verify as m


@pytest.mark.parametrize("text, expected", [
    ("I added the flag", True),
    ("I didn't add the flag", False),
    ("did not add it", False),
    ("don't add it", False),
    ("dont add it", False),
    ("never bump it", False),
    # At most two words between negation and verb.
    ("I did not really write it", False),
    ("I did not go and write it", False),
    ("not really going to add it", True),
    # Anything but whitespace and words in between defeats the negation.
    ("do not, bump", True),
    ("no, I wrote it", True),
    ("don't re-add it", True),
    ("don\u2019t add it", True),
    ("not\nadd", False),
    ("not\u00a0add", False),
    ("not\x1cadd", False),
    ("not\u200badd", True),
    # Negation words are words, in any case.
    ("NO new tests", False),
    ("DID NOT ADD", False),
    ("d\u0131dn't add it", False),
    ("cannot add", True),
    ("wasn't added", True),
    # Stems are prefixes that start at a word boundary.
    ("address parsing", True),
    ("newline handling", True),
    ("readdress", False),
    ("recreated x", False),
    ("\u00e9add", False),
    ("Setup CI", False),
    ("Set up CI", True),
    ("\u0130nstalled it", True),
    ("\u017fet up CI", True),
    ("", False),
    # One unnegated verb is enough; every verb negated is not.
    ("did not add Y; added X", True),
    ("Without creating a new file", False),
    ("never add, never create", False),
    # The prefix starts at the beginning of the text, not at a clause.
    ("I will not. Add it", True),
])
def test_additive(text, expected):
    assert m._additive(text) is expected


def oracle_additive(text):
    return any(not m.NEGATED_RE.search(text[:found.start()])
               for found in m.ADDITIVE_RE.finditer(text))


VOCABULARY = ["add", "Added", "creating", "new", "set up", "Setup", "readdress", "wrote",
              "not", "NO", "didn't", "don\u2019t", "did not", "without", "never", "really",
              "it", "x", "I", "-", ",", ";", ".", "\u0130nstall", "\u00e9"]
SEPARATORS = [" ", "  ", "\n", "\t", "\u00a0", "", "'"]


@given(st.lists(st.tuples(st.sampled_from(VOCABULARY), st.sampled_from(SEPARATORS)),
                max_size=8))
def test_additive_agrees_with_its_definition_over_the_patterns(parts):
    text = "".join(word + sep for word, sep in parts)
    assert m._additive(text) is oracle_additive(text)


def search(name, text):
    return getattr(m, name).search(text) is not None


@pytest.mark.parametrize("text, expected", [
    ("1,024", True), ("3.14", True), ("42", True), ("\u0663\u0664", True), ("42\n", True),
    (".5", False), ("5.", False), ("1.2.3", False), ("-3", False), ("", False),
    ("\u00b3", False), ("4 2", False), ("42\n\n", False),
])
def test_num_re_matches_plain_numbers_only(text, expected):
    assert (m.NUM_RE.match(text) is not None) is expected


@pytest.mark.parametrize("name, text, expected", [
    ("EMPTY_RE", "No Matches", True),
    ("EMPTY_RE", "returns empty", True),
    ("EMPTY_RE", "return nothing", True),
    ("EMPTY_RE", "0 hit", True),
    ("EMPTY_RE", "found 0 hits.", True),
    ("EMPTY_RE", "the list is empty.", True),
    ("EMPTY_RE", "NOTHING FOUND", True),
    ("EMPTY_RE", "emptyish", False),
    ("EMPTY_RE", "0 hitsx", False),
    ("EMPTY_RE", "returns  nothing", False),
    ("EMPTY_RE", "10 hits", False),
    ("READ_CODE_RE", "header = f.read()", True),
    ("READ_CODE_RE", "select * from t", True),
    ("READ_CODE_RE", "cat file", True),
    ("READ_CODE_RE", "tails", True),
    ("READ_CODE_RE", "sqlite3.connect(db)", True),
    ("READ_CODE_RE", "SELECT * FROM t", False),
    ("READ_CODE_RE", "print(open(p).read())", False),
    ("READ_CODE_RE", "cat\tfile", False),
    ("READ_CODE_RE", "sqlite3xconnect", False),
    ("READ_CODE_RE", "concat file", False),
    ("SHELL_WRITE_RE", "echo hi>out.txt", True),
    ("SHELL_WRITE_RE", "a>>b", True),
    ("SHELL_WRITE_RE", "cat <<EOF", True),
    ("SHELL_WRITE_RE", "apt-get install x", True),
    ("SHELL_WRITE_RE", "docker-compose up", True),
    ("SHELL_WRITE_RE", "git commit -m x", True),
    ("SHELL_WRITE_RE", "sed -i s/a/b/ f", True),
    ("SHELL_WRITE_RE", "echo hi > out.txt", False),
    ("SHELL_WRITE_RE", "firm", False),
    ("SHELL_WRITE_RE", "format", False),
    ("SHELL_WRITE_RE", "git  commit", False),
    ("SHELL_WRITE_RE", "sed -e s/a/b/", False),
    ("SHELL_WRITE_RE", "Pip freeze", False),
    ("NEGATED_RE", "I did not ", True),
    ("NEGATED_RE", "Never really ", True),
    ("NEGATED_RE", "not one two ", True),
    ("NEGATED_RE", "not one two three ", False),
    ("NEGATED_RE", "not one", False),
    ("NEGATED_RE", "don\u2019t ", False),
    ("NEGATED_RE", "knot ", False),
    ("PREDICATE_RE", "it crashed hard", True),
    ("PREDICATE_RE", "the test matches", True),
    ("PREDICATE_RE", "Showed nothing", True),
    ("PREDICATE_RE", "the build is green", True),
    ("PREDICATE_RE", "isn't", False),
    ("PREDICATE_RE", "island", False),
    ("PREDICATE_RE", "say it", False),
    ("PREDICATE_RE", "`x` broke", False),
])
def test_pattern_edge_cases(name, text, expected):
    assert search(name, text) is expected


@pytest.mark.parametrize("text, expected", [
    ("Fixed the retry loop", True),
    ("I RAN the tests", True),
    ("refactored parsing", True),
    ("we bumped the version", True),
    ("prefixed names", False),
    ("the ranch", False),
    ("fixedly", False),
    ("nothing here", False),
])
def test_work_verbs_are_whole_words_in_any_case(text, expected):
    assert (extract.WORK_VERB_RE.search(text) is not None) is expected


def test_rebinding_the_patterns_changes_later_calls(monkeypatch):
    assert m._additive("I wrote it") is True
    monkeypatch.setattr(m, "ADDITIVE_RE", re.compile(r"\bzap\w*"))
    assert m._additive("I wrote it") is False
    assert m._additive("I zapped it") is True
    monkeypatch.setattr(m, "NEGATED_RE", re.compile(r"\bnah\s+$"))
    assert m._additive("nah zap") is False
    assert m._additive("not zap") is True
