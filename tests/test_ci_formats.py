"""The formats CI reads, written from results as the command hands them: SARIF against
the 2.1.0 schema's required fields, JUnit parsed back, annotations and Markdown with
hostile claim text."""

import io
import json
import re
import xml.etree.ElementTree as ET

import pytest

from proofmark_core.report.github import Annotations
from proofmark_core.report.junit import Junit
from proofmark_core.report.markdown import FLAGGED_ROWS, Summary
from proofmark_core.report.sarif import Sarif
from proofmark_core.report.tally import Tally
from proofmark_core.run.units import Where
from proofmark_core.verdicts import VERDICTS, ClaimResult

HOSTILE = "50% done,\r\nfile=x::error::owned | <script>alert(1)</script> ]]> \x00\x1b[2J \ud800"
FAIL_ON = frozenset({"contradicted"})


def results():
    """A claim of every verdict in one turn of a log (which starts on line 7 and closes
    on line 9), then one in a turn record file."""
    found = [(Where("logs/a b.jsonl", 7, 0, index, "codex", "s-1", 0, closing_line=9),
              ClaimResult(verdict, f"evidence of {verdict}",
                          {"kind": "other", "text": f"claim {verdict}", "targets": []}))
             for index, verdict in enumerate(VERDICTS)]
    found.append((Where("turns.jsonl", 3, 2, 0),
                  ClaimResult("unverified", HOSTILE, {"kind": "other", "text": HOSTILE})))
    return found


def written(writer_class, *args, errors=((Where("gone.jsonl"), "No such file"),)):
    out, tally = io.StringIO(), Tally()
    writer = writer_class(out, *args)
    for where, result in results():
        tally.claims += 1
        tally.verdicts[result.verdict] += 1
        writer.result(where, result)
    for where, message in errors:
        tally.errors += 1
        writer.error(where, message)
    writer.end(tally)
    return out.getvalue()


# The properties each object must have, and the levels allowed, in the SARIF 2.1.0 schema.
SARIF_REQUIRED = {
    "log": ("version", "runs"), "run": ("tool",), "tool": ("driver",), "driver": ("name",),
    "rule": ("id",), "result": ("message",), "message": ("text",),
    "physicalLocation": ("artifactLocation",), "region": ("startLine",),
    "notification": ("message",), "invocation": ("executionSuccessful",),
}
SARIF_LEVELS = {"none", "note", "warning", "error"}


def _has(kind, value):
    assert isinstance(value, dict), kind
    missing = [name for name in SARIF_REQUIRED[kind] if name not in value]
    assert not missing, f"{kind} lacks {missing}"


def test_sarif_has_the_schemas_required_fields_and_a_result_per_flagged_claim():
    log = json.loads(written(Sarif))
    _has("log", log)
    assert log["version"] == "2.1.0" and log["$schema"].endswith("sarif-2.1.0.json")
    [run] = log["runs"]
    _has("run", run), _has("tool", run["tool"]), _has("driver", run["tool"]["driver"])
    rules = run["tool"]["driver"]["rules"]
    assert [rule["id"] for rule in rules] == list(VERDICTS)
    for rule in rules:
        _has("rule", rule)
        assert rule["help"]["text"] and rule["defaultConfiguration"]["level"] in SARIF_LEVELS
    levels = {result["ruleId"]: result["level"] for result in run["results"][:-1]}
    assert levels == {"contradicted": "error", "unverified": "warning", "pre-existing": "warning"}
    for result in run["results"]:
        _has("result", result), _has("message", result["message"])
        assert rules[result["ruleIndex"]]["id"] == result["ruleId"]
        [location] = result["locations"]
        _has("physicalLocation", location["physicalLocation"]), _has("region", location["physicalLocation"]["region"])
    first = run["results"][0]
    assert first["message"]["text"] == "Claim: claim unverified\nUnverified: evidence of unverified"
    assert first["locations"][0]["physicalLocation"] == {
        "artifactLocation": {"uri": "logs/a%20b.jsonl", "uriBaseId": "%SRCROOT%"},
        "region": {"startLine": 9}}
    assert run["originalUriBaseIds"]["%SRCROOT%"]["uri"].startswith("file:///")
    [invocation] = run["invocations"]
    _has("invocation", invocation)
    assert invocation["executionSuccessful"] is False
    [notification] = invocation["toolExecutionNotifications"]
    _has("notification", notification)
    assert notification["message"]["text"] == "No such file"


