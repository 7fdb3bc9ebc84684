// The live preview used as a person uses it: the program serves a site, a real browser
// (Debian's chromium, headless) opens a page, and edits to the document, the style sheet
// and the template outside the input show in the open page without a touch.
//   node tests/browser/preview.mjs PROGRAM                    the test
//   node tests/browser/preview.mjs PROGRAM SRC REL.md EDITS   edit-to-reload times on SRC
import { spawn } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import puppeteer from "puppeteer-core";

const [program, benchSource, benchDocument, benchEdits] = process.argv.slice(2);
if (!program) {
  console.error("usage: preview.mjs PROGRAM [SRC REL.md EDITS]");
  process.exit(2);
}
// Chromium here has no network beyond loopback: its background connections are turned off.
const chromiumFlags = [
  "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
  "--disable-background-networking", "--disable-component-update", "--disable-sync",
];
// No wait in this test may last longer than this: a reload that never comes fails it.
const timeoutMs = 10000;

// Every preview started: a test that fails midway must not leave one running, which would
// keep this script (and the CI leg that runs it) waiting on its output for ever.
const started = [];

function fail(message) {
  throw new Error(message);
}

// Starts the preview and resolves with the process, its address and its output folder.
function startPreview(args, cwd) {
  return new Promise((resolve, reject) => {
    const child = spawn(program, args, { cwd, stdio: ["ignore", "pipe", "pipe"] });
    started.push(child);
    let out = "";
    let err = "";
    child.stderr.on("data", (d) => (err += d));
    child.stdout.on("data", (d) => {
      out += d;
      const m = out.match(/^Serving (.*) at (http:\/\/\S+)$/m);
      if (m) resolve({ child, folder: m[1], url: m[2], errText: () => err });
    });
    child.on("exit", (code) => reject(new Error(`preview ended (${code}): ${out}${err}`)));
    setTimeout(() => reject(new Error("no address printed")), timeoutMs);
  });
}

function stopPreview(child) {
  return new Promise((resolve) => {
    child.removeAllListeners("exit");
    child.on("exit", (code, signal) => resolve({ code, signal }));
    child.kill("SIGINT");
  });
}

// Writes `text` to `file` and resolves with the milliseconds until `shows` holds in `page`.
async function timeEdit(page, file, text, shows, argument) {
  const start = performance.now();
  fs.writeFileSync(file, text);
  // Looked at on every change of the page's DOM: a page in a tab behind another gets no
  // animation frames, and one that takes its new body in place never loads again.
  await page.waitForFunction(shows, { timeout: timeoutMs, polling: "mutation" }, argument);
  return performance.now() - start;
}

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const mid = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
}

const hasText = (text) => document.body && document.body.innerText.includes(text);

async function test(browser) {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), "tarvix-browser-"));
  try {
    const src = path.join(home, "src");
    fs.mkdirSync(path.join(src, "docs"), { recursive: true });
    fs.mkdirSync(path.join(home, "templates"));
    const template = path.join(home, "templates", "page.html");
    fs.writeFileSync(template,
        '<html><head><link rel="stylesheet" href="####ROOT####/style.css"></head>' +
        "<body><header>frame one</header>####BODY####</body></html>\n");
    fs.writeFileSync(path.join(src, "style.css"), "p { color: rgb(255, 0, 0); }\n");
    fs.writeFileSync(path.join(src, "docs", "a b.md"), "# Page\n\nversion 1\n");
    fs.writeFileSync(path.join(src, "other.md"), "# Other\n\nuntouched\n");

    const preview = await startPreview(["src", "-serve", "-port", "0", "-t", template], home);
    const page = await browser.newPage();
    const other = await browser.newPage();
    await page.goto(preview.url + "docs/a%20b.html");
    await other.goto(preview.url + "other.html");
    await other.evaluate(() => (window.kept = true));
    if (!(await page.evaluate(hasText, "version 1"))) fail("the page does not show its text");

    // The document, edited three times, the last two within one second. The page runs no
    // script of its own, so it takes its new body in place: no navigation.
    await page.evaluate(() => (window.stayed = true));
    for (const version of ["version 2", "version 3", "version 4"]) {
      await timeEdit(page, path.join(src, "docs", "a b.md"), `# Page\n\n${version}\n`, hasText,
                     version);
    }
    if (!(await page.evaluate(() => window.stayed === true)))
      fail("the page navigated to show an edit of its own text");
    if (!(await other.evaluate(() => window.kept === true)))
      fail("a page whose files did not change reloaded");
    // The style sheet: the page reloads because it uses it.
    await timeEdit(page, path.join(src, "style.css"), "p { color: rgb(0, 0, 255); }\n",
                   () => getComputedStyle(document.querySelector("p")).color ===
                         "rgb(0, 0, 255)");
    if (await page.evaluate(() => window.stayed === true))
      fail("a changed style sheet did not reload the page");
    // The template, which lies outside the input folder.
    await timeEdit(page, template,
                   fs.readFileSync(template, "utf8").replace("frame one", "frame two"),
                   hasText, "frame two");
    // Every page was made with the template, so the other page shows it too.
    await other.waitForFunction(hasText, { timeout: timeoutMs }, "frame two");
    // A new document: its page appears, and an open 404 for it turns into the page.
    const fresh = await browser.newPage();
    await fresh.goto(preview.url + "new.html");
    if (!(await fresh.evaluate(hasText, "Not found"))) fail("no 404 page for a missing page");
    await timeEdit(fresh, path.join(src, "new.md"), "# New\n\nbrand new\n", hasText, "brand new");

    const end = await stopPreview(preview.child);
    if (end.code !== 0) fail(`the preview ended with ${end.code} ${end.signal}`);
    if (fs.existsSync(preview.folder)) fail(`the temporary folder ${preview.folder} is left`);
    if (fs.readdirSync(src).some((n) => n.startsWith(".") || n.endsWith(".html")))
      fail("the preview wrote into the input folder");
    console.log("browser test passed");
  } finally {
    fs.rmSync(home, { recursive: true, force: true });
  }
}

