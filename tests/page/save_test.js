// Saves the recording from the published preview page as a user does, in headless
// Chromium or Firefox ESR opened from file:// (no server): waits for the page to offer
// saving, picks the size, clicks the save button with the mouse and takes the browser's
// download. With --cancel, starts saving, clicks Cancel once frames are being encoded and
// checks that nothing is downloaded. Prints what the page offered as JSON on its last
// line: {container, video, sound, note, file, seconds}.
// usage: node save_test.js chromium|firefox CASE_DIR DOWNLOAD_DIR [small|standard|best] [--cancel]
//   CASE_DIR holds page/PemloPreview.html (published). The download lands in
//   DOWNLOAD_DIR, which must be empty.
'use strict';
const fs = require('fs');
const path = require('path');
const puppeteer = require('puppeteer-core');

const args = process.argv.slice(2);
const cancel = args.includes('--cancel');
const [browserName, caseDir, downloadArg, choice = 'standard'] = args.filter((a) => a !== '--cancel');
// Firefox takes only an absolute folder for its downloads.
const downloads = path.resolve(downloadArg);

let failures = 0;
function check(ok, what) {
  console.log((ok ? 'ok   ' : 'FAIL ') + what);
  if (!ok) { failures++; }
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function launch() {
  if (browserName === 'firefox') {
    return puppeteer.launch({
      browser: 'firefox',
      executablePath: process.env.FIREFOX || '/usr/bin/firefox-esr',
      headless: true,
      extraPrefsFirefox: {
        'browser.download.dir': downloads,
        'browser.download.folderList': 2,
        'browser.download.useDownloadDir': true,
        'browser.download.always_ask_before_handling_new_types': false,
        'browser.download.alwaysOpenPanel': false,
        'browser.helperApps.neverAsk.saveToDisk': 'video/mp4,video/webm',
      },
    });
  }
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const session = await browser.target().createCDPSession();
  await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  return browser;
}

// The files in the download folder, and whether one is still being written.
function downloaded() {
  const names = fs.readdirSync(downloads);
  const partial = names.some((n) => /\.(part|crdownload)$/.test(n));
  return { names: names.filter((n) => !/\.(part|crdownload)$/.test(n)), partial };
}

async function waitFor(page, fn, ms) {
  try {
    await page.waitForFunction(fn, { timeout: ms, polling: 100 });
    return true;
  } catch (e) {
    return false;
  }
}

async function clickOn(page, selector) {
  const handle = await page.$(selector);
  const b = await handle.boundingBox();
  await page.mouse.click(b.x + b.width / 2, b.y + b.height / 2);
}

async function main() {
  fs.mkdirSync(downloads, { recursive: true });
  const browser = await launch();
  const errors = [];
  let offered = {};
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1000, height: 1000 });
    page.on('pageerror', (e) => errors.push(e.message));
    const url = 'file://' + path.resolve(caseDir, 'page', 'PemloPreview.html');
    await page.goto(url, { waitUntil: 'load' });
    const ready = await waitFor(page, () => window.pemloSaver && window.pemloSaver.state().ready, 60000);
    const s = await page.evaluate(() => (window.pemloSaver ? window.pemloSaver.state() : null));
    check(ready, `the page offers saving (${JSON.stringify(s)})`);
    if (!ready) { return; }
    const uploadShown = await page.evaluate(() => {
      const b = document.querySelector('div.share input[type=submit]');
      return b ? getComputedStyle(b).display !== 'none' : false;
    });
    check(!uploadShown, 'no upload button that cannot work');
    const lead = await page.evaluate(() => document.querySelector('div.share h2').nextElementSibling.id);
    check(lead === 'pemlo-save', 'the box leads with saving');
    await page.select('.pemlo-save-choice', choice);
    const label = await page.evaluate(() => {
      const c = document.querySelector('.pemlo-save-choice');
      return c.options[c.selectedIndex].textContent;
    });
    check(/ - about \d+ (KB|MB|GB)$/.test(label), `the choice shows its estimated size: "${label}"`);
    const started = Date.now();
    await clickOn(page, '.pemlo-save-button');
    if (cancel) {
      check(await waitFor(page, () => / of \d+ frames encoded/.test(window.pemloSaver.state().status) &&
        !/^0 of/.test(window.pemloSaver.state().status), 30000), 'progress shows frames encoded of all');
      await clickOn(page, '.pemlo-save-cancel');
      check(await waitFor(page, () => /cancelled/.test(window.pemloSaver.state().status), 30000),
        'Cancel stops saving and says so');
      await sleep(1500);
      const d = downloaded();
      check(d.names.length === 0 && !d.partial, `Cancel leaves nothing (${d.names.join(', ')})`);
      const again = await page.evaluate(() => window.pemloSaver.state().ready);
      check(again, 'saving is offered again after Cancel');
    } else {
      let sawFinishing = false;
      let last = '';
      for (let i = 0; i < 6000; i++) {
        const st = await page.evaluate(() => window.pemloSaver.state());
        last = st.status;
        if (/Finishing/.test(st.status)) { sawFinishing = true; }
        if (!st.saving) { break; }
        await sleep(100);
      }
      const st = await page.evaluate(() => window.pemloSaver.state());
      check(/^Saved /.test(st.status), `the page says: "${last}" then "${st.status}"`);
      let file = '';
      for (let i = 0; i < 600 && !file; i++) {
        const d = downloaded();
        if (!d.partial && d.names.length === 1 && st.lastFile && d.names[0] === st.lastFile.name &&
          fs.statSync(path.join(downloads, d.names[0])).size === st.lastFile.bytes) {
          file = path.join(downloads, d.names[0]);
        } else {
          await sleep(100);
        }
      }
      check(file !== '', `the browser downloaded ${st.lastFile ? st.lastFile.name : '(nothing)'}`);
      offered = { container: st.container, video: st.video, sound: st.sound, note: st.note, file,
        seconds: (Date.now() - started) / 1000, finishing: sawFinishing };
    }
    check(errors.length === 0, `no script errors ${errors.join('; ')}`);
  } finally {
    await browser.close();
  }
  console.log(JSON.stringify(offered));
  process.exit(failures ? 1 : 0);
}

main().catch((e) => {
  console.error(e.stack || String(e));
  process.exit(1);
});
