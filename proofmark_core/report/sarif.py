"""SARIF 2.1.0, the format code scanning reads: a rule per verdict, and a result per
flagged claim placed at its closing message (or turn record) in the log.

Results are written as they come; only the inputs that could not be used are kept,
to be reported as notifications of the run at its end.
"""

from __future__ import annotations

import hashlib
import json
import os
from importlib import metadata
from pathlib import Path
from typing import TextIO
from urllib.parse import quote

from proofmark_core.report.flagged import LEVELS, MEANINGS, claim_text, line_of, message
from proofmark_core.report.tally import Tally
from proofmark_core.run.units import Where
from proofmark_core.verdicts import VERDICTS, ClaimResult

SCHEMA = "https://json.schemastore.org/sarif-2.1.0.json"
VERSION = "2.1.0"
INFORMATION_URI = "https://pypi.org/project/proofmark-core/"
SOURCE_ROOT = "%SRCROOT%"
STDIN = "<stdin>"
# Verdicts that are not flagged still have a rule, at these levels.
QUIET_LEVELS = {"verified": "none", "unchecked": "note"}
FINGERPRINT = "proofmarkClaim/v1"
DISTRIBUTION = "proofmark-core"


def rules() -> list[dict[str, object]]:
    return [{
        "id": verdict,
        "name": "".join(word.capitalize() for word in verdict.split("-")) + "Claim",
        "shortDescription": {"text": f"A claim the log leaves {verdict}"},
        "fullDescription": {"text": MEANINGS[verdict]},
        "help": {"text": f"{MEANINGS[verdict]} The result's message quotes the claim and "
                         "the evidence; the location is the turn in the agent's log."},
        "defaultConfiguration": {"level": LEVELS.get(verdict) or QUIET_LEVELS[verdict]},
    } for verdict in VERDICTS]


class Sarif:
    """A SARIF log of one run, written as results come."""

    def __init__(self, out: TextIO) -> None:
        self._out = out
        self._notifications: list[dict[str, object]] = []
        self._separator = "\n"
        self._rule_index = {verdict: index for index, verdict in enumerate(VERDICTS)}
        driver = {"name": "proofmark", **_version(), "informationUri": INFORMATION_URI,
                  "rules": rules()}
        head = json.dumps({"$schema": SCHEMA, "version": VERSION})[:-1]
        out.write(f'{head}, "runs": [{{"tool": {{"driver": {json.dumps(driver)}}},\n'
                  f'"originalUriBaseIds": {json.dumps(_source_root())},\n"results": [')

    def result(self, where: Where, result: ClaimResult, excerpt: str | None = None) -> None:
        level = LEVELS.get(result.verdict)
        if level is None:
            return
        found: dict[str, object] = {
            "ruleId": result.verdict, "ruleIndex": self._rule_index[result.verdict],
            "level": level, "message": {"text": message(result)},
        }
        location = _location(where)
        if location is not None:
            found["locations"] = [location]
        found["partialFingerprints"] = {FINGERPRINT: _fingerprint(where, result)}
        found["properties"] = {"kind": result.claim.get("kind", "other"),
                               "evidence": result.evidence, **_turn(where)}
        if excerpt is not None:
            found["properties"]["excerpt"] = excerpt  # type: ignore[index]
        self._out.write(self._separator + json.dumps(found))
        self._separator = ",\n"

    def error(self, where: Where, text: str) -> None:
        notification: dict[str, object] = {"level": "error", "message": {"text": text}}
        location = _location(where)
        if location is not None:
            notification["locations"] = [location]
        self._notifications.append(notification)

    def end(self, tally: Tally) -> None:
        invocation = {"executionSuccessful": not tally.errors,
                      "toolExecutionNotifications": self._notifications,
                      "properties": {"summary": tally.summary()}}
        self._out.write(f'\n],\n"invocations": [{json.dumps(invocation)}]}}]}}\n')


def _version() -> dict[str, str]:
    """The installed package's version; a checkout run in place has none to give."""
    try:
        return {"version": metadata.version(DISTRIBUTION)}
    except metadata.PackageNotFoundError:
        return {}


def _location(where: Where) -> dict[str, object] | None:
    if where.file == STDIN:
        return None
    physical: dict[str, object] = {"artifactLocation": _artifact(where.file)}
    line = line_of(where)
    if line is not None and line > 0:
        physical["region"] = {"startLine": line}
    return {"physicalLocation": physical}


def _artifact(file: str) -> dict[str, str]:
    """A relative path stays relative to the source root (the working directory), as
    code scanning wants; any other becomes a file URI."""
    path = Path(file)
    if path.is_absolute():
        return {"uri": path.as_uri()}
    return {"uri": quote(path.as_posix()), "uriBaseId": SOURCE_ROOT}


def _source_root() -> dict[str, object]:
    return {SOURCE_ROOT: {"uri": Path(os.getcwd()).as_uri() + "/"}}


def _turn(where: Where) -> dict[str, object]:
    return {name: value for name, value in
            (*where.turn_fields().items(), ("record", where.record), ("claim", where.claim))
            if value is not None}


def _fingerprint(where: Where, result: ClaimResult) -> str:
    """The same claim of the same turn has the same fingerprint from run to run, so
    that code scanning tracks one alert for it."""
    key = json.dumps([where.file, where.session, where.turn, where.record, claim_text(result)])
    return hashlib.sha256(key.encode("utf-8", "surrogatepass")).hexdigest()
