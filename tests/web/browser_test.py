#!/usr/bin/python3
"""The service's pages in Debian's chromium, headless, driven by selenium,
against `siderama --headless` on loopback with the real tools:

  open    a generated field uploaded through /upload (its file name carries
          markup) turns to success on its job page by itself; the pictures
          and sky maps load, the calibration shown matches the truth, the
          name shows as text, a result file downloads, the queue lists it.
  keys    with API keys: the pages ask for a key, a wrong key is refused, a
          member solves an image through the page, another member's job page
          and files are refused, the operator sees them.

    browser_test.py SIDERAMA SKYFIELD open|keys
"""

import json
import os
import re
import subprocess
import sys
import tempfile
import threading
import time

import requests
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

TYCHO2 = "/usr/share/astrometry/index-tycho2-{:02d}.littleendian.fits"
FIELD = {"ra": 150.0, "dec": 30.0, "width": 800, "height": 600, "scale": 30, "rotation": 25}
NAME = "m<script>document.title='owned'</script>.jpg".replace("/", "_")


class Server:
    def __init__(self, program, home):
        self.program, self.home = program, home
        self.environment = dict(os.environ, HOME=home, XDG_DATA_HOME=os.path.join(home, "data"),
                                XDG_CONFIG_HOME=os.path.join(home, "config"), TMPDIR=home)
        self.environment.pop("SIDERAMA_TOOLS_DIR", None)
        self.process = subprocess.Popen([program, "--headless", "--port", "0"], env=self.environment,
                                        stdout=subprocess.PIPE, text=True)
        for line in self.process.stdout:
            if line.startswith("HTTP server started on port "):
                self.base = f"http://127.0.0.1:{int(line.split()[-1])}"
                threading.Thread(target=self.process.stdout.read, daemon=True).start()
                return
        raise RuntimeError("the server did not start")

    def command(self, *words):
        return subprocess.run([self.program, *words], env=self.environment, check=True, capture_output=True,
                              text=True).stdout

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=30)


def browser(downloads):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 f"--user-data-dir={tempfile.mkdtemp(dir=downloads)}"):
        options.add_argument(flag)
    options.add_experimental_option("prefs", {"download.default_directory": downloads,
                                              "download.prompt_for_download": False})
    return webdriver.Chrome(service=Service(executable_path="/usr/bin/chromedriver"),
                            options=options)


def wait(driver, condition, seconds=120):
    return WebDriverWait(driver, seconds, poll_frequency=0.3).until(lambda _: condition())


def loaded(driver, element_id):
    return driver.execute_script(
        "const i = document.getElementById(arguments[0]); return i.complete && i.naturalWidth;", element_id)


def upload(driver, base, image):
    driver.get(f"{base}/upload")
    driver.find_element(By.ID, "files").send_keys(image)
    driver.find_element(By.TAG_NAME, "summary").click()
    for name, value in (("scale_lower", "20"), ("scale_upper", "40")):
        driver.find_element(By.NAME, name).send_keys(value)
    driver.find_element(By.CSS_SELECTOR, "select[name=scale_units] option[value=arcsecperpix]").click()
    driver.find_element(By.ID, "send").click()
    wait(driver, lambda: re.search(r"/jobs/\d+$", driver.current_url))
    return int(driver.current_url.rsplit("/", 1)[1])


def check_open(server, driver, image, downloads):
    job = upload(driver, server.base, image)
    wait(driver, lambda: driver.find_element(By.ID, "status").text in ("success", "failure"))
    assert driver.find_element(By.ID, "status").text == "success", driver.find_element(By.ID, "log").text
    for picture in ("annotated", "zoom0", "zoom1", "zoom2", "zoom3"):
        wait(driver, lambda: loaded(driver, picture) > 0, 60)
    centre = driver.find_element(By.CSS_SELECTOR, "#calibration tr:first-child td:last-child").text
    ra, dec = (float(value) for value in re.findall(r"-?[\d.]+", centre))
    print(f"job {job}: centre shown {centre}; quality {driver.find_element(By.ID, 'quality').text!r}", flush=True)
    assert abs(ra - FIELD["ra"]) < 0.02 and abs(dec - FIELD["dec"]) < 0.02, centre
    matched = driver.find_element(By.CSS_SELECTOR, "#quality tr:first-child td:last-child").text
    assert int(matched) >= 8, matched
    assert driver.find_element(By.ID, "file").text == os.path.basename(image)
    assert driver.title != "owned" and not driver.find_elements(By.CSS_SELECTOR, "#file *")
    driver.find_element(By.LINK_TEXT, "WCS header (wcs.fits)").click()
    fetched = os.path.join(downloads, "wcs.fits")
    wait(driver, lambda: os.path.exists(fetched) and open(fetched, "rb").read(9) == b"SIMPLE  =", 30)
    driver.get(f"{server.base}/queue")
    wait(driver, lambda: os.path.basename(image) in driver.find_element(By.ID, "jobs").text, 30)
    assert driver.title != "owned"


