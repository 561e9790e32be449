"""The page of the HTML report: counts and charts, then every claim, worst first.

The claims are in the page twice. The script reads them from a data block (JSON,
gzip-compressed and in base64, so that a run of 100,000 claims stays a few tens of
megabytes) and renders them in batches as the reader scrolls. They are also written
as HTML inside ``<noscript>``, which a browser parses only when scripts are off, so
that the page shows everything without them and costs nothing to parse with them.

Every text from a log or a claim is escaped; the script builds its nodes with
``textContent`` only, and the Content-Security-Policy lets nothing run but the page's
own script and style, named by hash.
"""

from __future__ import annotations

import base64
import hashlib
import html
import json
import re
import zlib
from collections.abc import Iterable, Iterator
from importlib import resources

from proofmark_core.report.html_run import FLAGGED, SEVERITY, Counts, Group, Run
from proofmark_core.report.tally import plural

ASSETS = resources.files("proofmark_core.report") / "assets"
OPEN_FILE_TABLE_UP_TO = 30
BAR_UNITS = 1000
BASE64_CHUNK = 1 << 16
DOT = " \u00b7 "


def page(run: Run, title: str, records: int) -> Iterator[str]:
    """The page, in parts to write one after the other."""
    style = (ASSETS / "report.css").read_text(encoding="utf-8")
    script = (ASSETS / "report.js").read_text(encoding="utf-8")
    yield _head(run, title, records, style, script)
    yield _summary(run)
    yield from _errors(run)
    yield _filters(run)
    yield '<div id="claims-list"></div><button id="more" type="button" hidden></button>\n'
    yield '<noscript><div id="static-list">\n'
    yield from _static_claims(run)
    yield "</div></noscript>\n</section>\n"
    yield '<script type="application/gzip+base64" id="report-data">'
    yield from _gzip_base64(_data(run))
    yield f"</script>\n<script>{script}</script>\n</body>\n</html>\n"


def _head(run: Run, title: str, records: int, style: str, script: str) -> str:
    policy = (f"default-src 'none'; script-src '{_hash(script)}'; "
              f"style-src '{_hash(style)}'; base-uri 'none'; form-action 'none'")
    errors = f", {plural(len(run.errors), 'error')}" if run.errors else ""
    return (
        '<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n'
        f'<meta http-equiv="Content-Security-Policy" content="{policy}">\n'
        '<meta name="referrer" content="no-referrer">\n'
        '<meta name="viewport" content="width=device-width, initial-scale=1">\n'
        f"<title>{_h(title)}</title>\n<style>{style}</style>\n</head>\n<body>\n"
        f'<header><h1>{_h(title)}</h1>\n<p id="totals">{plural(records, "record")}, '
        f'{plural(run.overall.total, "claim")}{errors}</p></header>\n'
    )


def _summary(run: Run) -> str:
    overall = run.overall
    legend = "".join(
        f'<li class="{_vclass(verdict)}" data-verdict="{verdict}"><span class="swatch"></span>'
        f"{verdict}: <b>{overall.verdicts[verdict]}</b> "
        f"({_percent(overall.verdicts[verdict], overall.total)})</li>" for verdict in SEVERITY)
    by_agent = sorted(run.per_agent.items(), key=lambda item: item[1].worst_first())
    by_file = sorted(run.per_file.items(), key=lambda item: item[1].worst_first())
    opened = " open" if len(by_file) <= OPEN_FILE_TABLE_UP_TO else ""
    return (
        '<section id="summary">\n<h2>Summary</h2>\n'
        f'<p class="flagged">Flagged: <b id="flagged-share">'
        f"{_percent(overall.flagged(), overall.total)}</b> of the claims are "
        f"{', '.join(FLAGGED[:-1])} or {FLAGGED[-1]}.</p>\n"
        f'<div class="overall">{_bar(overall, "big")}\n'
        f'<ul class="legend" id="overall">{legend}</ul></div>\n'
        f'<h3>Per agent</h3>\n{_count_table("agents", "agent", list(run.agents), by_agent)}\n'
        f'<details id="per-file"{opened}><summary><h3>Per file ({len(by_file)})</h3></summary>\n'
        f'{_count_table("files", "file", list(run.files), by_file)}\n</details>\n</section>\n'
    )


