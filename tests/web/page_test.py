#!/usr/bin/env python3
"""The page in a real headless Chromium, as an author uses it: it makes the
installers saverpack create makes, byte for byte; it shows what list --json
and verify say and extracts what extract writes; it refuses bad input in the
command line's words; and nothing it does sends a request anywhere.

    page_test.py PAGE.html SAVERPACK AQUARIUM_DIR [TestCase.test_name ...]

Exits 77 (skipped) when the page, Selenium or the browser is missing.
"""
import json
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("page_test: skipped: python3-selenium is not installed")
    sys.exit(77)

PAGE, SAVERPACK, AQUARIUM = (Path(a).resolve() for a in sys.argv[1:4])


class Session:
    """One browser with the page open from file://, downloads kept in a
    folder of their own, the network log on."""

    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="web-profile-")
        self.downloads = Path(tempfile.mkdtemp(prefix="web-downloads-"))
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for a in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync",
                  "--user-data-dir=" + self.profile, "--window-size=1280,1600"):
            options.add_argument(a)
        options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
        self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        self.driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                                    {"behavior": "allow", "downloadPath": str(self.downloads)})
        self.driver.get(PAGE.as_uri())

    def close(self):
        self.driver.quit()
        shutil.rmtree(self.profile, ignore_errors=True)
        shutil.rmtree(self.downloads, ignore_errors=True)

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def wait(self, condition, timeout=60):
        return WebDriverWait(self.driver, timeout, poll_frequency=0.05).until(lambda d: condition())

    def element(self, id):
        return self.driver.find_element(By.ID, id)

    def fill(self, fields):
        """Sets the form: files by path (a list for More files), texts, the
        compression; then waits for the preview to settle."""
        for id, value in fields.items():
            if id == "level":
                self.js("arguments[0].value = arguments[1];"
                        "arguments[0].dispatchEvent(new Event('input'))", self.element(id), value)
            elif id in ("saver", "data", "icon", "files", "installer"):
                for path in value if isinstance(value, list) else [value]:
                    self.element(id).send_keys(str(path))
            else:
                self.js("arguments[0].value = arguments[1];"
                        "arguments[0].dispatchEvent(new Event('input'))", self.element(id), value)
        time.sleep(0.3)

    def make(self):
        self.element("make-button").click()
        self.wait(lambda: self.element("progress").get_attribute("hidden") is not None)

    def download(self, link):
        name = link.get_attribute("download")
        target = self.downloads / name
        target.unlink(missing_ok=True)
        link.click()
        self.wait(lambda: target.exists() and not (self.downloads / (name + ".crdownload")).exists())
        return target.read_bytes()

    def requests(self):
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] == "Network.requestWillBeSent":
                yield message["params"]["request"]["url"]


def saverpack(cwd, *arguments):
    return subprocess.run([str(SAVERPACK), *arguments], cwd=cwd, capture_output=True, text=True)


