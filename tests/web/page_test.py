#!/usr/bin/env python3
"""The page in each browser engine desktop browsers are built on, opened from
file:// as an author opens it: it makes the installers saverpack create
makes, byte for byte; it shows what list --json and verify say and extracts
what extract writes; it refuses bad input beside its control in its own
words; its module survives Cancel and failures; and, where the engine's
driver can see requests, nothing it does sends one anywhere.

    page_test.py ENGINE PAGE.html SAVERPACK AQUARIUM_DIR NODE_MODULES [TestCase.test_name ...]

ENGINE is chromium (Selenium and chromedriver), firefox (firefox-esr over
WebDriver BiDi, by puppeteer-core through firefox_driver.js) or webkit
(Selenium and WebKitWebDriver; run it under xvfb-run). Every case is
written once and runs in each. Exits 77 (skipped) when the page or the
engine's driver is missing.
"""
import base64
import json
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

ENGINE = sys.argv[1]
PAGE, SAVERPACK, AQUARIUM, NODE_MODULES = (Path(a).resolve() for a in sys.argv[2:6])

sys.path.insert(0, str(Path(__file__).parent))
try:
    import browsers
except ImportError:
    print("page_test: skipped: python3-selenium is not installed")
    sys.exit(77)

# Made blobs are kept as the page makes them, so that a download can be
# read back: the page's policy rightly forbids fetch() of anything.
KEEP_BLOBS = """if (!window.madeBlobs) {
    window.madeBlobs = new Map();
    const made = URL.createObjectURL;
    URL.createObjectURL = (blob) => { const url = made.call(URL, blob); madeBlobs.set(url, blob); return url; };
}"""