def _count_table(table_id: str, key: str, names: list[str],
                 counts: list[tuple[int, Counts]]) -> str:
    heads = "".join(f'<th class="n {_vclass(verdict)}">{verdict}</th>' for verdict in SEVERITY)
    rows = "".join(
        f'<tr data-{key}="{number}"><th scope="row">{_h(names[number])}</th>'
        f"<td>{_bar(count)}</td>"
        + "".join(f'<td class="n" data-verdict="{verdict}">{count.verdicts[verdict]}</td>'
                  for verdict in SEVERITY)
        + f'<td class="n" data-verdict="all">{count.total}</td>'
          f'<td class="n">{_percent(count.flagged(), count.total)}</td></tr>\n'
        for number, count in counts)
    return (f'<table id="{table_id}" class="counts"><thead><tr><th>{key}</th><th>chart</th>'
            f'{heads}<th class="n">claims</th><th class="n">flagged</th></tr></thead>\n'
            f"<tbody>\n{rows}</tbody></table>")


def _bar(counts: Counts, size: str = "small") -> str:
    """A bar cut into one segment per verdict, each as wide as its share of the claims."""
    total, done, left, segments = counts.total, 0, 0, []
    for verdict in SEVERITY:
        count = counts.verdicts[verdict]
        if not count:
            continue
        done += count
        right = round(BAR_UNITS * done / total)  # from the running sum: no gap, no overrun
        segments.append(f'<rect class="{_vclass(verdict)}" x="{left}" width="{right - left}" '
                        f'height="10"><title>{count} {verdict} '
                        f"({_percent(count, total)})</title></rect>")
        left = right
    label = ", ".join(f"{counts.verdicts[v]} {v}" for v in SEVERITY if counts.verdicts[v])
    return (f'<svg class="bar {size}" viewBox="0 0 {BAR_UNITS} 10" preserveAspectRatio="none" '
            f'role="img" aria-label="{label}">{"".join(segments)}</svg>')


def _errors(run: Run) -> Iterator[str]:
    if not run.errors:
        return
    yield (f'<section id="errors"><h2>Errors ({len(run.errors)})</h2>\n'
           "<p>These records or claims could not be checked.</p>\n<ul>\n")
    for place, message in run.errors:
        yield f"<li><code>{_h(place)}</code> {_h(message)}</li>\n"
    yield "</ul></section>\n"


def _filters(run: Run) -> str:
    boxes = "".join(
        f'<label class="{_vclass(verdict)}"><input type="checkbox" name="verdict" '
        f'value="{number}" checked> {verdict} ({run.overall.verdicts[verdict]})</label>'
        for number, verdict in enumerate(SEVERITY))
    return (
        f'<section id="claims">\n<h2>Claims ({run.overall.total})</h2>\n'
        '<form id="filters" hidden>\n'
        f'<fieldset id="verdicts"><legend>Verdict</legend>{boxes}</fieldset>\n'
        f'<label>Agent {_select("agent", "all agents", list(run.agents))}</label>\n'
        f'<label>File {_select("file", "all files", list(run.files))}</label>\n'
        '<label>Search <input id="search" type="search" autocomplete="off" '
        'placeholder="claim text or evidence"></label>\n'
        '</form>\n<p id="shown" aria-live="polite"></p>\n'
    )


def _select(select_id: str, everything: str, names: list[str]) -> str:
    options = "".join(f'<option value="{number}">{_h(name)}</option>'
                      for number, name in enumerate(names))
    return f'<select id="{select_id}"><option value="-1">{everything}</option>{options}</select>'


