"""The JSON Schemas shipped in the package describe what check writes as JSON and JSONL."""

import json
from importlib import resources

import pytest

from test_cli import CLAIMS, EXAMPLES, run

TYPES = {"object": dict, "array": list, "string": str, "null": type(None), "integer": int}


def schema(name):
    return json.loads(resources.files("proofmark_core").joinpath(f"schema/{name}.schema.json").read_text())


def problems(value, rule, root, place="$"):
    """What in ``value`` breaks ``rule``: the keywords these schemas use, nothing more."""
    if "$ref" in rule:
        rule = {**root["$defs"][rule["$ref"].rsplit("/", 1)[1]], **{k: v for k, v in rule.items() if k != "$ref"}}
    found = []
    if "type" in rule:
        types = rule["type"] if isinstance(rule["type"], list) else [rule["type"]]
        if not any(isinstance(value, TYPES[t]) and not isinstance(value, bool) for t in types):
            return [f"{place}: {value!r} is not {rule['type']}"]
    if "enum" in rule and value not in rule["enum"]:
        found.append(f"{place}: {value!r} not in {rule['enum']}")
    if "minimum" in rule and isinstance(value, int) and value < rule["minimum"]:
        found.append(f"{place}: {value} < {rule['minimum']}")
    if isinstance(value, dict):
        found += [f"{place}: no {key}" for key in rule.get("required", ()) if key not in value]
        for key, item in value.items():
            inner = rule.get("properties", {}).get(key, rule.get("additionalProperties"))
            if isinstance(inner, dict):
                found += problems(item, inner, root, f"{place}.{key}")
    if isinstance(value, list) and "items" in rule:
        for index, item in enumerate(value):
            found += problems(item, rule["items"], root, f"{place}[{index}]")
    return found


def check(value, name):
    root = schema(name)
    assert problems(value, root, root) == []


@pytest.mark.parametrize("args", [(EXAMPLES / "session.jsonl", "--excerpts"), (CLAIMS, "-")])
def test_json_and_jsonl_follow_the_schemas_and_say_their_version(args):
    stdin = b'{"run_log": {}, "claims": []}\nnot json\n'
    document = json.loads(run("check", "--format", "json", *args, stdin=stdin).stdout)
    lines = [json.loads(line) for line in
             run("check", "--format", "jsonl", *args, stdin=stdin).stdout.splitlines()]
    assert document["schema_version"] == 1
    assert {line.pop("schema_version") for line in lines} == {1}
    rows = [*document["results"], *document["errors"], {"summary": document["summary"]}]
    assert sorted(map(json.dumps, lines)) == sorted(map(json.dumps, rows))
    for row in document["results"]:
        check(row, "result")
    for row in document["errors"]:
        check(row, "error")
    check(document["summary"], "summary")


def test_the_result_schema_takes_the_optional_fields_and_rejects_wrong_values():
    root = schema("result")
    good = {"file": "a", "line": 1, "record": 0, "claim": 0, "agent": None, "session": None,
            "turn": None, "kind": "other", "text": "t", "targets": [], "verdict": "verified",
            "evidence": "e", "engine_verdict": "unverified", "engine_evidence": "e0",
            "tests": {"runner": "pytest", "passed": 3, "failed": 0, "exit_code": 0}}
    assert problems(good, root, root) == []
    bad = {**good, "verdict": "fine", "line": 0, "tests": {"passed": "3"}}
    del bad["text"]
    assert problems(bad, root, root) == [
        "$: no text", "$.line: 0 < 1",
        "$.verdict: 'fine' not in ['verified', 'unverified', 'pre-existing', 'contradicted', "
        "'unchecked']",
        "$.tests.passed: '3' is not ['integer', 'null']"]
