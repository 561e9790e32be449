"""The HTML report's page as text: hostile text escaped, the data block faithful, the
policy naming the page's own script and style, claims worst first."""

import base64
import gzip
import hashlib
import html
import io
import json
import re

import pytest

from proofmark_core.report.html import write_page
from proofmark_core.report.html_page import _marked
from proofmark_core.report.html_run import Run

HOSTILE = [
    "<img src=x onerror=alert(1)>",
    "</script><script>alert(2)</script>",
    "</noscript><img src=x onerror=alert(3)>",
    "<!-- <script> \u2028\u2029 &amp; &lt;",
    "\"'><svg onload=alert(4)>",
]


def result(verdict="verified", **fields):
    return {"file": "a.jsonl", "line": 1, "record": 0, "claim": 0, "kind": "other",
            "text": "did it", "evidence": "nothing literal to check", "verdict": verdict,
            **fields}


def page(results, errors=()):
    out, run = io.StringIO(), Run()
    for fields in results:
        run.add(fields)
    for fields in errors:
        run.add_error(fields)
    write_page(run, out)
    return out.getvalue()


def data_of(text):
    block = re.search(r'<script type="application/gzip\+base64" id="report-data">([^<]*)</script>',
                      text)
    return json.loads(gzip.decompress(base64.b64decode(block[1])))


def hostile_results():
    return [result(text=h, evidence=h, excerpt=h, file=h, agent=h, session=h, kind=h,
                   targets=[h], claim=n) for n, h in enumerate(HOSTILE)]


def test_hostile_text_is_escaped_everywhere_and_kept_whole_in_the_data():
    text = page(hostile_results(), [{"file": HOSTILE[0], "line": 3, "error": HOSTILE[1]}])
    without_data = re.sub(r'(id="report-data">)[^<]*', r"\1", text)
    assert without_data.count("<script") == 2 and without_data.count("</script>") == 2
    for raw in ("<img", "<svg onload", "<script>alert", "</noscript><img", "<!--"):
        assert raw not in without_data
    data = data_of(text)
    assert [row[4] for row in data["rows"]] == HOSTILE
    assert [row[7] for row in data["rows"]] == HOSTILE
    assert set(data["files"]) == set(data["agents"]) == set(data["kinds"]) == set(HOSTILE)


def test_the_policy_allows_the_page_own_script_and_style_only():
    text = page([result()])
    policy = re.search(r'http-equiv="Content-Security-Policy" content="([^"]*)"', text)[1]
    style = re.search(r"<style>(.*?)</style>", text, re.S)[1]
    script = re.findall(r"<script>(.*?)</script>", text, re.S)[-1]
    digests = {f"'sha256-{base64.b64encode(hashlib.sha256(part.encode()).digest()).decode()}'"
               for part in (style, script)}
    assert policy.startswith("default-src 'none'; ")
    assert set(re.findall(r"'sha256-[^']*'", policy)) == digests
    assert "unsafe" not in policy and "http" not in policy


def test_claims_come_worst_first_and_each_verdict_in_arrival_order():
    verdicts = ["verified", "unchecked", "contradicted", "unverified", "pre-existing",
                "contradicted", "verified"]
    text = page([result(verdict, claim=n) for n, verdict in enumerate(verdicts)])
    static = text[text.index("<noscript>"):text.index("</noscript>")]
    shown = re.findall(r"<b>([a-z-]+)</b> <i>other</i> claim (\d)", static)
    assert shown == [("contradicted", "2"), ("contradicted", "5"), ("pre-existing", "4"),
                     ("unverified", "3"), ("unchecked", "1"), ("verified", "0"),
                     ("verified", "6")]
    assert [row[1] for row in data_of(text)["rows"]] == [int(n) for _, n in shown]


def test_lone_surrogates_become_replacement_characters():
    text = page([result(text="bad \ud800 half", evidence="`\udfff`")])
    text.encode("utf-8")
    assert data_of(text)["rows"][0][4] == "bad \ufffd half"


@pytest.mark.parametrize("text, marks, shown", [
    ("Ran PYTEST -q twice", ["pytest -q"], "Ran <mark>PYTEST -q</mark> twice"),
    ("a.py and src/a.py", ["src/a.py", "a.py"], "<mark>a.py</mark> and <mark>src/a.py</mark>"),
    ("src/a.py", ["a.py", "src/a.py"], "<mark>src/a.py</mark>"),
    ("x < y & z", ["< y"], "x <mark>&lt; y</mark> &amp; z"),
    ("İstanbul: set KEY", ["key"], "İstanbul: set <mark>KEY</mark>"),
    ("nothing here", ["absent"], "nothing here"),
])
def test_marks_any_letter_case_the_longer_of_two_at_one_place(text, marks, shown):
    assert _marked(text, sorted(marks, key=len, reverse=True)) == shown


def test_a_result_with_only_a_verdict_shows_no_placeholder_words():
    text = page([{"verdict": "unchecked"}])
    static = text[text.index("<noscript>"):text.index("</noscript>")]
    assert "None" not in static and "null" not in static
    assert data_of(text)["rows"] == [[0, None, 3, 0, "", "", [], None, None]]


@pytest.mark.parametrize(("tests", "shown"), [
    ({"runner": "pytest", "passed": 11, "failed": 0, "skipped": 1, "total": 12, "exit_code": 0},
     "pytest: 11 passed, 0 failed, 1 skipped, 12 total; exit 0"),
    ({"runner": "./tests/unit_tests", "passed": None, "failed": 0, "skipped": 0, "total": None,
      "exit_code": 139}, "./tests/unit_tests: 0 failed, 0 skipped; exit 139"),
    ({"runner": HOSTILE[0], "passed": "12", "exit_code": None}, HOSTILE[0]),
    ("not a run", None),
])
def test_the_test_run_a_claim_was_judged_by_is_shown_beside_it(tests, shown):
    text = page([result(tests=tests)])
    assert data_of(text)["rows"][0][8] == shown
    static = re.search(r"<article.*</article>", text)[0]
    assert (f"<p class=r>{html.escape(shown, quote=False)}<p class=e>" in static) if shown \
        else "class=r" not in static
