// Plays the published preview page in headless Chromium or Firefox ESR opened from
// file:// (no server) and checks the page's own player against ffmpeg's decode of the same FLV: the canvas
// bit for bit at the start, after a seek by a click on the bar, after a drag, after a
// pause, at the end and after a replay, and the decoded sound sample for sample.
// Every start is a real mouse click (not a script), as the browser's autoplay policy
// wants one.
// usage: node player_test.js CASE_DIR MODE [SHOTS_DIR]
//   PEMLO_BROWSER=firefox in the environment plays it in Firefox ESR (default: chromium).
//   CASE_DIR holds page/PemloPreview.html (published), rec.flv, ref.rgb (ffmpeg rgb24,
//   one picture per frame) and, with sound, ref.s16 (ffmpeg adpcm_swf, s16le).
//   MODE: full (every control), basic (start and a seek), large (the page offers the
//   file picker; the FLV is given to it), missing (no data beside the page), empty (an
//   FLV without a picture: the page says so).
'use strict';
const fs = require('fs');
const path = require('path');
const puppeteer = require('puppeteer-core');

const browserName = process.env.PEMLO_BROWSER || 'chromium';
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

const [caseDir, mode, shotsDir] = process.argv.slice(2);
let failures = 0;
function check(ok, what) {
  console.log((ok ? 'ok   ' : 'FAIL ') + what);
  if (!ok) { failures++; }
}

const referencePath = path.join(caseDir, 'ref.rgb');
const reference = fs.existsSync(referencePath) ? fs.readFileSync(referencePath) : Buffer.alloc(0);
const soundPath = path.join(caseDir, 'ref.s16');
const hasSound = fs.existsSync(soundPath);
// Headless Firefox here has no audio output (no sound server), so its AudioContext never
// runs: the picture must then play on its own clock; the sound is still checked sample for
// sample.
const soundOut = browserName === 'chromium';

async function canvas(page) {
  return page.evaluate(() => {
    const p = window.pemloPlayer;
    const c = p.canvas;
    const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    const rgb = new Uint8Array(c.width * c.height * 3);
    for (let i = 0, j = 0; i < d.length; i += 4, j += 3) {
      rgb[j] = d[i]; rgb[j + 1] = d[i + 1]; rgb[j + 2] = d[i + 2];
    }
    let bin = '';
    for (let i = 0; i < rgb.length; i += 32768) {
      bin += String.fromCharCode.apply(null, rgb.subarray(i, i + 32768));
    }
    return { state: p.state(), w: c.width, h: c.height, rgb: btoa(bin) };
  });
}

// The canvas equals ffmpeg's picture of the frame the player says it shows.
async function frameCheck(page, label) {
  const c = await canvas(page);
  const size = c.w * c.h * 3;
  const frames = reference.length / size;
  const n = c.state.frame;
  const mine = Buffer.from(c.rgb, 'base64');
  const ref = reference.subarray(n * size, (n + 1) * size);
  let same = n >= 0 && n < frames && mine.equals(ref);
  let where = '';
  if (!same && n >= 0 && n < frames) {
    for (let i = 0; i < size; i++) {
      if (mine[i] !== ref[i]) { where = ` (first difference at pixel ${Math.floor(i / 3)})`; break; }
    }
  }
  check(same, `${label}: canvas ${c.w}x${c.h} is ffmpeg's frame ${n} of ${frames}${where}`);
  return c.state;
}

async function frameTimes(page) {
  return page.evaluate(() => window.pemloPlayer.reader.frames.map((f) => f.time));
}

function frameAt(times, t) {
  let k = 0;
  for (let i = 0; i < times.length; i++) { if (times[i] <= t) { k = i; } }
  return k;
}

async function box(page, selector) {
  return (await page.$(selector)).boundingBox();
}

async function textOf(page, selector) {
  return page.$eval(selector, (e) => e.textContent);
}

async function trackBox(page) {
  return box(page, '.pemlo-track');
}

async function clickBar(page, fraction) {
  const box = await trackBox(page);
  await page.mouse.click(box.x + box.width * fraction, box.y + box.height / 2);
  return box;
}

