"""The writer of each report format, by name, as ``check`` and ``report`` ask for it."""

from __future__ import annotations

from typing import TextIO

from proofmark_core.report.jsonl import JsonDocument, JsonLines
from proofmark_core.report.redacting import Redacting
from proofmark_core.report.table import Table
from proofmark_core.report.tally import Writer
from proofmark_core.report.terminal import Progress, wants_colour


def writer(name: str, out: TextIO, fail_on: frozenset[str], progress: Progress,
           redact: bool = True) -> Writer:
    """The writer of the format; with ``redact``, credentials are masked in what it gets."""
    chosen = _writer(name, out, fail_on, progress)
    return Redacting(chosen) if redact else chosen


def _writer(name: str, out: TextIO, fail_on: frozenset[str], progress: Progress) -> Writer:
    # Each format's code is imported only when asked for.
    if name == "json":
        return JsonDocument(out)
    if name == "jsonl":
        return JsonLines(out)
    if name == "html":
        from proofmark_core.report.html import HtmlReport

        return HtmlReport(out)
    if name == "sarif":
        from proofmark_core.report.sarif import Sarif

        return Sarif(out)
    if name == "junit":
        from proofmark_core.report.junit import Junit

        return Junit(out, fail_on)
    if name == "github":
        from proofmark_core.report.github import Annotations

        return Annotations(out, fail_on)
    if name == "markdown":
        from proofmark_core.report.markdown import Summary

        return Summary(out, fail_on)
    # Progress shares the terminal with the table: wipe it before each row.
    before_write = progress.clear if out.isatty() else lambda: None
    return Table(out, wants_colour(out), before_write)
