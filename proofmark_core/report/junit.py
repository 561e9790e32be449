"""JUnit XML, which every CI shows: a test suite per log, a test case per claim, and a
failure for each claim with a --fail-on verdict.

A suite's counts head it, so the cases of the log being read wait in a temporary file
until the next log starts; so do the suites, until the totals of the run are known.
Memory stays flat however long the run.
"""

from __future__ import annotations

import re
import shutil
import tempfile
from typing import IO, TextIO
from xml.sax.saxutils import escape, quoteattr

from proofmark_core.report.flagged import claim_text, line_of, place
from proofmark_core.report.tally import Tally
from proofmark_core.run.units import Where
from proofmark_core.verdicts import ClaimResult

SPOOL_BYTES = 1 << 20
# Characters XML 1.0 cannot hold at all, not even as references.
NOT_XML_RE = re.compile("[^\t\n\r\x20-\ud7ff\ue000-\ufffd\U00010000-\U0010ffff]")
NAME_CHARS = 200


class Junit:
    def __init__(self, out: TextIO, fail_on: frozenset[str]) -> None:
        self._out = out
        self._fail_on = fail_on
        self._suites = _spool()
        self._suite: Suite | None = None
        self._totals = Counts()

    def result(self, where: Where, result: ClaimResult, excerpt: str | None = None) -> None:
        suite = self._suite_of(where.file)
        name = _case_name(where, claim_text(result))
        if result.verdict in self._fail_on:
            suite.add(name, where, "failures",
                      f'<failure type={_attr(result.verdict)} message={_attr(result.evidence)}>'
                      f"{_text(_failure_text(where, result, excerpt))}</failure>")
        elif result.verdict == "unchecked":
            suite.add(name, where, "skipped", f"<skipped message={_attr(result.evidence)}/>")
        else:
            suite.add(name, where, None, f"<system-out>{_text(f'{result.verdict}: {result.evidence}')}"
                                         "</system-out>")

    def error(self, where: Where, message: str) -> None:
        name = "input" if where.record is None else _case_name(where, "")
        self._suite_of(where.file).add(
            name, where, "errors", f'<error type="unusable input" message={_attr(message)}/>')

    def end(self, tally: Tally) -> None:
        self._close_suite()
        self._out.write('<?xml version="1.0" encoding="UTF-8"?>\n'
                        f'<testsuites name="proofmark"{self._totals.attributes()}>\n')
        self._suites.seek(0)
        shutil.copyfileobj(self._suites, self._out)
        self._suites.close()
        self._out.write("</testsuites>\n")

    def _suite_of(self, file: str) -> Suite:
        if self._suite is None or self._suite.name != file:
            self._close_suite()
            self._suite = Suite(file)
        return self._suite

    def _close_suite(self) -> None:
        if self._suite is not None:
            self._suite.write_to(self._suites)
            self._totals.add(self._suite.counts)
            self._suite = None


class Counts:
    def __init__(self) -> None:
        self.tests = self.failures = self.errors = self.skipped = 0

    def add(self, other: Counts) -> None:
        for name in ("tests", "failures", "errors", "skipped"):
            setattr(self, name, getattr(self, name) + getattr(other, name))

    def attributes(self) -> str:
        return (f' tests="{self.tests}" failures="{self.failures}" errors="{self.errors}"'
                f' skipped="{self.skipped}"')


class Suite:
    """The cases of one log, spooled until the log's last one."""

    def __init__(self, name: str) -> None:
        self.name = name
        self.counts = Counts()
        self._cases = _spool()

    def add(self, name: str, where: Where, counted: str | None, body: str) -> None:
        self.counts.tests += 1
        if counted is not None:
            setattr(self.counts, counted, getattr(self.counts, counted) + 1)
        number = line_of(where)
        line = "" if number is None else f' line="{number}"'
        self._cases.write(f"  <testcase classname={_attr(_class_name(where))} name={_attr(name)}"
                          f" file={_attr(where.file)}{line}>{body}</testcase>\n")

    def write_to(self, out: IO[str]) -> None:
        out.write(f" <testsuite name={_attr(self.name)}{self.counts.attributes()}>\n")
        self._cases.seek(0)
        shutil.copyfileobj(self._cases, out)
        self._cases.close()
        out.write(" </testsuite>\n")


def _class_name(where: Where) -> str:
    """The turn or record, under its log: how CIs group the cases of a suite."""
    if where.turn is not None:
        session = f" session {where.session}" if where.session else ""
        return f"{where.file}{session} turn {where.turn}"
    return where.file if where.record is None else f"{where.file} record {where.record}"


def _case_name(where: Where, text: str) -> str:
    text = " ".join(text.split())
    if len(text) > NAME_CHARS:
        text = text[:NAME_CHARS - 1] + "\u2026"
    return f"claim {where.claim}: {text}" if text else f"claim {where.claim}"


def _failure_text(where: Where, result: ClaimResult, excerpt: str | None) -> str:
    text = f"{place(where)}\nClaim: {claim_text(result)}\nEvidence: {result.evidence}"
    return text if excerpt is None else f"{text}\n\n{excerpt}"


def _xml_safe(text: str) -> str:
    """Characters no XML can hold spelled out as their escapes, so the file still parses."""
    return NOT_XML_RE.sub(lambda found: found.group().encode("unicode_escape").decode("ascii"), text)


def _attr(text: str) -> str:
    # Line breaks in an attribute would be read back as spaces: keep them as references.
    return quoteattr(_xml_safe(text), {"\n": "&#10;", "\r": "&#13;", "\t": "&#9;"})


def _text(text: str) -> str:
    # A bare carriage return would be read back as a line feed.
    return escape(_xml_safe(text), {"\r": "&#13;"})


def _spool() -> IO[str]:
    return tempfile.SpooledTemporaryFile(SPOOL_BYTES, "w+", encoding="utf-8",
                                         errors="backslashreplace")
