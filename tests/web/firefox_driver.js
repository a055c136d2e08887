// Firefox for page_test.py: Debian's firefox-esr, driven over WebDriver BiDi
// by puppeteer-core (there is no geckodriver in Debian). One JSON command a
// line on stdin, one JSON answer a line on stdout: {ok: value} or {error}.
//
//     node firefox_driver.js NODE_MODULES_DIR
"use strict";

const path = require("path");
const readline = require("readline");
const puppeteer = require(path.join(process.argv[2], "puppeteer-core"));

let browser, page;
const requests = [];

const commands = {
  async start() {
    browser = await puppeteer.launch({
      browser: "firefox",
      executablePath: "/usr/bin/firefox-esr",
      headless: true,
      protocol: "webDriverBiDi",
      defaultViewport: { width: 1280, height: 1600 },
    });
    page = await browser.newPage();
    page.on("request", (r) => requests.push(r.url()));
  },
  async open({ url }) {
    await page.goto(url);
  },
  // The body of a function, with its arguments as `arguments`, as WebDriver
  // runs a script; evaluated as the page's own code would be, and awaited.
  async js({ body, args }) {
    const v = await page.evaluate(`(function () { ${body} }).apply(null, ${JSON.stringify(args)})`);
    return v === undefined ? null : v;
  },
  async choose({ id, paths }) {
    const input = await page.$("#" + id);
    await input.uploadFile(...paths);
  },
  async tab() {
    await page.keyboard.press("Tab");
  },
  async requests() {
    return requests;
  },
  async close() {
    await browser.close();
  },
};

const lines = readline.createInterface({ input: process.stdin });
lines.on("line", async (line) => {
  const command = JSON.parse(line);
  let answer;
  try {
    answer = { ok: (await commands[command.op](command)) ?? null };
  } catch (e) {
    answer = { error: String((e && e.message) || e) };
  }
  process.stdout.write(JSON.stringify(answer) + "\n");
  if (command.op === "close") process.exit(0);
});
