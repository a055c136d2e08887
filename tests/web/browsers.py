"""The three browser engines desktop browsers are built on, behind one small
seam, for the page's tests and its benchmark: Chromium and WebKit through
Selenium and their WebDriver servers, Firefox ESR over WebDriver BiDi through
puppeteer-core (firefox_driver.js). Each opens a page, runs a script in it
(awaiting a promise it returns), chooses files for an input, presses Tab and,
where it can, lists the requests the page made.
"""
import json
import shutil
import subprocess
import tempfile
from pathlib import Path

from selenium import webdriver
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

ENGINES = ("chromium", "firefox", "webkit")
WEBKIT_BROWSER = next(iter(sorted(map(str, Path("/usr/lib/x86_64-linux-gnu").glob(
    "webkit2gtk-4.*/MiniBrowser")))), None)


def missing(engine, node_modules):
    """What the engine needs and this machine lacks, or None."""
    need = {"chromium": Path("/usr/bin/chromedriver"),
            "firefox": Path(node_modules) / "puppeteer-core",
            "webkit": Path("/usr/bin/WebKitWebDriver")}[engine]
    return None if need.exists() else need


def launch(engine, node_modules):
    return Puppeteer(node_modules) if engine == "firefox" else Selenium(engine)


class Selenium:
    """Chromium or WebKit through their WebDriver servers."""

    def __init__(self, engine):
        self.engine = engine
        self.profile = tempfile.mkdtemp(prefix="web-profile-")
        if engine == "chromium":
            from selenium.webdriver.chrome.service import Service
            options = webdriver.ChromeOptions()
            options.binary_location = "/usr/bin/chromium"
            for a in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                      "--no-first-run", "--disable-background-networking",
                      "--disable-component-update", "--disable-sync",
                      "--user-data-dir=" + self.profile, "--window-size=1280,1600"):
                options.add_argument(a)
            options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
            self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"),
                                           options=options)
        else:
            options = webdriver.WebKitGTKOptions()
            options.binary_location = WEBKIT_BROWSER
            options.add_argument("--automation")
            self.driver = webdriver.WebKitGTK(executable_path="/usr/bin/WebKitWebDriver",
                                              options=options)
            self.driver.set_window_size(1280, 1600)

    def open(self, url):
        self.driver.get(url)

    def js(self, body, *args):
        return self.driver.execute_script(body, *args)

    def choose(self, id, paths):
        self.driver.find_element(By.ID, id).send_keys("\n".join(map(str, paths)))

    def tab(self):
        ActionChains(self.driver).send_keys(Keys.TAB).perform()

    def requests(self):
        """The URLs the page asked for since the last call; None where the
        driver cannot see them."""
        if self.engine != "chromium":
            return None
        urls = []
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] == "Network.requestWillBeSent":
                urls.append(message["params"]["request"]["url"])
        return urls

    def close(self):
        self.driver.quit()
        shutil.rmtree(self.profile, ignore_errors=True)


class Puppeteer:
    """Firefox through firefox_driver.js."""

    def __init__(self, node_modules):
        self.profile = None
        self.process = subprocess.Popen(
            ["node", str(Path(__file__).with_name("firefox_driver.js")), str(node_modules)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.seen = 0
        self.call("start")

    def call(self, op, **arguments):
        self.process.stdin.write(json.dumps(dict(arguments, op=op)) + "\n")
        self.process.stdin.flush()
        answer = json.loads(self.process.stdout.readline() or '{"error": "the driver stopped"}')
        if "error" in answer:
            raise RuntimeError(f"firefox {op}: {answer['error']}")
        return answer["ok"]

    def open(self, url):
        self.call("open", url=url)

    def js(self, body, *args):
        return self.call("js", body=body, args=list(args))

    def choose(self, id, paths):
        self.call("choose", id=id, paths=[str(p) for p in paths])

    def tab(self):
        self.call("tab")

    def requests(self):
        urls = self.call("requests")
        new, self.seen = urls[self.seen:], len(urls)
        return new

    def close(self):
        try:
            self.call("close")
        finally:
            self.process.wait(timeout=30)