class PageTest(unittest.TestCase):
    def setUp(self):
        self.session = Session()
        self.dir = Path(tempfile.mkdtemp(prefix="web-files-"))
        for name in ("aquarium.scr", "sprites.bmp", "background.bmp", "aquarium.ico"):
            shutil.copy(AQUARIUM / name, self.dir / name)

    def tearDown(self):
        self.session.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_makes_what_create_makes(self):
        s, d = self.session, self.dir
        cases = [
            ({"level": "best"}, []),
            ({"level": "fast", "icon": d / "aquarium.ico", "version": "1.2.3",
              "company": "Fish & Co"},
             ["--level", "fast", "--icon", "aquarium.ico", "--product-version", "1.2.3",
              "--company", "Fish & Co"]),
            ({"level": "store", "description": "Fish, swimming", "copyright": "\u00a9 2026"},
             ["--store", "--description", "Fish, swimming", "--copyright", "\u00a9 2026"]),
        ]
        s.fill({"saver": d / "aquarium.scr", "data": d / "sprites.bmp",
                "files": [d / "background.bmp"], "title": "Aquarium"})
        for fields, options in cases:
            with self.subTest(options=options):
                s.fill(fields)
                s.make()
                made = s.download(s.element("download"))
                cli = saverpack(d, "create", "-o", "Aquarium.exe", "--title", "Aquarium",
                                "--saver", "aquarium.scr", "--data", "sprites.bmp",
                                "background.bmp", *options)
                self.assertEqual(cli.returncode, 0, cli.stderr)
                self.assertEqual(made, (d / "Aquarium.exe").read_bytes())
                # The summary as create prints it, but for the time taken.
                untimed = lambda text: [l.rsplit(",", 1)[0] for l in text.strip().splitlines()]
                self.assertEqual(untimed(s.element("summary").text), untimed(cli.stdout))
                for id in ("icon", "version", "company", "description", "copyright"):
                    if id in fields:
                        s.js("arguments[0].value = ''; arguments[0].dispatchEvent(new Event('input'))",
                             s.element(id))
                s.js("form.icon = null")

    def test_opens_what_list_shows_and_extracts_what_extract_writes(self):
        s, d = self.session, self.dir
        made = saverpack(d, "create", "-o", "Aquarium.exe", "--title", "Aquarium",
                         "--saver", "aquarium.scr", "--data", "sprites.bmp", "background.bmp",
                         "--icon", "aquarium.ico", "--product-version", "1.0")
        self.assertEqual(made.returncode, 0, made.stderr)
        s.fill({"installer": d / "Aquarium.exe"})
        s.wait(lambda: s.element("opened").get_attribute("hidden") is None)
        listed = json.loads(saverpack(d, "list", "--json", "Aquarium.exe").stdout)
        shown = json.loads(s.js("return document.getElementById('opened-json').textContent"))
        self.assertEqual(shown, listed)
        self.assertEqual(s.element("opened-verdict").text + "\n",
                         saverpack(d, "verify", "Aquarium.exe").stdout)
        drawn = s.js("return [...document.querySelectorAll('#opened-icons img')]"
                     ".map(i => i.complete && i.naturalWidth)")
        self.assertEqual(drawn, [i["width"] for i in listed["icon"]])

        self.assertEqual(saverpack(d, "extract", "Aquarium.exe", "-C", "out").returncode, 0)
        for entry in listed["entries"]:
            with self.subTest(entry=entry["path"]):
                name = entry["path"].split("\\")[-1]
                s.driver.find_element(By.XPATH, f"//button[text()='Extract {name}']").click()
                link = s.wait(lambda: s.driver.find_elements(By.LINK_TEXT, "Download " + name))[0]
                self.assertEqual(s.download(link),
                                 (d / "out" / entry["path"].replace("\\", "/")).read_bytes())

    def test_refuses_bad_input_beside_its_control_in_the_command_lines_words(self):
        s, d = self.session, self.dir
        (d / "bad.ico").write_text("not an icon\n")
        self.assertEqual(saverpack(d, "create", "-o", "Whole.exe", "--title", "Fish", "--saver",
                                   "aquarium.scr", "--data", "sprites.bmp").returncode, 0)
        (d / "cut.exe").write_bytes((d / "Whole.exe").read_bytes()[:30000])
        good = {"saver": d / "aquarium.scr", "title": "Fish", "name": "Fish.exe"}
        # (what the form gets, the control, the same for the command line)
        cases = [
            ({"title": "x" * 33}, "title", ["--title", "x" * 33]),
            ({"title": "\u03a9mega"}, "title", ["--title", "\u03a9mega"]),
            ({"name": "CON.exe"}, "name", ["-o", "CON.exe"]),
            ({"name": ".exe"}, "name", ["-o", ".exe"]),
            ({"icon": d / "bad.ico"}, "icon", ["--icon", "bad.ico"]),
            ({"icon": d / "sprites.bmp"}, "icon", ["--icon", "sprites.bmp"]),
            ({"version": "1.x"}, "version", ["--product-version", "1.x"]),
            ({"company": "a\tb"}, "company", ["--company", "a\tb"]),
        ]
        for fields, control, options in cases:
            with self.subTest(control=control, options=options):
                s.driver.get(PAGE.as_uri())
                s.fill(dict(good, **fields))
                s.make()
                arguments = {"-o": "Fish.exe", "--title": "Fish", "--saver": "aquarium.scr"}
                arguments.update(zip(options[::2], options[1::2]))
                cli = saverpack(d, "create", *[x for kv in arguments.items() for x in kv])
                self.assertNotEqual(cli.returncode, 0)
                # The command line may name the option and point to its help.
                shown = s.element(control + "-error").text
                self.assertTrue(shown)
                self.assertIn(shown, cli.stderr)
                self.assertTrue(s.element("result").get_attribute("hidden"))
        # No installer: refused as list refuses it. Cut short: shown with
        # verify's problems, and nothing to extract, as extract says.
        for name, says in (("sprites.bmp", ["list", "sprites.bmp"]),
                           ("cut.exe", ["extract", "cut.exe", "-C", "out"])):
            with self.subTest(installer=name):
                s.driver.get(PAGE.as_uri())
                s.fill({"installer": d / name})
                s.wait(lambda: s.element("installer-error").text)
                cli = saverpack(d, *says)
                place = "installer" if name == "sprites.bmp" else "opened-extract"
                self.assertEqual("saverpack: " + s.element(place + "-error").text,
                                 cli.stderr.strip())
                self.assertEqual(s.driver.find_elements(By.CSS_SELECTOR, "#opened button"), [])
                if name == "cut.exe":
                    self.assertEqual(s.element("opened-verdict").text + "\n",
                                     saverpack(d, "verify", name).stdout)

    def test_more_files_keep_their_order_and_the_name_follows_the_title(self):
        s, d = self.session, self.dir
        (d / "notes.txt").write_text("notes\n" * 100)
        s.fill({"saver": d / "aquarium.scr", "data": d / "sprites.bmp", "title": "My Aquarium",
                "files": [d / "background.bmp", d / "aquarium.ico", d / "notes.txt"]})
        places = lambda: s.js("return [...document.querySelectorAll('#preview-names tbody tr')]"
                              ".map(r => r.cells[0].textContent)")
        self.assertEqual(s.element("name").get_attribute("value"), "MyAquarium.exe")
        self.assertEqual(places()[0], "MYAQUARIUM.SCR in the Windows directory")
        s.driver.find_element(By.CSS_SELECTOR, "button[aria-label='Remove aquarium.ico']").click()
        s.fill({"name": "Tank.exe"})
        s.fill({"title": "Fish Tank"})  # the name typed stays
        self.assertEqual(s.element("name").get_attribute("value"), "Tank.exe")
        self.assertEqual(places(), ["TANK.SCR in the Windows directory",
                                    "...\\TORVANIX\\MOREVANE\\Tank\\Tank.DAT",
                                    "...\\TORVANIX\\MOREVANE\\Tank\\FILE0001.BMP",
                                    "...\\TORVANIX\\MOREVANE\\Tank\\FILE0002.TXT"])
        s.make()
        cli = saverpack(d, "create", "-o", "Tank.exe", "--title", "Fish Tank", "--saver",
                        "aquarium.scr", "--data", "sprites.bmp", "background.bmp", "notes.txt")
        self.assertEqual(cli.returncode, 0, cli.stderr)
        self.assertEqual(s.download(s.element("download")), (d / "Tank.exe").read_bytes())

    def test_a_file_dropped_on_a_field_is_taken_there(self):
        s, d = self.session, self.dir
        made = saverpack(d, "create", "-o", "Drop.exe", "--title", "Dropped", "--saver",
                         "aquarium.scr")
        self.assertEqual(made.returncode, 0, made.stderr)
        # Files the browser has read from disk, dropped as a user drops them.
        s.fill({"files": [d / "Drop.exe", d / "aquarium.scr"]})
        drop = """const [file, field] = [form.files.shift(), arguments[0]];
            const carried = new DataTransfer(); carried.items.add(file);
            field.closest('.drop').dispatchEvent(
                new DragEvent('drop', {dataTransfer: carried, bubbles: true}));
            showFiles();"""
        s.js(drop, s.element("installer"))
        s.wait(lambda: s.element("opened-title").text == "Dropped")
        s.js(drop, s.element("saver"))
        s.fill({"title": "Fish"})
        self.assertEqual(s.js("return document.getElementById('saver').files[0].name"),
                         "aquarium.scr")
        self.assertEqual(s.element("preview-names").find_element(By.CSS_SELECTOR, "td").text,
                         "FISH.SCR in the Windows directory")

    def test_every_control_has_its_label_and_the_keyboard_reaches_it(self):
        s = self.session
        labels = ["Saver", "Data file", "More files", "Title", "Installer file name", "Icon",
                  "Product version", "Company", "Description", "Copyright", "Compression",
                  "Open an installer"]
        controls = s.js("""return [...document.querySelectorAll('label')]
            .map(l => [l.textContent, l.control ? l.control.id : null])""")
        self.assertEqual(sorted(text for text, id in controls if id), sorted(labels))
        # Tab from the top reaches each of them, and the focused one is outlined.
        s.js("document.activeElement.blur(); window.focus()")
        reached, outlined = set(), set()
        body = s.driver.find_element(By.TAG_NAME, "body")
        for _ in range(40):
            body.send_keys("\ue004")  # Tab
            id, outline = s.js("const e = document.activeElement;"
                               "return [e.id, getComputedStyle(e).outlineStyle]")
            reached.add(id)
            if outline != "none":
                outlined.add(id)
        wanted = {id for _, id in controls if id} | {"make-button"}
        self.assertEqual(wanted - reached, set())
        self.assertEqual(wanted - outlined, set())

    def test_cancel_and_a_module_failure_leave_the_page_usable(self):
        s, d = self.session, self.dir
        big = d / "big.bin"
        with open(big, "wb") as f:
            for i in range(24):
                f.write((AQUARIUM / "background.bmp").read_bytes())
        s.fill({"saver": d / "aquarium.scr", "data": big, "title": "Fish"})
        s.element("make-button").click()
        s.wait(lambda: s.js("return document.getElementById('bar').value") > 0)
        s.element("cancel").click()
        s.wait(lambda: s.element("progress").get_attribute("hidden") is not None)
        self.assertIn("Cancelled", s.element("make-error").text)
        self.assertTrue(s.element("result").get_attribute("hidden"))
        # A request the module cannot take fails inside it; the page says so
        # and starts a new one.
        failed = s.driver.execute_async_script(
            "const done = arguments[0];"
            "ask({kind: 'make', form: {files: []}}).then(() => done('taken'), e => done(e.message))")
        self.assertNotEqual(failed, "taken")
        s.fill({"level": "store"})
        s.make()
        self.assertEqual(s.element("make-error").text, "")
        self.assertFalse(s.element("result").get_attribute("hidden"))

    def test_no_request_leaves_the_page(self):
        s, d = self.session, self.dir
        list(s.requests())  # what the browser did before the page was opened
        s.driver.get(PAGE.as_uri())
        s.fill({"saver": d / "aquarium.scr", "data": d / "sprites.bmp", "title": "Fish",
                "icon": d / "aquarium.ico"})
        s.make()
        (d / "Fish.exe").write_bytes(s.download(s.element("download")))
        s.fill({"installer": d / "Fish.exe"})
        s.wait(lambda: s.element("opened").get_attribute("hidden") is None)
        s.driver.find_element(By.XPATH, "//button[text()='Extract Fish.DAT']").click()
        s.download(s.wait(lambda: s.driver.find_elements(By.LINK_TEXT, "Download Fish.DAT"))[0])
        urls = list(s.requests())
        self.assertIn(PAGE.as_uri(), urls)
        self.assertEqual([u for u in urls if not u.startswith(("file:", "blob:"))], [])


if __name__ == "__main__":
    if not PAGE.exists() or not Path("/usr/bin/chromedriver").exists():
        print(f"page_test: skipped: no {PAGE} (make web) or no chromedriver")
        sys.exit(77)
    unittest.main(argv=[sys.argv[0], "-v", *sys.argv[4:]])