async function clickPlay(page, selector) {
  const b = await box(page, selector);
  await page.mouse.click(b.x + b.width / 2, b.y + b.height / 2);
}

async function waitFor(page, condition, ms) {
  try {
    await page.waitForFunction(condition, { timeout: ms, polling: 50 });
    return true;
  } catch (e) {
    return false;
  }
}

// The sound as the page plays it, run by run (one run per audio tag), against ffmpeg's
// adpcm_swf decode, which gives one sample more per packet: the first sample, then one
// per code, the recorder's packet coding its first sample twice.
async function checkSound(page) {
  const raw = fs.readFileSync(soundPath);
  const ffmpeg = new Int16Array(raw.buffer, raw.byteOffset, raw.length / 2);
  const got = await page.evaluate(() => {
    const p = window.pemloPlayer;
    const pcm = p.readSound(0, p.reader.audioFrames);
    const bytes = new Uint8Array(pcm.buffer);
    let bin = '';
    for (let i = 0; i < bytes.length; i += 32768) {
      bin += String.fromCharCode.apply(null, bytes.subarray(i, i + 32768));
    }
    return { pcm: btoa(bin), runs: p.reader.audio.map((r) => [r.first, r.count]) };
  });
  const mine = Buffer.from(got.pcm, 'base64');
  const samples = new Int16Array(mine.buffer, mine.byteOffset, mine.length / 2);
  let at = 0;
  let wrong = 0;
  let full = 0;
  for (const [first, count] of got.runs) {
    if (count === 1024) { full++; }
    for (let s = 0; s < count; s++) {
      if (samples[first + s] !== ffmpeg[at + s]) { wrong++; }
    }
    at += count + 1;
  }
  check(at === ffmpeg.length && got.runs.length > 0 && wrong === 0,
    `sound: ${got.runs.length} packets (${full} of 1,024 samples), ${samples.length} samples; ` +
    `ffmpeg ${ffmpeg.length} samples, ${wrong} differ`);
}

