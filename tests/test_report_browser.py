"""The HTML report in headless Chromium (Debian's, driven by Playwright): the counts it
shows, its filters and search, hostile text, no network, and reading without scripts.

Skips when Playwright or a chromium binary is missing (PROOFMARK_CHROMIUM names one
elsewhere on the path); `.ci/run` installs both.
"""

import io
import os
import shutil

import pytest

from proofmark_core.report.html import write_page
from proofmark_core.report.html_run import NO_AGENT, SEVERITY, Run

sync_api = pytest.importorskip("playwright.sync_api")
CHROMIUM = os.environ.get("PROOFMARK_CHROMIUM") or shutil.which("chromium") \
    or shutil.which("chromium-browser")
pytestmark = [
    pytest.mark.skipif(not CHROMIUM, reason="no chromium to run the report in"),
    # tools/sanitize.sh preloads the sanitizer runtimes, which the browser would inherit.
    pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                       reason="the browser does not run with the sanitizer runtimes preloaded"),
]

FILES = ["logs/claude-1.jsonl", "logs/claude-2.jsonl", "logs/codex.jsonl", "turns.json"]
AGENT_OF_FILE = ["claude-code", "claude-code", "codex", None]
VERDICT_CYCLE = ["verified", "contradicted", "unverified", "verified", "unchecked",
                 "pre-existing", "verified"]
HOSTILE = [
    "<img src=x onerror=\"window.pwned='img'\">",
    "</script><script>window.pwned='script'</script>",
    "</noscript><img src=x onerror=window.pwned='noscript'>",
    "<a href=\"javascript:window.pwned='href'\">link</a><svg onload=window.pwned='svg'>",
]
READY = "html[data-ready=true]"


def make_results(count=40):
    results = []
    for n in range(count):
        file = n % len(FILES)
        results.append({
            "file": FILES[file], "agent": AGENT_OF_FILE[file], "line": 1 + n // 7,
            "session": f"s{file}" if AGENT_OF_FILE[file] else None, "turn": n // 7,
            "record": n // 7, "claim": n, "kind": "command_ran" if n % 3 else "file_changed",
            "text": f"claim {n:03d}: " + ("Raised the Retry limit" if n % 5 == 0 else
                                          "Ran `pytest -q`"),
            "evidence": "`pytest -q` in command (exit ok)" if n % 4 == 0 else "no trace",
            "targets": ["pytest -q"], "verdict": VERDICT_CYCLE[n % len(VERDICT_CYCLE)],
            "excerpt": f"command, exit 0:\npytest -q\n{n} passed" if n % 2 else None,
        })
    return results


def hostile_results():
    return [{"file": text, "agent": text, "session": text, "kind": text, "text": text,
             "evidence": text, "excerpt": text, "targets": [text, "img"], "claim": n,
             "verdict": SEVERITY[n % len(SEVERITY)]} for n, text in enumerate(HOSTILE)]


def write_report(path, results):
    run = Run()
    for result in results:
        run.add(result)
    out = io.StringIO()
    write_page(run, out)
    path.write_text(out.getvalue(), encoding="utf-8")
    return path.as_uri()


def worst_first(results):
    return sorted(results, key=lambda result: SEVERITY.index(result["verdict"]))


@pytest.fixture(scope="module")
def browser():
    with sync_api.sync_playwright() as playwright:
        browser = playwright.chromium.launch(executable_path=CHROMIUM)
        yield browser
        browser.close()


class Visit:
    """A page opened in a fresh context, with every request, CSP violation, page error
    and dialog it caused."""

    def __init__(self, browser, url, scripts=True):
        self.context = browser.new_context(java_script_enabled=scripts)
        self.context.add_init_script(
            "window.violations = [];"
            "document.addEventListener('securitypolicyviolation',"
            " (event) => window.violations.push(event.violatedDirective));")
        self.page = self.context.new_page()
        self.requests, self.errors, self.dialogs = [], [], []
        self.page.on("request", lambda request: self.requests.append(request.url))
        self.page.on("pageerror", lambda error: self.errors.append(str(error)))
        self.page.on("dialog", lambda dialog: (self.dialogs.append(dialog.message),
                                               dialog.dismiss()))
        self.page.goto(url)
        if scripts:
            self.page.wait_for_selector(READY, state="attached")

    def texts(self, selector):
        return self.page.locator(selector).all_text_contents()

    def close(self):
        self.context.close()


@pytest.fixture(scope="module")
def report_url(tmp_path_factory):
    return write_report(tmp_path_factory.mktemp("report") / "report.html", make_results())


@pytest.fixture(scope="module")
def visit(browser, report_url):
    opened = Visit(browser, report_url)
    yield opened
    opened.close()


def test_counts_shown_per_verdict_agent_and_file(visit):
    results = make_results()

    def expected(key):
        counts = {}
        for result in results:
            name = result[key] if result[key] is not None else NO_AGENT
            counts.setdefault(name, dict.fromkeys(SEVERITY, 0))[result["verdict"]] += 1
        return counts

    def shown(table):
        return {row.locator("th").text_content(): {
            verdict: int(row.locator(f'td[data-verdict="{verdict}"]').text_content())
            for verdict in SEVERITY} for row in visit.page.locator(f"#{table} tbody tr").all()}

    assert shown("agents") == expected("agent") and shown("files") == expected("file")
    legend = {verdict: visit.page.locator(f'#overall li[data-verdict="{verdict}"] b')
              .text_content() for verdict in SEVERITY}
    assert legend == {v: str(sum(r["verdict"] == v for r in results)) for v in SEVERITY}
    flagged = sum(r["verdict"] in SEVERITY[:3] for r in results)
    assert visit.page.text_content("#flagged-share") == f"{100 * flagged / len(results):.1f}%"


