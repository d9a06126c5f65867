"""`vellomar view` in a real browser: headless Chromium driven by Selenium.
Skipped where Chromium, its driver or Selenium is missing, unless
VELLOMAR_BROWSER_TESTS=require (CI), where that is a failure."""

import os
import shutil

import pytest

import vellomar
from vellomar.viewer.detail import describe

from conftest import VIEW_MESSAGES

WAIT = 30  # seconds a page may take to show what is asked


@pytest.fixture
def browser():
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        webdriver = None
    chromium, driver = shutil.which("chromium"), shutil.which("chromedriver")
    if not (webdriver and chromium and driver):
        why = "needs selenium, chromium and chromedriver (apt-get install chromium chromium-driver)"
        if os.environ.get("VELLOMAR_BROWSER_TESTS") == "require":
            pytest.fail(why)
        pytest.skip(why)
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1400,1000"):
        options.add_argument(argument)
    # The system's driver (Selenium must not look for one on the network),
    # without the sanitizer runtime the suite may run under.
    env = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS")}
    session = webdriver.Chrome(options=options, service=Service(driver, env=env))
    session.set_page_load_timeout(WAIT)
    yield session
    session.quit()


def test_open_filter_and_read_a_message(view_server, browser):
    from selenium.webdriver import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait

    def text_of(selector):
        def seen(driver):
            found = driver.find_elements(By.CSS_SELECTOR, selector)
            return found[0].text if found and found[0].text else False
        return WebDriverWait(browser, WAIT).until(seen)

    browser.get(view_server.url)
    name = view_server.archive.files[0].name
    assert text_of("#list tbody tr:nth-child(2)") == f"2 {name} #2 ADT^A08 C2 20240102 MRN2 1 warning"
    assert text_of("#list tbody tr:nth-child(3) td:last-child").startswith("not read: 'utf-8' codec")
    field = browser.find_element(By.ID, "filter")
    field.send_keys("MSH-9-2 = A08")
    browser.find_element(By.ID, "apply").click()
    WebDriverWait(browser, WAIT).until(
        lambda driver: driver.find_element(By.ID, "range").text == "1–1 of 1 (of 4)")
    browser.find_element(By.CSS_SELECTOR, "#list tbody tr").click()
    assert "message 2 at byte 130: ADT^A08, control ID C2" in text_of("#title")
    message = vellomar.parse(VIEW_MESSAGES[1].decode())
    finding = vellomar.validate(message)[0]
    assert finding.location == "PID-8"
    assert text_of("tr[data-k='2:8'] td.value") == "Q\n" + finding.text
    assert text_of("tr[data-k='2:5-1'] td.path") == "PID-5-1"
    assert text_of("tr[data-k='2:5-1'] td.value") == "SMITH"
    if hasattr(vellomar, "describe"):  # the definitions' names
        assert text_of("tr[data-k='2:5'] td.name") == describe(message, "PID-5")["name"]
        assert describe(message, "PID")["name"] in text_of("div[data-segment='2'] .shead")
    ActionChains(browser).move_to_element(
        browser.find_element(By.CSS_SELECTOR, "#raw span[data-k='2:5-2']")).perform()
    assert text_of("#pointer").startswith("PID-5-2")
    assert browser.find_element(By.CSS_SELECTOR, "#raw span[data-k='2:5-2']").get_attribute(
        "class") == "lit"
    # Without the token, nothing.
    browser.get(view_server.url.rsplit("/", 2)[0] + "/")
    assert text_of("body") == "Forbidden: open the address vellomar view printed."