async function full(page, shot) {
  const times = await frameTimes(page);
  check(times.length === reference.length / ((await canvas(page)).w * (await canvas(page)).h * 3),
    `the player reads ${times.length} frames, as many as ffmpeg decodes`);
  await shot('before');
  let s = await frameCheck(page, 'before the click');
  check(!s.playing && s.frame === 0, 'waits on the first frame');
  await clickPlay(page, '.pemlo-big-play');
  const started = await waitFor(page, () => window.pemloPlayer.state().time > 1500, 8000);
  check(started, 'one click starts it');
  s = await frameCheck(page, 'while playing');
  if (hasSound && soundOut) {
    check(s.soundClock && s.audioState === 'running', `the sound clock drives the picture (${s.audioState})`);
  } else if (hasSound) {
    check(!s.soundClock && s.playing, `no audio output (${s.audioState}): the picture plays on its own clock`);
  }
  check(Math.abs(s.frame - frameAt(times, s.time)) <= 1, `picture in step with the clock (frame ${s.frame}, ${s.time.toFixed(0)} ms)`);
  await shot('playing');

  // A click on the bar while playing, then one while paused: the exact frame.
  await clickBar(page, 0.63);
  s = await frameCheck(page, 'after a click on the bar while playing');
  check(s.playing, 'still playing after the seek');
  if (hasSound && soundOut) {
    // Sound and picture in step after the seek: every buffer queued plays its first
    // sample when the clock that drives the picture reaches that sample's time.
    await sleep(600);
    const queue = await page.evaluate(() => window.pemloPlayer.soundQueue());
    const rate = await page.evaluate(() => window.pemloPlayer.reader.audioRate);
    const off = queue.map((q) => Math.abs(q.sampleTime - q.clockTime));
    const gaps = queue.slice(1).map((q, i) => q.sample - queue[i].sample);
    check(queue.length >= 2 && Math.max(...off) < 1 && Math.abs(queue[0].sampleTime - 0.63 * s.duration) < s.duration / 100,
      `sound queued in step with the clock after the seek (${queue.length} buffers, largest offset ${Math.max(...off).toFixed(3)} ms)`);
    check(gaps.every((g) => g === Math.round(rate / 2)), 'the queued sound runs on without gaps or overlaps');
  }
  await clickPlay(page, '.pemlo-play');
  s = await page.evaluate(() => window.pemloPlayer.state());
  check(!s.playing, 'the pause button pauses');
  const box = await clickBar(page, 0.31);
  s = await frameCheck(page, 'after a click on the bar while paused');
  const want = 0.31 * s.duration;
  check(Math.abs(s.time - want) <= s.duration / box.width * 1.5, `seeks to ${s.time.toFixed(0)} ms for ${want.toFixed(0)} ms`);
  check(s.frame === frameAt(times, s.time), `lands on frame ${frameAt(times, s.time)} (shows ${s.frame})`);

  // A drag there and back.
  await page.mouse.move(box.x + box.width * 0.2, box.y + box.height / 2);
  await page.mouse.down();
  await page.mouse.move(box.x + box.width * 0.85, box.y + box.height / 2, { steps: 8 });
  await page.mouse.move(box.x + box.width * 0.47, box.y + box.height / 2, { steps: 8 });
  await page.mouse.up();
  s = await frameCheck(page, 'after a drag');
  check(Math.abs(s.time - 0.47 * s.duration) <= s.duration / box.width * 1.5 && s.frame === frameAt(times, s.time),
    `the drag lands on frame ${s.frame} at ${s.time.toFixed(0)} ms`);

  // Play, pause: the picture stands still on a frame of the recording.
  await clickPlay(page, '.pemlo-play');
  await sleep(700);
  await clickPlay(page, '.pemlo-play');
  const paused = await frameCheck(page, 'after a pause');
  await sleep(600);
  s = await frameCheck(page, 'still paused');
  check(s.frame === paused.frame && s.time === paused.time, 'the paused picture stands still');

  // Keyboard: right arrow 5 s on, left 5 s back, space plays and pauses.
  await page.keyboard.press('ArrowRight');
  s = await page.evaluate(() => window.pemloPlayer.state());
  check(Math.abs(s.time - Math.min(paused.time + 5000, s.duration)) < 1, `right arrow: ${paused.time.toFixed(0)} -> ${s.time.toFixed(0)} ms`);
  await page.keyboard.press('ArrowLeft');
  s = await page.evaluate(() => window.pemloPlayer.state());
  check(Math.abs(s.time - paused.time) < 1, 'left arrow: back 5 s');
  await page.keyboard.press('Space');
  s = await page.evaluate(() => window.pemloPlayer.state());
  check(s.playing, 'space plays');
  await page.keyboard.press('Space');
  s = await page.evaluate(() => window.pemloPlayer.state());
  check(!s.playing, 'space pauses');

  // The end, then play again.
  await clickBar(page, 0.97);
  await clickPlay(page, '.pemlo-play');
  const ended = await waitFor(page, () => window.pemloPlayer.state().ended, 15000);
  check(ended, 'the end is reached');
  s = await frameCheck(page, 'at the end');
  check(s.frame === times.length - 1, 'the last frame shows at the end');
  await clickPlay(page, '.pemlo-play');
  const again = await waitFor(page, () => window.pemloPlayer.state().time > 300, 5000);
  check(again, 'play at the end plays again');
  s = await frameCheck(page, 'after the replay');
  check(s.playing && s.time < 5000, `played again from the start (${s.time.toFixed(0)} ms)`);
  // Rewind while playing goes back to the first frame.
  await clickPlay(page, '.pemlo-play');
  await clickPlay(page, '.pemlo-rewind');
  s = await frameCheck(page, 'after rewind');
  check(s.frame === 0 && s.time === 0, 'rewind shows the first frame');
  if (hasSound) { await checkSound(page); }
}

