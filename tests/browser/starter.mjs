// The starter site as a new user meets it: `tarvix DIR -new`, a site run, then a page opened
// in Debian's chromium (headless) from the disk and through the preview. No console error,
// both code blocks coloured, the navigation listing every page with the current one marked;
// screenshots at a wide and a narrow width are kept in ARTEFACTS.
//   node tests/browser/starter.mjs PROGRAM [ARTEFACTS]
import { spawn, spawnSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { pathToFileURL } from "node:url";
import puppeteer from "puppeteer-core";

const [program, artefactsArgument] = process.argv.slice(2);
if (!program) {
  console.error("usage: starter.mjs PROGRAM [ARTEFACTS]");
  process.exit(2);
}
const artefacts = artefactsArgument || path.resolve("build/browser-artefacts");
const chromiumFlags = [
  "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
  "--disable-background-networking", "--disable-component-update", "--disable-sync",
];
const timeoutMs = 10000;

function fail(message) {
  throw new Error(message);
}

function run(args, cwd) {
  const r = spawnSync(program, args, { cwd, encoding: "utf8" });
  if (r.status !== 0) fail(`${args.join(" ")}: exit ${r.status}\n${r.stdout}${r.stderr}`);
  return r;
}

function startPreview(args, cwd) {
  return new Promise((resolve, reject) => {
    const child = spawn(program, args, { cwd, stdio: ["ignore", "pipe", "pipe"] });
    let out = "";
    child.stdout.on("data", (d) => {
      out += d;
      const m = out.match(/^Serving (.*) at (http:\/\/\S+)$/m);
      if (m) resolve({ child, url: m[2] });
    });
    child.on("exit", (code) => reject(new Error(`preview ended (${code}): ${out}`)));
    setTimeout(() => reject(new Error("no address printed")), timeoutMs);
  });
}

// Opens `url` and checks what a reader sees; `name` labels the screenshots.
async function checkPage(browser, url, name) {
  const page = await browser.newPage();
  const errors = [];
  // The browser asks every server for /favicon.ico on its own; no page names one.
  page.on("console", (m) => {
    const where = m.location().url || "";
    if (m.type() === "error" && !where.endsWith("/favicon.ico")) errors.push(`${m.text()} ${where}`);
  });
  page.on("pageerror", (e) => errors.push(String(e)));
  page.on("requestfailed", (r) => errors.push(`failed: ${r.url()}`));
  await page.setViewport({ width: 1200, height: 900 });
  await page.goto(url, { waitUntil: "load", timeout: timeoutMs });
  // The adapter colours the blocks once the document is read.
  await page.waitForFunction(() => document.querySelectorAll("pre.hljs").length >= 2,
                             { timeout: timeoutMs });
  const seen = await page.evaluate(() => {
    const blocks = [...document.querySelectorAll("pre[class*='brush:']")].map((pre) => {
      const colours = new Set([...pre.querySelectorAll("span")].map((s) => getComputedStyle(s).color));
      colours.add(getComputedStyle(pre).color);
      return { brush: pre.className, tokens: pre.querySelectorAll("span").length, colours: colours.size };
    });
    const links = [...document.querySelectorAll("nav.site-nav a")].map((a) => ({
      href: a.href, current: a.getAttribute("aria-current"), text: a.textContent,
    }));
    return { blocks, links, location: location.href };
  });
  if (errors.length) fail(`${name}: console errors:\n${errors.join("\n")}`);
  if (seen.blocks.length < 2) fail(`${name}: ${seen.blocks.length} code blocks`);
  for (const b of seen.blocks) {
    if (b.tokens === 0 || b.colours < 2) fail(`${name}: block "${b.brush}" not coloured: ${JSON.stringify(b)}`);
  }
  if (seen.links.length !== 2) fail(`${name}: navigation lists ${seen.links.length} pages`);
  const current = seen.links.filter((l) => l.current === "page");
  if (current.length !== 1 || current[0].href !== seen.location) {
    fail(`${name}: current page not marked: ${JSON.stringify(seen.links)}`);
  }
  // Every navigation link leads to a page.
  for (const l of seen.links) {
    const other = await browser.newPage();
    const response = await other.goto(l.href, { timeout: timeoutMs });
    if (response && response.status() >= 400) fail(`${name}: ${l.href} fails (${response.status()})`);
    const title = await other.title();
    if (!title) fail(`${name}: ${l.href} has no title`);
    await other.close();
  }
  fs.mkdirSync(artefacts, { recursive: true });
  for (const width of [1200, 400]) {
    await page.setViewport({ width, height: 900 });
    await page.screenshot({ path: path.join(artefacts, `starter-${name}-${width}.png`), fullPage: true });
  }
  await page.close();
  console.log(`${name}: ${seen.blocks.length} blocks coloured, ${seen.links.length} pages listed`);
}

const home = fs.mkdtempSync(path.join(os.tmpdir(), "tarvix-starter-"));
let preview;
const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
  args: chromiumFlags,
});
try {
  run(["site", "-new"], home);
  const built = run(["site", "-o", "out", "-strict"], home);
  if (!/ 0 broken links/.test(built.stderr)) fail(`broken links: ${built.stderr}`);
  await checkPage(browser, pathToFileURL(path.join(home, "out/guide/writing.html")).href, "file");
  preview = await startPreview(["site", "-serve", "-port", "0"], home);
  await checkPage(browser, `${preview.url.replace(/\/$/, "")}/guide/writing.html`, "preview");
  console.log(`starter: passed; screenshots in ${artefacts}`);
} finally {
  await browser.close();
  if (preview) preview.child.kill("SIGINT");
  fs.rmSync(home, { recursive: true, force: true });
}