// Edits one document of a site `edits` times and prints the median edit-to-reload time.
async function bench(browser) {
  const out = fs.mkdtempSync(path.join(os.tmpdir(), "tarvix-bench-out-"));
  try {
    const preview = await startPreview([benchSource, "-serve", "-port", "0", "-o", out],
                                       process.cwd());
    const page = await browser.newPage();
    await page.goto(preview.url + benchDocument.replace(/\.md$/, ".html"));
    const file = path.join(benchSource, benchDocument);
    const original = fs.readFileSync(file, "utf8");
    const times = [];
    const shown = [];
    try {
      for (let i = 0; i < Number(benchEdits); ++i) {
        const marker = `edit-marker-${i}-${Date.now()}`;
        // The frame in which the page first holds the new text, by the clock the write is
        // timed with: what a person at the screen sees, without the driver's own round
        // trips to find the text. A page that took its new body in place notes the frame
        // itself; one that navigated tells when it painted first.
        await page.evaluate((m) => {
          window.shownAt = null;
          const look = () => {
            if (document.body && document.body.innerText.includes(m))
              window.shownAt = performance.timeOrigin + performance.now();
            else
              requestAnimationFrame(look);
          };
          requestAnimationFrame(look);
        }, marker);
        const written = Date.now();
        times.push(await timeEdit(page, file, `${original}\n\n${marker}\n`, hasText, marker));
        // The driver may see the text before its frame comes: wait for that frame.
        const painted = await page.evaluate(() => new Promise((resolve) => {
          const read = () => {
            if (typeof window.shownAt === "number") {
              resolve(window.shownAt);
            } else if (window.shownAt === undefined) {
              const paint = performance.getEntriesByName("first-contentful-paint")[0];
              resolve(paint ? performance.timeOrigin + paint.startTime : null);
            } else {
              requestAnimationFrame(read);
            }
          };
          read();
        }));
        if (painted !== null)
          shown.push(painted - written);
      }
    } finally {
      fs.writeFileSync(file, original);
    }
    await stopPreview(preview.child);
    const summary = (values) => `${median(values).toFixed(1)} ms (min ` +
        `${Math.min(...values).toFixed(1)}, max ${Math.max(...values).toFixed(1)})`;
    if (shown.length > 0)
      console.log(`edit to new text on screen (median of ${shown.length}): ${summary(shown)}`);
    console.log(`edit to new text seen by the driver (median of ${times.length}): ` +
                summary(times));
  } finally {
    fs.rmSync(out, { recursive: true, force: true });
  }
}

// Puppeteer gives the browser a new, empty profile of its own.
const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
  args: chromiumFlags.filter((f) => f !== "--headless"),
  headless: true,
});
try {
  await (benchSource ? bench(browser) : test(browser));
} catch (error) {
  console.error(`browser test failed: ${error.message}`);
  process.exitCode = 1;
} finally {
  for (const child of started) {
    if (child.exitCode === null && child.signalCode === null)
      child.kill("SIGKILL");
  }
  await browser.close();
}
