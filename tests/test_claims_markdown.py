"""The Markdown unit rules of claim extraction: each hand-written rule against the
pattern it stands in for, and messages of pathological shapes, which must come out
right (the time they take is shown by bench/extract.py)."""

import re

import pytest
from hypothesis import given
from hypothesis import strategies as st

from proofmark_core.claims import extract_claims
from proofmark_core.claims import _markdown as markdown
from proofmark_core.claims._wording import _is_question

# The patterns the rules were first written as: right, but quadratic on some lines.
ROW_RULE_RE = re.compile(r"^\s*\|?(?:\s*:?-+:?\s*\|)+\s*(?::?-+:?\s*)?$")
RULE_RE = re.compile(r"^ {0,3}([-*_])(?:\s*\1){2,}\s*$")
CLOSING_HASHES_RE = re.compile(r"(?:^|\s+)#+\s*$")
TRAILING_MARKUP_RE = re.compile(r"[\s*_]*$")
CODE_SPAN_RE = re.compile(r"(?<!`)(`+)(?!`)(.+?)(?<!`)\1(?!`)", re.S)
SENTENCE_END_RE = re.compile(r"[.!?]+[\"'”’)\]*_]*(?=\s)|[。！？]+")
QUESTION_RE = re.compile(r"\?\W*$")

# Lines made of the characters the rules look at, so that the differential tests below
# reach every branch; \x1c and \x85 are whitespace to Python's `\s`.
markdown_lines = st.text(alphabet=" \t\x1c\x85|-:*_#`.!?)a\u3002", max_size=14)


@given(markdown_lines)
def test_rules_agree_with_their_patterns(line):
    assert markdown._is_row_rule(line) == bool(ROW_RULE_RE.match(line))
    assert markdown._is_rule(line) == bool(RULE_RE.match(line))
    assert markdown._without_closing_hashes(line) == CLOSING_HASHES_RE.sub("", line)
    assert markdown.is_lead_in(line) == TRAILING_MARKUP_RE.sub("", line).endswith(":")
    assert [(span.start, span.end, span.code) for span in markdown.code_spans(line)] == [
        (match.start(), match.end(), match.group(2)) for match in CODE_SPAN_RE.finditer(line)
    ]
    assert ([match.span() for match in markdown._SENTENCE_END_RE.finditer(line)]
            == [match.span() for match in SENTENCE_END_RE.finditer(line)])
    assert _is_question(line) == bool(QUESTION_RE.search(line))


@pytest.mark.parametrize(("line", "row_rule", "rule"), [
    ("|---|:-:|", True, False),
    ("--- | ---", True, False),
    ("| --- |", True, False),
    ("|", False, False),
    ("||---|", False, False),
    ("---", False, True),
    ("   * * *", False, True),
    ("    ---", False, False),  # four spaces: code, not a rule
    ("- - x", False, False),
    ("--", False, False),
])
def test_table_rows_and_rules(line, row_rule, rule):
    assert (markdown._is_row_rule(line), markdown._is_rule(line)) == (row_rule, rule)


@pytest.mark.parametrize(("text", "spans"), [
    ("``a`b`` and `c`", [(0, 7, "a`b"), (12, 15, "c")]),
    ("`a ``b`` c`", [(0, 11, "a ``b`` c")]),
    ("``a` `b", [(3, 6, " ")]),  # an opening run no later run matches is plain text
    ("``", []),
])
def test_code_spans(text, spans):
    assert [(span.start, span.end, span.code) for span in markdown.code_spans(text)] == spans


N = 100_000


def nested_list(size):
    """Lead-in items, each one space deeper than the one before, up to `size` characters."""
    lines, depth = [], 0
    while sum(map(len, lines)) < size:
        lines.append(" " * depth + "- Changed:\n")
        depth += 1
    return "".join(lines) + " " * depth + "- `a.py`\n"


# Shapes that made the unit rules quadratic, each with the claims it must give.
PATHOLOGICAL = [
    pytest.param(" " * N + "-\nAdded `a.py`.", ["a.py"], id="spaces-before-a-dash"),
    pytest.param("|" + " " * N + "-\nAdded `a.py`.", ["a.py"], id="spaces-in-a-row-rule"),
    pytest.param("- " * (N // 2) + "Added `a.py`", ["a.py"], id="markers-on-one-line"),
    pytest.param(nested_list(N), ["a.py"], id="nested-lead-ins"),
    pytest.param("Added `a.py`" + "." * N + "x", ["a.py"], id="a-run-of-dots"),
    pytest.param("Added `a.py` " + "?-" * (N // 2) + "x", ["a.py"], id="question-marks"),
    pytest.param("Added `a.py` " + " *_" * (N // 3) + "x:", ["a.py"], id="markup-before-a-colon"),
    pytest.param("Added `a.py` x" + "x".join("`" * k for k in range(2, 448)),
                 ["a.py"], id="unmatched-backtick-runs"),
    pytest.param("# Added `a.py`" + " " * N + "x", ["a.py"], id="spaces-in-a-heading"),
    pytest.param("Added `a.py` [b](c" + " " * N + "d", ["a.py"], id="spaces-in-a-link"),
    pytest.param("\t" * N + "- Added `a.py`", ["a.py"], id="tabs-before-an-item"),
]


@pytest.mark.large
@pytest.mark.parametrize(("message", "targets"), PATHOLOGICAL)
def test_pathological_shapes(message, targets):
    assert [claim["targets"] for claim in extract_claims([message])] == [targets]