class Session:
    """One browser with the page open from file://."""

    def __init__(self):
        self.browser = browsers.launch(ENGINE, NODE_MODULES)
        self.open(PAGE)

    def open(self, page):
        self.browser.open(page.as_uri())
        self.js(KEEP_BLOBS)

    def close(self):
        self.browser.close()

    def js(self, body, *args):
        return self.browser.js(body, *args)

    def wait(self, condition, timeout=60):
        end = time.monotonic() + timeout
        while True:
            value = condition()
            if value:
                return value
            if time.monotonic() > end:
                raise AssertionError(f"waited {timeout} s in {ENGINE}")
            time.sleep(0.05)

    def text(self, id):
        return self.js("return document.getElementById(arguments[0]).textContent", id).rstrip("\n")

    def hidden(self, id):
        return self.js("return document.getElementById(arguments[0]).hidden", id)

    def value(self, id):
        return self.js("return document.getElementById(arguments[0]).value", id)

    def click(self, selector):
        self.js("document.querySelector(arguments[0]).click()", selector)

    def fill(self, fields):
        """Sets the form: files by path (a list for More files), texts, the
        compression; then waits for the preview to settle."""
        for id, value in fields.items():
            if id in ("saver", "data", "icon", "files", "installer"):
                if value != []:
                    self.browser.choose(id, value if isinstance(value, list) else [value])
            else:
                if id == "level":  # offered once the module runs
                    self.wait(lambda: self.js("return [...document.getElementById('level').options]"
                                              ".some((o) => o.value === arguments[0])", value))
                self.js("const e = document.getElementById(arguments[0]); e.value = arguments[1];"
                        "e.dispatchEvent(new Event('input'))", id, value)
        time.sleep(0.3)

    def make(self):
        self.click("#make-button")
        self.wait(lambda: self.hidden("progress") and not self.value_disabled())

    def value_disabled(self):
        return self.js("return document.getElementById('make-button').disabled")

    def download(self, selector):
        """The bytes behind a download link, and the name it offers."""
        encoded = self.js("""const link = document.querySelector(arguments[0]);
            return madeBlobs.get(link.href).arrayBuffer().then((buffer) => {
                const bytes = new Uint8Array(buffer);
                let text = "";
                for (let i = 0; i < bytes.length; i += 0x8000)
                    text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
                return [link.download, btoa(text)];
            })""", selector)
        return encoded[0], base64.b64decode(encoded[1])

    def requests(self):
        return self.browser.requests()


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
                name, made = s.download("#download")
                cli = saverpack(d, "create", "-o", "Aquarium.exe", "--title", "Aquarium",
                                "--saver", "aquarium.scr", "--data", "sprites.bmp",
                                "background.bmp", *options)
                self.assertEqual(cli.returncode, 0, cli.stderr)
                self.assertEqual(name, "Aquarium.exe")
                self.assertEqual(made, (d / "Aquarium.exe").read_bytes())
                # The summary as create prints it, but for the time taken.
                untimed = lambda text: [l.rsplit(",", 1)[0] for l in text.strip().splitlines()]
                self.assertEqual(untimed(s.text("summary")), untimed(cli.stdout))
                for id in ("icon", "version", "company", "description", "copyright"):
                    if id in fields:
                        s.fill({id: ""} if id != "icon" else {})
                s.js("form.icon = null")
        # A file larger than the page hands over at once goes in slices.
        big = d / "big.bin"
        big.write_bytes((d / "background.bmp").read_bytes() * 19 + b"!")
        s.fill({"data": big, "level": "store"})
        s.make()
        cli = saverpack(d, "create", "-o", "Aquarium.exe", "--title", "Aquarium", "--saver",
                        "aquarium.scr", "--data", "big.bin", "background.bmp", "--store")
        self.assertEqual(cli.returncode, 0, cli.stderr)
        self.assertEqual(s.download("#download")[1], (d / "Aquarium.exe").read_bytes())

    def test_opens_what_list_shows_and_extracts_what_extract_writes(self):
        s, d = self.session, self.dir
        made = saverpack(d, "create", "-o", "Aquarium.exe", "--title", "Aquarium",
                         "--saver", "aquarium.scr", "--data", "sprites.bmp", "background.bmp",
                         "--icon", "aquarium.ico", "--product-version", "1.0")
        self.assertEqual(made.returncode, 0, made.stderr)
        s.fill({"installer": d / "Aquarium.exe"})
        s.wait(lambda: not s.hidden("opened"))
        listed = json.loads(saverpack(d, "list", "--json", "Aquarium.exe").stdout)
        self.assertEqual(json.loads(s.text("opened-json")), listed)
        self.assertEqual(s.text("opened-verdict") + "\n", saverpack(d, "verify", "Aquarium.exe").stdout)
        drawn = lambda: s.js("return [...document.querySelectorAll('#opened-icons img')]"
                             ".map(i => i.complete && i.naturalWidth)")
        s.wait(lambda: all(drawn()))
        self.assertEqual(drawn(), [i["width"] for i in listed["icon"]])

        self.assertEqual(saverpack(d, "extract", "Aquarium.exe", "-C", "out").returncode, 0)
        for entry in listed["entries"]:
            with self.subTest(entry=entry["path"]):
                self.assertEqual(self.extracted(entry["path"].split("\\")[-1]),
                                 (d / "out" / entry["path"].replace("\\", "/")).read_bytes())

    EXTRACT = ("[...document.querySelectorAll('#opened button')]"
               ".find(b => b.textContent === 'Extract ' + arguments[0]).click()")

    def extracted(self, name, clicked=False):
        """Clicks Extract NAME, unless that was done, and reads what its
        download link offers."""
        s = self.session
        if not clicked:
            s.js(self.EXTRACT, name)
        link = f"#opened a[download='{name}']"
        s.wait(lambda: s.js("return !!document.querySelector(arguments[0])", link))
        return s.download(link)[1]

    def test_refuses_bad_input_beside_its_control_in_its_own_words(self):
        s, d = self.session, self.dir
        (d / "bad.ico").write_text("not an icon\n")
        self.assertEqual(saverpack(d, "create", "-o", "Whole.exe", "--title", "Fish", "--saver",
                                   "aquarium.scr", "--data", "sprites.bmp").returncode, 0)
        (d / "cut.exe").write_bytes((d / "Whole.exe").read_bytes()[:30000])
        good = {"saver": d / "aquarium.scr", "title": "Fish", "name": "Fish.exe"}
        # (what the form gets, the control, the same for the command line,
        # what the page says there, None where the command line says it too)
        cases = [
            ({"title": "x" * 33}, "title", ["--title", "x" * 33], None),
            ({"title": "\u03a9mega"}, "title", ["--title", "\u03a9mega"], None),
            ({"title": "   "}, "title", ["--title", "   "], None),
            ({"name": "CON.exe"}, "name", ["-o", "CON.exe"], None),
            ({"name": ".exe"}, "name", ["-o", ".exe"], None),
            ({"name": "n" * 300 + ".exe"}, "name", ["-o", "n" * 300 + ".exe"],
             "its name is too long: 300 characters before its extension, where the installer "
             "keeps at most 255"),
            ({"icon": d / "bad.ico"}, "icon", ["--icon", "bad.ico"], None),
            ({"icon": d / "sprites.bmp"}, "icon", ["--icon", "sprites.bmp"], None),
            ({"version": "1.x"}, "version", ["--product-version", "1.x"],
             "1.x: a version is A.B, A.B.C or A.B.C.D, each part a number from 0 to 65535"),
            ({"company": "a\tb"}, "company", ["--company", "a\tb"],
             "it holds a control character"),
            ({"files": [d / "background.bmp"]}, "data", ["background.bmp"],
             "the more files come after the data file, which is always entry 1: "
             "choose a data file as well"),
            ({"saver": []}, "saver", None, "choose the saver (the .scr file) first"),
        ]
        for fields, control, options, says in cases:
            with self.subTest(control=control, options=options):
                s.open(PAGE)
                s.fill(dict(good, **fields))
                s.make()
                shown = s.text(control + "-error")
                self.assertTrue(shown)
                self.assertNotIn("--", shown)
                self.assertTrue(s.hidden("result"))
                if says:
                    self.assertTrue(shown.endswith(says), shown)
                if options is None:
                    continue
                arguments = {"-o": "Fish.exe", "--title": "Fish", "--saver": "aquarium.scr"}
                arguments.update(zip(options[::2], options[1::2]))
                flat = [x for kv in arguments.items() for x in kv] + options[len(options) // 2 * 2:]
                cli = saverpack(d, "create", *flat)
                self.assertNotEqual(cli.returncode, 0)
                # The command line names its option; the page, beside the
                # control, says the rest as the command line does.
                if control != "data":
                    self.assertIn(shown, cli.stderr)
        # No installer: refused as list refuses it. Cut short: shown with
        # verify's problems, and nothing to extract, as extract says.
        for name, says in (("sprites.bmp", ["list", "sprites.bmp"]),
                           ("cut.exe", ["extract", "cut.exe", "-C", "out"])):
            with self.subTest(installer=name):
                s.open(PAGE)
                s.fill({"installer": d / name})
                s.wait(lambda: s.text("installer-error"))
                cli = saverpack(d, *says)
                place = "installer" if name == "sprites.bmp" else "opened-extract"
                self.assertEqual("saverpack: " + s.text(place + "-error"), cli.stderr.strip())
                self.assertEqual(s.js("return document.querySelectorAll('#opened button').length"), 0)
                if name == "cut.exe":
                    self.assertEqual(s.text("opened-verdict") + "\n",
                                     saverpack(d, "verify", name).stdout)
        # A file that grew on disk after it was chosen arrives longer than
        # its size: refused, not packed longer than its entry was planned.
        grew = s.js("""return ask({kind: 'receive', file: 0, size: 4, bytes: new ArrayBuffer(8)})
            .then((r) => r.error && r.error.message)""")
        self.assertEqual(grew, "a file grew while the page read it; choose it again")

    def test_more_files_keep_their_order_and_the_name_follows_the_title(self):
        s, d = self.session, self.dir
        (d / "notes.txt").write_text("notes\n" * 100)
        s.fill({"saver": d / "aquarium.scr", "data": d / "sprites.bmp", "title": "My Aquarium",
                "files": [d / "background.bmp", d / "aquarium.ico", d / "notes.txt"]})
        places = lambda: s.js("return [...document.querySelectorAll('#preview-names tbody tr')]"
                              ".map(r => r.cells[0].textContent)")
        self.assertEqual(s.value("name"), "MyAquarium.exe")
        s.wait(lambda: places() and places()[0] == "MYAQUARIUM.SCR in the Windows directory")
        s.click("button[aria-label='Remove aquarium.ico']")
        s.fill({"name": "Tank.exe"})
        s.fill({"title": "Fish Tank"})  # the name typed stays
        self.assertEqual(s.value("name"), "Tank.exe")
        s.wait(lambda: places() == ["TANK.SCR in the Windows directory",
                                    "...\\TORVANIX\\MOREVANE\\Tank\\Tank.DAT",
                                    "...\\TORVANIX\\MOREVANE\\Tank\\FILE0001.BMP",
                                    "...\\TORVANIX\\MOREVANE\\Tank\\FILE0002.TXT"])
        s.make()
        cli = saverpack(d, "create", "-o", "Tank.exe", "--title", "Fish Tank", "--saver",
                        "aquarium.scr", "--data", "sprites.bmp", "background.bmp", "notes.txt")
        self.assertEqual(cli.returncode, 0, cli.stderr)
        self.assertEqual(s.download("#download")[1], (d / "Tank.exe").read_bytes())

    def test_a_file_dropped_on_a_field_is_taken_there(self):
        s, d = self.session, self.dir
        made = saverpack(d, "create", "-o", "Drop.exe", "--title", "Dropped", "--saver",
                         "aquarium.scr")
        self.assertEqual(made.returncode, 0, made.stderr)
        # Files the browser has read from disk, dropped as a user drops them.
        s.fill({"files": [d / "Drop.exe", d / "aquarium.scr"]})
        drop = """const [file, field] = [form.files.shift(), document.getElementById(arguments[0])];
            const carried = new DataTransfer(); carried.items.add(file);
            field.closest('.drop').dispatchEvent(
                new DragEvent('drop', {dataTransfer: carried, bubbles: true}));
            showFiles();"""
        s.js(drop, "installer")
        s.wait(lambda: s.text("opened-title") == "Dropped")
        s.js(drop, "saver")
        s.fill({"title": "Fish"})
        self.assertEqual(s.js("return document.getElementById('saver').files[0].name"),
                         "aquarium.scr")
        s.wait(lambda: s.js("const c = document.querySelector('#preview-names td');"
                            "return c && c.textContent") == "FISH.SCR in the Windows directory")

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
        for _ in range(40):
            s.browser.tab()
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
        made = saverpack(d, "create", "-o", "Open.exe", "--title", "Opened", "--saver",
                         "aquarium.scr", "--data", "sprites.bmp")
        self.assertEqual(made.returncode, 0, made.stderr)
        s.fill({"installer": d / "Open.exe"})
        s.wait(lambda: s.text("opened-title") == "Opened")
        s.fill({"saver": d / "aquarium.scr", "data": big, "title": "Fish"})
        s.click("#make-button")
        s.wait(lambda: s.js("return document.getElementById('bar').value") > 0)
        s.click("#cancel")
        s.wait(lambda: s.hidden("progress"))
        self.assertIn("Cancelled", s.text("make-error"))
        self.assertTrue(s.hidden("result"))
        # A request the module cannot take fails inside it: the page says
        # so, answers the request waiting behind it, and starts a new one.
        # The installer still open extracts from the new module, even when
        # Extract is clicked before the page has read it again for it.
        failed = s.js("""const broken = ask({kind: 'make', form: {files: []}});
            const behind = ask({kind: 'preview', form: {files: []}});
            return Promise.allSettled([broken, behind]).then((r) => {
                %s;
                return r.map((o) => o.status);
            })""" % self.EXTRACT, "Open.DAT")
        self.assertEqual(failed, ["rejected", "rejected"])
        self.assertEqual(self.extracted("Open.DAT", clicked=True), (d / "sprites.bmp").read_bytes())
        s.fill({"level": "store"})
        s.make()
        self.assertEqual(s.text("make-error"), "")
        self.assertFalse(s.hidden("result"))

    def test_a_module_that_cannot_start_is_tried_once_more_then_named(self):
        s, d = self.session, self.dir
        # The same page, but its worker stops as it starts.
        html = PAGE.read_text()
        start = html.index('<script id="module-source" type="text/plain">') + 45
        broken = d / "broken.html"
        broken.write_text(html[:start] + 'throw new Error("no module here");' +
                          html[html.index("</script>", start):])
        s.open(broken)
        s.fill({"saver": d / "aquarium.scr", "title": "Fish"})
        s.wait(lambda: not s.hidden("page-error"))
        self.assertIn("cannot run in this browser", s.text("page-error"))
        self.assertTrue(s.js("return document.getElementById('make-button').disabled"))
        self.assertEqual(s.js("return failedStarts"), 2)

    def test_axe_finds_no_violation(self):
        s, d = self.session, self.dir
        if ENGINE != "chromium":
            self.skipTest("axe-core runs in Chromium")
        axe = (NODE_MODULES / "axe-core" / "axe.min.js").read_text()
        made = saverpack(d, "create", "-o", "Fish.exe", "--title", "Fish", "--saver",
                         "aquarium.scr", "--data", "sprites.bmp", "--icon", "aquarium.ico")
        self.assertEqual(made.returncode, 0, made.stderr)
        check = lambda: s.js(axe + "; return axe.run(document).then((r) => r.violations"
                             ".map((v) => v.id + ': ' + v.nodes.map((n) => n.target).join(' ')))")
        # (the page as it is then, what is done to get there)
        for state, fields in (("empty form", {}),
                              ("filled form and its preview",
                               {"saver": d / "aquarium.scr", "data": d / "sprites.bmp",
                                "title": "Fish", "icon": d / "aquarium.ico"}),
                              ("opened installer", {"installer": d / "Fish.exe"})):
            with self.subTest(state=state):
                s.fill(fields)
                if "installer" in fields:
                    s.wait(lambda: not s.hidden("opened"))
                self.assertEqual(check(), [])

    def test_no_request_leaves_the_page(self):
        s, d = self.session, self.dir
        if s.requests() is None:
            self.skipTest(f"{ENGINE}'s driver does not show requests")
        s.open(PAGE)
        s.fill({"saver": d / "aquarium.scr", "data": d / "sprites.bmp", "title": "Fish",
                "icon": d / "aquarium.ico"})
        s.make()
        (d / "Fish.exe").write_bytes(s.download("#download")[1])
        s.fill({"installer": d / "Fish.exe"})
        s.wait(lambda: not s.hidden("opened"))
        self.extracted("Fish.DAT")
        urls = s.requests()
        self.assertTrue(urls)  # the driver does see requests
        # data: and blob: never leave the machine, and file: is the page.
        self.assertEqual([u for u in urls if not u.startswith(("file:", "blob:", "data:"))], [])


if __name__ == "__main__":
    lacking = browsers.missing(ENGINE, NODE_MODULES)
    if not PAGE.exists() or lacking:
        print(f"page_test: skipped: no {PAGE} (make web) or no {lacking}")
        sys.exit(77)
    unittest.main(argv=[sys.argv[0], "-v", *sys.argv[6:]])
