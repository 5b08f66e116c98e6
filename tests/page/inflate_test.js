// The page's inflate against node's zlib: streams of every level and strategy (stored
// blocks after compressed ones among them) inflate to the same bytes, and a stream with
// any one bit flipped either inflates to the same bytes or is refused, never inflates to
// other bytes (the Adler-32 at its end is checked).
// usage: node inflate_test.js
'use strict';
const fs = require('fs');
const path = require('path');
const vm = require('vm');
const zlib = require('zlib');

const context = { Pemlo: {} };
vm.createContext(context);
vm.runInContext(fs.readFileSync(path.join(__dirname, '../../resources/player/inflate.js'), 'utf8'), context);
const inflate = context.Pemlo.inflate;

let failures = 0;
function check(ok, what) {
  console.log((ok ? 'ok   ' : 'FAIL ') + what);
  if (!ok) { failures++; }
}

// Screen-like data: runs of a few colours, a gradient, and noise that does not compress.
let seed = 12345;
function random() {
  seed = (seed * 1103515245 + 12345) & 0x7fffffff;
  return seed / 0x7fffffff;
}
function sample(n) {
  const b = Buffer.alloc(n);
  for (let i = 0; i < n;) {
    const kind = random();
    const run = 1 + Math.floor(random() * 300);
    for (let k = 0; k < run && i < n; k++, i++) {
      b[i] = kind < 0.4 ? 0xd8 : kind < 0.7 ? (i * 7) & 255 : Math.floor(random() * 256);
    }
  }
  return b;
}

const out = new Uint8Array(1 << 20);
let streams = 0;
let flips = 0;
let refused = 0;
let wrong = 0;
let mismatched = 0;
const inputs = [Buffer.alloc(0), Buffer.from('a'), sample(3072), sample(12288),
  Buffer.concat([sample(40000).fill(0x41, 0, 20000), (() => {
    const b = Buffer.alloc(40000);
    for (let i = 0; i < b.length; i++) { b[i] = Math.floor(random() * 256); }
    return b;
  })()])];
for (const input of inputs) {
  for (const level of [0, 1, 6, 9]) {
    for (const strategy of [zlib.constants.Z_DEFAULT_STRATEGY, zlib.constants.Z_FIXED, zlib.constants.Z_HUFFMAN_ONLY]) {
      const z = zlib.deflateSync(input, { level, strategy });
      streams++;
      let n = -1;
      try { n = inflate(z, 0, z.length, out); } catch (e) { n = -2; }
      if (n !== input.length || !Buffer.from(out.subarray(0, n)).equals(input)) { mismatched++; }
      // Bits flipped across the stream (every bit of small ones, a spread of big ones).
      const step = Math.max(1, Math.floor(z.length * 8 / 400));
      for (let bit = 0; bit < z.length * 8; bit += step) {
        const d = Buffer.from(z);
        d[bit >> 3] ^= 1 << (bit & 7);
        flips++;
        try {
          const m = inflate(d, 0, d.length, out);
          if (m !== input.length || !Buffer.from(out.subarray(0, m)).equals(input)) { wrong++; }
        } catch (e) {
          refused++;
        }
      }
    }
  }
}
check(mismatched === 0, `${streams} streams inflate to node's bytes (${mismatched} differ)`);
check(wrong === 0 && refused > 0,
  `${flips} streams with one bit flipped: ${refused} refused, ${wrong} gave other bytes`);
const z = zlib.deflateSync(sample(3072));
let short = false;
try { inflate(z, 0, z.length - 1, out); } catch (e) { short = /checksum/.test(e.message); }
check(short, 'a stream cut inside its checksum is refused for it');
process.exit(failures ? 1 : 0);
