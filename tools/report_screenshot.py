"""Makes docs/report.png, the README's picture of the HTML report over examples/.

    python3 tools/report_screenshot.py [--chromium PATH] [--page report.html]

Every input of examples/ is checked by `proofmark check --format html`, the page is
opened in headless Chromium (through Playwright), with only the contradicted and
pre-existing claims shown, and the top of it is saved.
"""

import argparse
import contextlib
import shutil
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT))

from proofmark_core.cli import main as proofmark  # noqa: E402

VIEW = {"width": 1100, "height": 1250}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--chromium", default=shutil.which("chromium") or "/usr/bin/chromium")
    parser.add_argument("--page", type=Path, help="also keep the page at this path")
    parser.add_argument("--out", type=Path, default=ROOT / "docs" / "report.png")
    args = parser.parse_args()
    from playwright.sync_api import sync_playwright

    with tempfile.TemporaryDirectory() as folder:
        page_path = args.page or Path(folder) / "report.html"
        with contextlib.chdir(ROOT):  # so that the page names the files examples/...
            proofmark(["check", "--format", "html", "-o", str(page_path.resolve()), "examples"])
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
