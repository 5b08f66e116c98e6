// Loads the preview page in headless Chromium with Ruffle standing in for the Flash
// plug-in and works the player's controls, saving a screenshot of the player after each
// step for the checks that follow.
// usage: node play.js URL OUT_DIR WIDTH HEIGHT
'use strict';
const { chromium } = require('playwright-core');

const [url, outDir, widthText, heightText] = process.argv.slice(2);
const width = Number(widthText);
const height = Number(heightText);
// Where the movie puts its controls (see the movie's layout).
const bar = { top: height - 28, trackX: 56, trackW: width - 64 };

async function main() {
  const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const messages = [];
  const requests = [];
  try {
    const page = await browser.newPage({ viewport: { width: width + 200, height: height + 500 } });
    page.on('console', (m) => messages.push(`${m.type()}: ${m.text()}`));
    page.on('pageerror', (e) => messages.push(`pageerror: ${e.message}`));
    page.on('requestfinished', async (r) => {
      const response = await r.response();
      requests.push(`${response ? response.status() : '-'} ${r.url()}`);
    });
    await page.goto(url, { waitUntil: 'load' });
    // The page is made for the Flash plug-in; here Ruffle takes the plug-in's place.
    await page.addScriptTag({ url: '/ruffle/ruffle.js' });
    await page.waitForSelector('ruffle-object, ruffle-embed', { timeout: 20000 });
    const player = page.locator('ruffle-object, ruffle-embed').first();
    const shot = (name) => player.screenshot({ path: `${outDir}/${name}.png` });
    const click = async (x, y) => {
      const box = await player.boundingBox();
      await page.mouse.click(box.x + x, box.y + y);
    };

    // The movie asks for the recording once it has started; on a busy machine Ruffle
    // can take many seconds to get there, so wait for that request rather than a
    // fixed time, then let it play for a few seconds.
    const started = Date.now();
    while (!requests.some((r) => r.startsWith('200 ') && r.endsWith('.flv'))) {
      if (Date.now() - started > 60000) throw new Error('the movie never fetched the recording');
      await page.waitForTimeout(200);
    }
    await page.waitForTimeout(3000);
    await shot('1-playing');
    // Ruffle warns once, on the first hover, when it renders without a GPU: close it.
    const box = await player.boundingBox();
    await page.mouse.move(box.x + width / 2, box.y + height / 2);
    await page.waitForTimeout(500);
    const modal = page.locator('#hardware-acceleration-modal .close-modal');
    if (await modal.isVisible()) {
      await modal.click();
      await page.waitForTimeout(300);
    }
    // Click just short of four fifths along the seek bar: 15.8 s of 20. Ruffle moves a
    // forward seek on to the next keyframe (16 s here; the recorder writes one every 4 s
    // at 10 frames per second), so the click aims just before one.
    await click(bar.trackX + bar.trackW * 0.79, bar.top + 14);
    await page.waitForTimeout(1000);
    await shot('2-seeked');
    // Pause: the picture stands still.
    await click(14, bar.top + 14);
    await page.waitForTimeout(600);
    await shot('3-paused');
    await page.waitForTimeout(1500);
    await shot('4-still-paused');
    // Drag the knob back to just past two fifths (8.2 s; a backward seek goes to the
    // keyframe before, 8 s), then rewind to the start.
    await page.mouse.move(box.x + bar.trackX + bar.trackW * 0.6, box.y + bar.top + 14);
    await page.mouse.down();
    await page.mouse.move(box.x + bar.trackX + bar.trackW * 0.3, box.y + bar.top + 14, { steps: 5 });
    await page.mouse.move(box.x + bar.trackX + bar.trackW * 0.41, box.y + bar.top + 14, { steps: 5 });
    await page.mouse.up();
    await page.waitForTimeout(1000);
    await shot('5-dragged');
    await click(38, bar.top + 14);
    await page.waitForTimeout(600);
    await shot('6-rewound');
    // Play again from the start.
    await click(14, bar.top + 14);
    await page.waitForTimeout(2500);
    await shot('7-playing-again');
    // A click at 97 % (19.4 s) lies past the last keyframe (16 s): the movie goes there
    // rather than ending the stream.
    await click(bar.trackX + bar.trackW * 0.97, bar.top + 14);
    await page.waitForTimeout(1000);
    await shot('8-past-last-key');
    // Let it end, then Play starts the stream again.
    await page.waitForTimeout(5000);
    await shot('9-ended');
    await click(14, bar.top + 14);
    await page.waitForTimeout(1500);
    await shot('10-after-end');
    const full = await page.screenshot({ path: `${outDir}/page.png`, fullPage: true });
    console.log(JSON.stringify({ requests, messages, fullPageBytes: full.length }, null, 1));
  } finally {
    await browser.close();
  }
}

main().catch((e) => {
  console.error(e.stack || String(e));
  process.exit(1);
});
