#!/usr/bin/python3
"""The upload form in a real browser: headless Chromium opens the page of a
running `siderama --headless`, submits the sample image through the form,
reads the JSON answer, and the image is then solved.

Run inside a network namespace that holds only loopback (see CMakeLists.txt),
so neither the browser nor the server can reach any other network.

    browser_form_test.py SIDERAMA SAMPLE_IMAGE
"""

import json
import os
import subprocess
import sys
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.common.exceptions import NoSuchElementException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

TYCHO2 = "/usr/share/astrometry/index-tycho2-{:02d}.littleendian.fits"


def start_server(program, home):
    folder = os.path.join(home, "data", "Siderama")
    os.makedirs(folder)
    for n in range(10, 20):
        os.symlink(TYCHO2.format(n), os.path.join(folder, f"index-41{n}.fits"))
    environment = dict(os.environ, HOME=home, XDG_DATA_HOME=os.path.join(home, "data"),
                       XDG_CONFIG_HOME=os.path.join(home, "config"), TMPDIR=home)
    environment.pop("SIDERAMA_TOOLS_DIR", None)
    server = subprocess.Popen([program, "--headless"], env=environment, stdout=subprocess.PIPE, text=True)
    for line in server.stdout:
        if line.startswith("HTTP server started on port "):
            return server, int(line.split()[-1])
    raise RuntimeError("the server did not start")


def browser(home):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--no-first-run", "--disable-background-networking", "--disable-component-update",
                     "--disable-sync", "--user-data-dir=" + os.path.join(home, "chromium")]:
        options.add_argument(argument)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def json_answer(driver):
    """The JSON shown by the answer page, or None while the form page is still there."""
    if not driver.current_url.endswith("/api/upload"):
        return None
    try:
        return json.loads(driver.find_element(By.TAG_NAME, "body").text)
    except (ValueError, NoSuchElementException):
        return None


def wait_for_solution(port):
    deadline = time.time() + 120
    while time.time() < deadline:
        with urllib.request.urlopen(f"http://127.0.0.1:{port}/api/status") as answer:
            state = json.load(answer)
        if state["status"] in ("done", "failed"):
            return state
        time.sleep(0.5)
    raise RuntimeError("no solution in time")


def main():
    program, sample = sys.argv[1], os.path.abspath(sys.argv[2])
    with tempfile.TemporaryDirectory() as home:
        server, port = start_server(program, home)
        driver = browser(home)
        try:
            driver.get(f"http://127.0.0.1:{port}/")
            driver.find_element(By.NAME, "image").send_keys(sample)
            driver.find_element(By.CSS_SELECTOR, "input[type=submit]").click()
            # The click only starts the submission: wait for the answer page.
            answer = WebDriverWait(driver, 30).until(json_answer)
            assert answer == {"status": "success"}, answer
            state = wait_for_solution(port)
            assert state["status"] == "done", state
            calibration = state["calibration"]
            assert abs(calibration["ra"] - 83.8) < 0.05 and abs(calibration["dec"] + 5.4) < 0.05, calibration
            print("form upload solved:", calibration)
        finally:
            driver.quit()
            server.terminate()
            server.wait(10)
    return 0


if __name__ == "__main__":
    sys.exit(main())