def _static_claims(run: Run) -> Iterator[str]:
    """Every claim as HTML, under the headings the script gives them: one per verdict,
    one per file within it, and one per turn."""
    groups, files, agents = list(run.groups), list(run.files), list(run.agents)
    sessions, kinds = list(run.sessions), list(run.kinds)
    verdict_now = file_now = group_now = -1
    for group_number, claim, verdict, kind, text, evidence, marks, excerpt, tests in run.rows():
        group = groups[group_number]
        if verdict != verdict_now:
            count = run.overall.verdicts[SEVERITY[verdict]]
            yield f'<h3 class="section v{verdict}">{SEVERITY[verdict]} ({count})</h3>\n'
            verdict_now, file_now, group_now = verdict, -1, -1
        if group.file != file_now:
            yield (f'<h4><span class="file">{_h(files[group.file])}</span> '
                   f"<span>{_h(agents[group.agent])}</span></h4>\n")
            file_now = group.file
        if group_number != group_now:
            yield f"<h5>{_h(_turn_heading(group, sessions[group.session]))}</h5>\n"
            group_now = group_number
        shown_excerpt = "" if excerpt is None else f"<pre>{_marked(excerpt, marks)}</pre>"
        # End tags of paragraphs left out, as HTML allows, to keep large pages small.
        number = "" if claim is None else f" claim {claim}"
        shown_run = "" if tests is None else f"<p class=r>{_h(tests)}"
        yield (f"<article class=v{verdict}><p class=h><b>{SEVERITY[verdict]}</b> "
               f"<i>{_h(kinds[kind])}</i>{number}<p class=t>{_marked(text, marks)}"
               f"{shown_run}<p class=e>{_h(evidence)}{shown_excerpt}</article>\n")


def _turn_heading(group: Group, session: str) -> str:
    parts = [f"turn {group.turn}" if group.turn is not None else
             f"record {group.record}" if group.record is not None else "",
             f"session {session}" if session else ""]
    return DOT.join(part for part in parts if part)


def _data(run: Run) -> Iterator[bytes]:
    """The JSON the script reads: the numbered names and turns, then the rows."""
    tables = {
        "verdicts": list(SEVERITY), "files": list(run.files), "agents": list(run.agents),
        "sessions": list(run.sessions), "kinds": list(run.kinds),
        "groups": [[g.file, g.agent, g.session, g.turn, g.record, g.line] for g in run.groups],
    }
    yield json.dumps(tables, ensure_ascii=False)[:-1].encode() + b', "rows": ['
    separator = b"\n"
    for line in run.row_lines():
        yield separator + line[:-1].encode()
        separator = b",\n"
    yield b"\n]}"


def _gzip_base64(pieces: Iterable[bytes]) -> Iterator[str]:
    compressor = zlib.compressobj(6, zlib.DEFLATED, 16 + zlib.MAX_WBITS)
    pending = b""
    for piece in pieces:
        pending += compressor.compress(piece)
        if len(pending) >= BASE64_CHUNK:
            whole = len(pending) - len(pending) % 3  # base64 runs on in thirds of bytes
            yield base64.b64encode(pending[:whole]).decode("ascii")
            pending = pending[whole:]
    yield base64.b64encode(pending + compressor.flush()).decode("ascii")


def _marked(text: str, marks: list[str]) -> str:
    """The text escaped, each occurrence of a mark (any letter case) in <mark>."""
    pieces, at = [], 0
    for start, end in _mark_spans(text, marks):
        pieces += [_h(text[at:start]), "<mark>", _h(text[start:end]), "</mark>"]
        at = end
    return "".join(pieces) + _h(text[at:])


def _mark_spans(text: str, marks: list[str]) -> Iterator[tuple[int, int]]:
    """Where the marks are, left to right; where two start together, the longer."""
    if not marks:
        return
    lowered = text.lower()
    if len(lowered) != len(text) or any(len(mark.lower()) != len(mark) for mark in marks):
        # Lower-casing moved the offsets: a slower search that keeps them.
        pattern = re.compile("|".join(map(re.escape, marks)), re.IGNORECASE)
        found = [(m.start(), m.end()) for m in pattern.finditer(text) if m.end() > m.start()]
    else:
        found = []
        for mark in marks:
            needle = mark.lower()
            start = lowered.find(needle)
            while start >= 0:
                found.append((start, start + len(needle)))
                start = lowered.find(needle, start + 1)
    at = 0
    for start, end in sorted(found, key=lambda span: (span[0], -span[1])):
        if start >= at:
            yield start, end
            at = end


def _hash(text: str) -> str:
    digest = hashlib.sha256(text.encode("utf-8")).digest()
    return "sha256-" + base64.b64encode(digest).decode("ascii")


def _h(text: str) -> str:
    """Text escaped for an element's content; quotes need no escape there."""
    return html.escape(text, quote=False)


def _vclass(verdict: str) -> str:
    return f"v{SEVERITY.index(verdict)}"


def _percent(part: int, whole: int) -> str:
    return f"{100 * part / whole:.1f}%" if whole else "0.0%"
