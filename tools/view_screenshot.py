"""Takes docs/view.png, the README's picture of `vellomar view`: a message
page of examples/adt_a01.hl7 in headless Chromium (apt-get install chromium
chromium-driver; pip install selenium), the pointer on PID-5-1 in the raw text.

    python tools/view_screenshot.py [OUT]
"""

import sys
import threading
import time
from pathlib import Path

from selenium import webdriver
from selenium.webdriver import ActionChains
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

from vellomar.viewer.archive import Archive, index_file
from vellomar.viewer.server import make_server

ROOT = Path(__file__).resolve().parents[1]


def main() -> None:
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "docs" / "view.png"
    server = make_server(Archive([index_file(str(p.relative_to(ROOT)))
                                  for p in sorted((ROOT / "examples").glob("*.hl7"))]))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1400,1500",
                     "--hide-scrollbars"):
        options.add_argument(argument)
    browser = webdriver.Chrome(options=options, service=Service("/usr/bin/chromedriver"))
    try:
        browser.get(server.url + "#filter=MSH-10+%3D+MSG00017&pos=0")
        for _ in range(100):  # at most 10 s for the page to fill
            spans = browser.find_elements(By.CSS_SELECTOR, "#raw span[data-k='2:5-1']")
            if spans:
                break
            time.sleep(0.1)
        ActionChains(browser).move_to_element(spans[0]).perform()
        time.sleep(0.3)
        browser.save_screenshot(str(out))
    finally:
        browser.quit()
        server.shutdown()


if __name__ == "__main__":
    main()
