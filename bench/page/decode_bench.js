// Decoding speed of the preview page's player in headless Chromium: the page published
// for an FLV is opened from file:// and its Screen Video decoder runs over the frames.
// Keyframes are decoded on their own (each one whole), inter frames in order after the
// keyframe before them. In the same run, the keyframes' blocks are also inflated by the
// browser's DecompressionStream (4 in flight), the alternative to the page's own inflate.
// usage: node decode_bench.js PAGE.html
'use strict';
const path = require('path');
const { chromium } = require(path.join(__dirname, '../../tests/page/node_modules/playwright-core'));

async function main() {
  const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  try {
    const page = await browser.newPage();
    await page.goto('file://' + path.resolve(process.argv[2]));
    await page.waitForFunction(() => window.pemloPlayer && window.pemloPlayer.state().complete,
      null, { timeout: 120000 });
    const result = await page.evaluate(async () => {
      const r = window.pemloPlayer.reader;
      const keys = [];
      const inter = [];
      r.frames.forEach((f, i) => (f.key ? keys : inter).push(i));
      const video = new Pemlo.ScreenVideo();
      // Once through first, so that the timings below see compiled code.
      for (const f of r.frames) { video.decode(r.bytes, f.start, f.end); }
      // Keyframes, each three times.
      let t0 = performance.now();
      for (let round = 0; round < 3; round++) {
        for (const i of keys) { video.decode(r.bytes, r.frames[i].start, r.frames[i].end); }
      }
      const keyMs = (performance.now() - t0) / (3 * keys.length);
      // Every frame in order; the inter frames' share is the whole less the keyframes.
      t0 = performance.now();
      for (const f of r.frames) { video.decode(r.bytes, f.start, f.end); }
      const allMs = performance.now() - t0;
      const interMs = (allMs - keyMs * keys.length) / inter.length;
      // The same keyframes' blocks through DecompressionStream.
      const blocks = [];
      for (const i of keys) {
        const f = r.frames[i];
        const d = r.bytes;
        const bw = ((d[f.start] >> 4) + 1) * 16;
        const w = ((d[f.start] & 15) << 8) | d[f.start + 1];
        const bh = ((d[f.start + 2] >> 4) + 1) * 16;
        const h = ((d[f.start + 2] & 15) << 8) | d[f.start + 3];
        let p = f.start + 4;
        const n = Math.ceil(w / bw) * Math.ceil(h / bh);
        for (let b = 0; b < n; b++) {
          const size = (d[p] << 8) | d[p + 1];
          p += 2;
          if (size) { blocks.push(d.subarray(p, p + size)); }
          p += size;
        }
      }
      t0 = performance.now();
      let next = 0;
      async function worker() {
        while (next < blocks.length) {
          const block = blocks[next++];
          const stream = new DecompressionStream('deflate');
          const writer = stream.writable.getWriter();
          writer.write(block);
          writer.close();
          await new Response(stream.readable).arrayBuffer();
        }
      }
      await Promise.all([worker(), worker(), worker(), worker()]);
      const streamMs = (performance.now() - t0) / keys.length;
      return { keys: keys.length, inter: inter.length, keyMs, interMs, streamMs,
        width: video.width, height: video.height };
    });
    console.log(JSON.stringify(result));
  } finally {
    await browser.close();
  }
}

main().catch((e) => {
  console.error(e.stack || String(e));
  process.exit(1);
});