async function basic(page, shot) {
  const times = await frameTimes(page);
  await frameCheck(page, 'before the click');
  await clickPlay(page, '.pemlo-big-play');
  check(await waitFor(page, () => window.pemloPlayer.state().playing, 3000), 'one click starts it');
  await sleep(400);
  await frameCheck(page, 'while playing');
  await clickPlay(page, '.pemlo-play');
  await clickBar(page, 0.95);
  const s = await frameCheck(page, 'after a click on the bar');
  check(s.frame === frameAt(times, s.time), `lands on frame ${s.frame} at ${s.time.toFixed(0)} ms`);
  if (times[times.length - 1] > 16777216) {
    check(times[s.frame] > 16777216, `a frame past 2^24 ms shows (frame ${s.frame} at ${times[s.frame]} ms)`);
  }
  await shot('basic');
  if (hasSound) { await checkSound(page); }
}

async function main() {
  const browser = browserName === 'firefox' ?
    await puppeteer.launch({
      browser: 'firefox', headless: true,
      executablePath: process.env.FIREFOX || '/usr/bin/firefox-esr',
    }) :
    await puppeteer.launch({
      headless: true,
      executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
      args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    });
  const errors = [];
  const requests = [];
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1000, height: 900 });
    page.on('pageerror', (e) => errors.push(e.message));
    page.on('request', (r) => requests.push(r.url()));
    const shot = async (name) => {
      if (shotsDir) { await page.screenshot({ path: path.join(shotsDir, `${name}.png`) }); }
    };
    const url = 'file://' + path.resolve(caseDir, 'page', 'PemloPreview.html');
    await page.goto(url, { waitUntil: 'load' });
    const flashBox = await page.evaluate(() => getComputedStyle(document.getElementById('pemlo-flash')).display);
    check(flashBox === 'none', 'no plug-in: the movie\'s box is hidden');
    if (mode === 'empty') {
      check(await waitFor(page, () => window.pemloPlayer.state().fallback, 5000), 'the page does not wait for a picture that never comes');
      const text = await textOf(page, '.pemlo-sentence');
      check(/no picture/.test(text), `one plain sentence: "${text}"`);
    } else if (mode === 'large' || mode === 'missing') {
      check(await waitFor(page, () => window.pemloPlayer.state().fallback, 5000), 'the page offers to open the file');
      const text = await textOf(page, '.pemlo-sentence');
      const want = mode === 'large' ? /too large/ : /not found/;
      check(want.test(text), `one plain sentence: "${text}"`);
      const thumb = await page.evaluate(() => {
        const img = document.querySelector('.pemlo-thumbnail');
        return img.style.display !== 'none' ? img.naturalWidth : -1;
      });
      check(thumb > 0, `the thumbnail shows (${thumb} pixels wide)`);
      await shot(mode);
      if (mode === 'missing') {
        // A file that is no FLV: one sentence, and the form stays.
        await (await page.$('.pemlo-file')).uploadFile(path.join(caseDir, 'rec.bmp'));
        check(await waitFor(page, () => /is not a Flash Video/.test(document.querySelector('.pemlo-sentence').textContent), 5000),
          'a file that is no FLV is refused in one sentence');
        check((await page.evaluate(() => window.pemloPlayer.state())).fallback, 'the form stays for another file');
      }
      await (await page.$('.pemlo-file')).uploadFile(path.join(caseDir, 'rec.flv'));
      check(await waitFor(page, () => window.pemloPlayer.state().frames > 0 && !window.pemloPlayer.state().fallback, 10000),
        'the chosen file is read');
      await basic(page, shot);
    } else {
      check(await waitFor(page, () => window.pemloPlayer.state().complete, 20000), 'the recording loads from the scripts beside the page');
      if (mode === 'full') { await full(page, shot); } else { await basic(page, shot); }
    }
    const remote = requests.filter((u) => !u.startsWith('file:') && !u.startsWith('data:') && !u.startsWith('blob:'));
    check(remote.length === 0, `nothing asked of the network (${remote.join(', ')})`);
    check(errors.length === 0, `no script errors ${errors.join('; ')}`);
  } finally {
    await browser.close();
  }
  process.exit(failures ? 1 : 0);
}

main().catch((e) => {
  console.error(e.stack || String(e));
  process.exit(1);
});
