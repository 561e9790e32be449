"""Makes docs/report.png, the README's picture of the HTML report over examples/.

    python3 tools/report_screenshot.py [--chromium PATH] [--page report.html]

The claims of examples/turn.json and examples/claims.jsonl are checked with the
excerpts of their logs, the page is written and opened in headless Chromium (through
Playwright), with only the contradicted and pre-existing claims shown, and the top of
it is saved.
"""

import argparse
import io
import json
import shutil
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT))

from proofmark_core._excerpt import excerpt  # noqa: E402
from proofmark_core._html import write_page  # noqa: E402
from proofmark_core._html_run import Run  # noqa: E402
from proofmark_core.api import check_claim  # noqa: E402

EXAMPLES = [ROOT / "examples" / "turn.json", ROOT / "examples" / "claims.jsonl"]
VIEW = {"width": 1100, "height": 1250}


def turns(path):
    if path.suffix == ".jsonl":
        for record, line in enumerate(path.read_text().splitlines()):
            yield record, record + 1, json.loads(line)
    else:
        yield 0, 1, json.loads(path.read_text())


def example_page():
    run = Run()
    for path in EXAMPLES:
        for record, line, turn in turns(path):
            for number, claim in enumerate(turn["claims"]):
                result = check_claim(turn["run_log"], claim)
                run.add({"file": f"examples/{path.name}", "line": line, "record": record,
                         "claim": number, "agent": None, "kind": claim.get("kind", "other"),
                         "text": claim.get("text", ""), "targets": claim.get("targets", []),
                         "verdict": result.verdict, "evidence": result.evidence,
                         "excerpt": excerpt(turn["run_log"], claim, result.evidence)})
    out = io.StringIO()
    write_page(run, out)
    return out.getvalue()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--chromium", default=shutil.which("chromium") or "/usr/bin/chromium")
    parser.add_argument("--page", type=Path, help="also keep the page at this path")
    parser.add_argument("--out", type=Path, default=ROOT / "docs" / "report.png")
    args = parser.parse_args()
    from playwright.sync_api import sync_playwright

    with tempfile.TemporaryDirectory() as folder:
        page_path = args.page or Path(folder) / "report.html"
        page_path.write_text(example_page(), encoding="utf-8")
        with sync_playwright() as playwright:
            browser = playwright.chromium.launch(executable_path=args.chromium)
            page = browser.new_page(viewport=VIEW)
            page.goto(page_path.resolve().as_uri())
            page.wait_for_selector("html[data-ready=true]", state="attached")
            for verdict in ("2", "3", "4"):  # unverified, unchecked, verified
                page.locator(f'input[name=verdict][value="{verdict}"]').uncheck()
            args.out.parent.mkdir(exist_ok=True)
            page.screenshot(path=str(args.out))
            browser.close()
    print(f"{args.out}: {args.out.stat().st_size:,} bytes")


if __name__ == "__main__":
    main()