AGENTS = ["claude-code", "codex", NO_AGENT]  # as they first come in make_results


def _matches(result, verdicts, agent, file, query):
    haystack = (result["text"] + "\n" + result["evidence"]).lower()
    return ((verdicts is None or result["verdict"] in verdicts)
            and (agent is None or (result["agent"] or NO_AGENT) == agent)
            and (file is None or result["file"] == file)
            and query.strip().lower() in haystack)


@pytest.mark.parametrize("verdicts, agent, file, query", [
    (None, None, None, ""),
    *[((verdict,), None, None, "") for verdict in SEVERITY],
    (("contradicted", "unverified"), None, None, ""),
    ((), None, None, ""),
    *[(None, agent, None, "") for agent in AGENTS],
    *[(None, None, file, "") for file in FILES],
    (None, None, None, "retry"),        # in the text, another letter case
    (None, None, None, "EXIT OK"),      # in the evidence only
    (None, None, None, "claim 007"),
    (None, None, None, "no such words"),
    (("verified",), "codex", "logs/codex.jsonl", "pytest"),
])
def test_each_filter_and_the_search_show_exactly_the_right_rows(visit, verdicts, agent, file,
                                                                 query):
    page, results = visit.page, make_results()
    for number, verdict in enumerate(SEVERITY):
        page.locator(f'input[name=verdict][value="{number}"]').set_checked(
            verdicts is None or verdict in verdicts)
    page.select_option("#agent", str(AGENTS.index(agent)) if agent else "-1")
    page.select_option("#file", str(FILES.index(file)) if file else "-1")
    page.fill("#search", query)
    expected = [r["text"] for r in worst_first(results)
                if _matches(r, verdicts, agent, file, query)]
    everything = len(expected) == len(results)
    sync_api.expect(page.locator("#shown")).to_have_text(
        f"Showing all {len(results)} claims." if everything
        else f"Showing {len(expected)} of {len(results)} claims.")
    assert visit.texts("#claims-list article .t") == expected


def test_a_row_of_the_agent_table_filters_by_that_agent(visit):
    page = visit.page
    page.locator("#filters").evaluate("form => form.reset()")
    page.locator('#agents tr[data-agent="1"] th').click()
    expected = [r["text"] for r in worst_first(make_results()) if r["agent"] == "codex"]
    sync_api.expect(page.locator("#shown")).to_have_text(f"Showing {len(expected)} of 40 claims.")
    assert visit.texts("#claims-list article .t") == expected


def test_rows_render_in_batches_as_the_reader_scrolls(browser, tmp_path):
    results = make_results(1000)
    opened = Visit(browser, write_report(tmp_path / "long.html", results))
    try:
        first = opened.page.locator("#claims-list article").count()
        assert 0 < first < len(results)
        while opened.page.locator("#more").is_visible():
            # The button may be hidden by the time it is reached: scroll only if it is not.
            opened.page.evaluate("() => { const more = document.getElementById('more');"
                                 " if (!more.hidden) more.scrollIntoView(); }")
            opened.page.mouse.wheel(0, 100_000)
        assert opened.texts("#claims-list article .t") == [r["text"] for r in worst_first(results)]
    finally:
        opened.close()


@pytest.mark.parametrize("scripts", [True, False], ids=["scripts", "no scripts"])
def test_hostile_text_shows_as_text_runs_nothing_and_requests_nothing(browser, tmp_path,
                                                                      scripts):
    opened = Visit(browser, write_report(tmp_path / "hostile.html", hostile_results()), scripts)
    try:
        page = opened.page
        listed = "#claims-list" if scripts else "#static-list"
        by_verdict = [r["text"] for r in worst_first(hostile_results())]
        assert opened.texts(f"{listed} article .t") == by_verdict
        assert opened.texts(f"{listed} article .e") == by_verdict
        assert opened.texts(f"{listed} article pre") == by_verdict
        assert set(opened.texts("#files tbody th")) == set(HOSTILE)
        assert page.locator("img, a, svg[onload]").count() == 0
        assert page.locator("script").count() == 2
        if scripts:
            page.fill("#search", "script")
            page.mouse.wheel(0, 10_000)
        # A request the policy stopped shows as a violation, not as a request.
        assert page.evaluate("() => [window.pwned, window.violations]") == [None, []]
        assert opened.dialogs == opened.errors == []
        assert opened.requests == [page.url]
    finally:
        opened.close()


def test_the_policy_stops_any_other_script(visit):
    ran = visit.page.evaluate("""async () => {
        const script = document.createElement("script");
        script.textContent = "window.injected = true";
        document.body.append(script);
        await new Promise((resolve) => setTimeout(resolve, 100));  // violations come later
        return [window.injected === true, window.violations.slice()];
    }""")
    assert ran == [False, ["script-src-elem"]]


def test_without_scripts_every_claim_is_shown_and_the_filters_are_absent(browser, report_url):
    opened = Visit(browser, report_url, scripts=False)
    try:
        page = opened.page
        assert not page.locator("#filters").is_visible()
        assert page.locator("#claims-list article").count() == 0
        results = worst_first(make_results())
        assert opened.texts("#static-list article .t") == [r["text"] for r in results]
        assert opened.texts("#static-list article pre") == \
            [r["excerpt"] for r in results if r["excerpt"] is not None]
        assert page.locator("#static-list article").first.is_visible()
        assert page.locator("#static-list mark").first.text_content() == "pytest -q"
    finally:
        opened.close()
