// Runs the page's decoders (resources/player/) in Node on an FLV and compares every
// frame with ffmpeg's decode (rgb24, top-down, back to back) and the sound with ffmpeg's
// adpcm_swf decode, of which the first 1,024 samples of each 1,025-sample packet count.
// usage: node decoders.js PLAYER_DIR FILE.flv FRAMES.rgb [SOUND.s16 | -]
'use strict';
const fs = require('fs');
const path = require('path');
const vm = require('vm');

function loadPlayer(dir) {
  const context = { console, Uint8Array, Uint16Array, Int16Array, Uint8ClampedArray, DataView, Math };
  vm.createContext(context);
  for (const name of ['inflate.js', 'screen_video.js', 'adpcm.js', 'flv.js']) {
    vm.runInContext(fs.readFileSync(path.join(dir, name), 'utf8'), context, { filename: name });
  }
  return vm.runInContext('Pemlo', context);
}

function main() {
  const [dir, flvPath, framesPath, soundPath] = process.argv.slice(2);
  const Pemlo = loadPlayer(dir);
  const bytes = new Uint8Array(fs.readFileSync(flvPath));
  const reader = new Pemlo.FlvReader();
  // Fed in uneven pieces, as the chunks arrive.
  for (let n = 1000; n < bytes.length; n += 77777) {
    if (!reader.feed(bytes, n)) { throw new Error(reader.error); }
  }
  reader.feed(bytes, bytes.length);
  const reference = fs.readFileSync(framesPath);
  const video = new Pemlo.ScreenVideo();
  const failures = [];
  const started = process.hrtime.bigint();
  for (let i = 0; i < reader.frames.length; i++) {
    const f = reader.frames[i];
    video.decode(reader.bytes, f.start, f.end);
    const size = video.width * video.height * 3;
    const ref = reference.subarray(i * size, (i + 1) * size);
    let bad = -1;
    for (let p = 0, q = 0; p < size; p += 3, q += 4) {
      if (video.rgba[q] !== ref[p] || video.rgba[q + 1] !== ref[p + 1] || video.rgba[q + 2] !== ref[p + 2]) {
        bad = p / 3;
        break;
      }
    }
    if (ref.length !== size) { failures.push(`frame ${i}: ffmpeg has no such frame`); break; }
    if (bad >= 0) { failures.push(`frame ${i} differs at pixel ${bad}`); }
  }
  const ms = Number(process.hrtime.bigint() - started) / 1e6;
  const frameCount = reference.length / (video.width * video.height * 3);
  if (frameCount !== reader.frames.length) {
    failures.push(`${reader.frames.length} frames read, ffmpeg decoded ${frameCount}`);
  }
  let soundNote = 'no sound compared';
  if (soundPath && soundPath !== '-') {
    const raw = fs.readFileSync(soundPath);
    const ffmpeg = new Int16Array(raw.buffer, raw.byteOffset, raw.length / 2);
    const mine = reader.readSound(0, reader.audioFrames);
    const packets = Math.floor(ffmpeg.length / 1025);
    if (packets * 1024 !== mine.length || ffmpeg.length % 1025 !== 0) {
      failures.push(`sound: ${mine.length} samples, ffmpeg ${ffmpeg.length} (${packets} packets)`);
    }
    let wrong = 0;
    for (let k = 0; k < packets; k++) {
      for (let s = 0; s < 1024; s++) {
        if (mine[k * 1024 + s] !== ffmpeg[k * 1025 + s]) { wrong++; }
      }
    }
    if (wrong) { failures.push(`sound: ${wrong} samples differ`); }
    soundNote = `${packets} sound packets compared`;
  }
  console.log(`${reader.frames.length} frames of ${video.width}x${video.height} decoded in ${ms.toFixed(0)} ms; ${soundNote}`);
  if (failures.length) {
    console.log('FAIL ' + failures.slice(0, 10).join('\nFAIL '));
    process.exit(1);
  }
  console.log('ok   every frame and sample equals ffmpeg\'s');
}

main();