class FromAddress(requests.adapters.HTTPAdapter):
    """Connections from another loopback address: another machine, as the server sees it."""

    def init_poolmanager(self, *args, **kwargs):
        super().init_poolmanager(*args, source_address=("127.0.0.2", 0), **kwargs)


def api_job(base, key, image):
    client = requests.Session()
    client.mount("http://", FromAddress())
    session = client.post(f"{base}/api/login", data={"request-json": json.dumps({"apikey": key})},
                          timeout=30).json()["session"]
    with open(image, "rb") as file:
        answer = client.post(f"{base}/api/upload", files={"file": file},
                             data={"request-json": json.dumps({"session": session})}, timeout=60).json()
    for _ in range(600):
        jobs = client.get(f"{base}/api/submissions/{answer['subid']}", timeout=30).json()["jobs"]
        if jobs and jobs[0]:
            return jobs[0]
        time.sleep(0.2)
    raise AssertionError("no job")


def log_in(driver, base, key):
    driver.delete_all_cookies()
    driver.get(f"{base}/upload")
    assert "/login" in driver.current_url, driver.current_url
    driver.find_element(By.NAME, "apikey").send_keys(key + "\n")


def check_keys(server, driver, image, _):
    keys = {name: server.command("--add-key", name).splitlines()[-1] for name in ("boss", "ann", "bob")}
    assert server.command("--list-keys").split() == ["boss", "operator", "ann", "member", "bob", "member"]
    assert requests.post(f"{server.base}/api/login", data={"request-json": json.dumps({"apikey": "wrong"})},
                         timeout=30).json() == {"status": "error", "errormessage": "bad apikey"}
    bobs = api_job(server.base, keys["bob"], image)
    log_in(driver, server.base, "wrong")
    wait(driver, lambda: "refused=1" in driver.current_url, 30)
    assert driver.find_element(By.CLASS_NAME, "problem").is_displayed()
    log_in(driver, server.base, keys["ann"])
    wait(driver, lambda: driver.current_url.endswith("/upload"), 30)
    upload(driver, server.base, image)
    wait(driver, lambda: driver.find_element(By.ID, "status").text == "success", 120)
    driver.get(f"{server.base}/jobs/{bobs}")
    assert "another member" in driver.find_element(By.TAG_NAME, "main").text
    for route in (f"/red_green_image_display/{bobs}", f"/api/jobs/{bobs}/info", f"/wcs_file/{bobs}"):
        refused = driver.execute_script("return fetch(arguments[0]).then(r => r.status)", route)
        assert refused == 403, (route, refused)
    log_in(driver, server.base, keys["boss"])
    wait(driver, lambda: driver.current_url.endswith("/upload"), 30)
    driver.get(f"{server.base}/jobs/{bobs}")
    wait(driver, lambda: driver.find_element(By.ID, "status").text == "success", 120)


def main(program, skyfield, case):
    with tempfile.TemporaryDirectory() as home:
        folder = os.path.join(home, "data", "Siderama")
        os.makedirs(folder)
        for n in range(10, 20):
            os.symlink(TYCHO2.format(n), os.path.join(folder, f"index-41{n}.fits"))
        image = os.path.join(home, NAME)
        subprocess.run([skyfield, "--out", image, "--format", "jpg"] +
                       [f"--{key}={value}" for key, value in FIELD.items()], check=True, stdout=subprocess.DEVNULL)
        downloads = os.path.join(home, "downloads")
        os.makedirs(downloads)
        server = Server(program, home)
        try:
            driver = browser(downloads)
            try:
                (check_open if case == "open" else check_keys)(server, driver, image, downloads)
            finally:
                driver.quit()
        finally:
            server.stop()
    print(f"{case}: passed")


if __name__ == "__main__":
    main(*sys.argv[1:4])
