// Loads a published page whose video is an absolute Windows path and prints every URL
// the page asks for, one a line: the movie must turn the path into a file: URL.
// usage: node file_url.js URL
'use strict';
const { chromium } = require('playwright-core');

async function main() {
  const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  try {
    const page = await browser.newPage();
    const urls = [];
    page.on('request', (r) => urls.push(r.url()));
    await page.goto(process.argv[2], { waitUntil: 'load' });
    await page.addScriptTag({ url: '/ruffle/ruffle.js' });
    await page.waitForSelector('ruffle-object, ruffle-embed', { timeout: 20000 });
    for (let i = 0; i < 50 && !urls.some((u) => u.startsWith('file:')); i++) {
      await page.waitForTimeout(200);
    }
    console.log(urls.join('\n'));
  } finally {
    await browser.close();
  }
}

main().catch((e) => {
  console.error(e.stack || String(e));
  process.exit(1);
});