def test_sarif_fingerprints_tell_claims_apart_and_stay_from_run_to_run():
    prints = [result["partialFingerprints"] for result in json.loads(written(Sarif))["runs"][0]["results"]]
    again = [result["partialFingerprints"] for result in json.loads(written(Sarif))["runs"][0]["results"]]
    assert prints == again and len({json.dumps(p) for p in prints}) == len(prints)


def test_junit_parses_back_with_a_suite_per_log_and_a_failure_per_fail_on_verdict():
    root = ET.fromstring(written(Junit, frozenset({"contradicted", "unverified"})))
    assert root.tag == "testsuites"
    assert {name: root.get(name) for name in ("tests", "failures", "errors", "skipped")} == {
        "tests": "7", "failures": "3", "errors": "1", "skipped": "1"}
    log, records, gone = root.findall("testsuite")
    assert [suite.get("name") for suite in (log, records, gone)] == ["logs/a b.jsonl", "turns.jsonl", "gone.jsonl"]
    cases = log.findall("testcase")
    assert [case.get("name") for case in cases] == [f"claim {i}: claim {v}" for i, v in enumerate(VERDICTS)]
    assert cases[0].get("classname") == "logs/a b.jsonl session s-1 turn 0"
    assert (cases[0].get("file"), cases[0].get("line")) == ("logs/a b.jsonl", "9")
    failure = cases[3].find("failure")
    assert failure.get("type") == "contradicted" and failure.get("message") == "evidence of contradicted"
    assert "Claim: claim contradicted" in failure.text
    assert cases[4].find("skipped") is not None and cases[0].find("failure") is None
    [hostile] = records.findall("testcase")
    message = hostile.find("failure").get("message")
    # Characters XML cannot hold come back as their escapes; the rest exactly.
    assert message == HOSTILE.replace("\x00", "\\x00").replace("\x1b", "\\x1b").replace("\ud800", "\\ud800")
    assert gone.find("testcase/error").get("message") == "No such file"


def _unescape(text):
    return re.sub("%(25|0D|0A|3A|2C)", lambda m: bytes.fromhex(m[1]).decode(), text)


def test_annotations_are_one_line_each_and_escaped_as_the_runner_reads_them():
    lines = written(Annotations, FAIL_ON,
                    errors=[(Where("a,b:c.jsonl", 2), "bad\nline")]).splitlines()
    commands = [line for line in lines if line.startswith("::")]
    assert len(commands) == 5 and lines[-1].startswith("0 records")
    assert [line.split(" ", 1)[0] for line in commands] == ["::warning", "::warning", "::error", "::warning", "::error"]
    hostile = commands[3]
    properties, text = re.fullmatch(r"::warning ([^:]*)::(.*)", hostile).groups()
    assert properties == "file=turns.jsonl,line=3,title=proofmark%3A unverified claim"
    assert _unescape(text) == f"Claim: {HOSTILE}\nUnverified: {HOSTILE}"
    assert "\r" not in hostile and "%%" not in hostile
    assert commands[4] == "::error file=a%2Cb%3Ac.jsonl,line=2,title=proofmark%3A input not checked::bad%0Aline"


def test_markdown_escapes_claim_text_and_lists_flagged_claims_worst_first():
    summary = written(Summary, FAIL_ON)
    counts = re.findall(r"^\| (\**[a-z-]+\**)[^|]* \| (\d+) \|$", summary, re.M)
    assert counts == [("verified", "1"), ("unverified", "2"), ("pre-existing", "1"),
                      ("**contradicted**", "1"), ("unchecked", "1")]
    flagged = summary.split("#### Flagged claims")[1].splitlines()[4:8]
    assert [row.split(" | ")[1] for row in flagged] == [
        "**contradicted**", "**pre-existing**", "**unverified**", "**unverified**"]
    hostile = flagged[3]
    assert "<script>" not in hostile and "\x1b" not in hostile and hostile.count(" | ") == 3
    assert r"\<script\>" in hostile and r"owned \| \<" in hostile
    assert "#### Inputs not checked (1)" in summary


def test_markdown_lists_at_most_its_row_limit():
    out = io.StringIO()
    writer = Summary(out, FAIL_ON)
    claim = ClaimResult("unverified", "e", {"kind": "other", "text": "t"})
    for index in range(FLAGGED_ROWS + 3):
        writer.result(Where("a.jsonl", 1, 0, index), claim)
    writer.end(Tally())
    assert out.getvalue().count("| a.jsonl:1") == FLAGGED_ROWS
    assert "3 more flagged claims" in out.getvalue()
