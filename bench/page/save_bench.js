// Saves CASE_DIR's recording from its published page in headless Chromium (the page's
// data scripts, or the FLV through the page's file picker when the page says it is too
// large) and prints the save's time and the browser's peak resident memory.
// usage: node save_bench.js CASE_DIR DOWNLOAD_DIR CHOICE
'use strict';
const fs = require('fs');
const path = require('path');
const { execFileSync } = require('child_process');
const puppeteer = require(path.join(__dirname, '../../tests/page/node_modules/puppeteer-core'));

const [caseDir, downloads, choice] = process.argv.slice(2);

// Resident kilobytes of a process and all its descendants.
function treeRss(pid) {
  const table = execFileSync('ps', ['-e', '-o', 'pid=,ppid=,rss=']).toString().trim().split('\n')
    .map((l) => l.trim().split(/\s+/).map(Number));
  const kids = new Map();
  for (const [p, pp] of table) { if (!kids.has(pp)) { kids.set(pp, []); } kids.get(pp).push(p); }
  const rss = new Map(table.map(([p, , r]) => [p, r]));
  let total = 0;
  const todo = [pid];
  while (todo.length) {
    const p = todo.pop();
    total += rss.get(p) || 0;
    todo.push(...(kids.get(p) || []));
  }
  return total;
}

async function main() {
  fs.mkdirSync(downloads, { recursive: true });
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium', headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'],
  });
  const pid = browser.process().pid;
  let peak = 0;
  const sampler = setInterval(() => { peak = Math.max(peak, treeRss(pid)); }, 200);
  try {
    const session = await browser.target().createCDPSession();
    await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
    const page = await browser.newPage();
    await page.setViewport({ width: 1000, height: 1000 });
    await page.goto('file://' + path.resolve(caseDir, 'page', 'PemloPreview.html'));
    await page.waitForFunction(() => window.pemloPlayer &&
      (window.pemloPlayer.state().complete || window.pemloPlayer.state().fallback), { timeout: 600000 });
    if ((await page.evaluate(() => window.pemloPlayer.state())).fallback) {
      const input = await page.$('.pemlo-file');
      await input.uploadFile(path.resolve(caseDir, 'rec.flv'));
    }
    await page.waitForFunction(() => window.pemloSaver.state().ready, { timeout: 600000, polling: 500 });
    const loaded = peak;
    await page.select('.pemlo-save-choice', choice);
    const b = await (await page.$('.pemlo-save-button')).boundingBox();
    const start = Date.now();
    await page.mouse.click(b.x + b.width / 2, b.y + b.height / 2);
    let status = '';
    page.on('error', (e) => console.log(`the page crashed: ${e.message} (last said: ${status})`));
    while (!/^(Saved|Saving failed)/.test(status)) {
      await new Promise((r) => setTimeout(r, 500));
      status = await page.evaluate(() => window.pemloSaver.state().status);
    }
    const seconds = (Date.now() - start) / 1000;
    const s = await page.evaluate(() => ({ st: window.pemloSaver.state(), d: window.pemloPlayer.duration() }));
    const length = s.d / 1000;
    console.log(`${s.st.status} ${s.st.video} + ${s.st.sound || 'no sound'}, ${choice}`);
    console.log(`saved ${length.toFixed(0)} s of recording in ${seconds.toFixed(1)} s: ` +
      `${(length / seconds).toFixed(1)} times faster than its length`);
    console.log(`browser's peak resident memory: ${(peak / 1024).toFixed(0)} MiB ` +
      `(${(loaded / 1024).toFixed(0)} MiB once the recording was read)`);
  } finally {
    clearInterval(sampler);
    console.log(`browser's peak resident memory so far: ${(peak / 1024).toFixed(0)} MiB`);
    await browser.close();
  }
}

main().catch((e) => {
  console.error(e.stack || String(e));
  process.exit(1);
});
