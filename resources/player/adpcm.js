// FLV ADPCM sound (sound format 1): packets of a 16-bit first sample and a 6-bit step
// index per channel, then 2- to 5-bit codes. The recorder writes one packet of at most
// 1,024 codes per tag, whose first code encodes the first sample again; such a packet
// gives the first sample and then one sample per code but the last, as many samples as
// it recorded. Other encoders' packets (4,095 codes after the first sample, several per
// tag) give all their samples.
var Pemlo = Pemlo || {};
(function () {
  'use strict';

  var STEPS = [7, 8, 9, 10, 11, 12, 13, 14, 16, 17, 19, 21, 23, 25, 28, 31, 34, 37, 41, 45,
    50, 55, 60, 66, 73, 80, 88, 97, 107, 118, 130, 143, 157, 173, 190, 209, 230, 253, 279,
    307, 337, 371, 408, 449, 494, 544, 598, 658, 724, 796, 876, 963, 1060, 1166, 1282, 1411,
    1552, 1707, 1878, 2066, 2272, 2499, 2749, 3024, 3327, 3660, 4026, 4428, 4871, 5358,
    5894, 6484, 7132, 7845, 8630, 9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500,
    20350, 22385, 24623, 27086, 29794, 32767];
  var INDEX_TABLES = [
    [-1, 2],
    [-1, -1, 2, 4],
    [-1, -1, -1, -1, 2, 4, 6, 8],
    [-1, -1, -1, -1, -1, -1, -1, -1, 1, 2, 4, 6, 8, 10, 13, 16]];
  var RECORDER_CODES = 1024;

  function Bits(data, start, end) {
    this.data = data;
    this.pos = start * 8;
    this.end = end * 8;
  }
  Bits.prototype.read = function (n) {
    var v = 0;
    for (var i = 0; i < n; i++, this.pos++) {
      v = (v << 1) | ((this.data[this.pos >> 3] >> (7 - (this.pos & 7))) & 1);
    }
    return v;
  };

  // Walks the packets of a tag body data[start, end) (after the sound format byte).
  // With out given, decoded samples go to out (interleaved) from index 0. Returns the
  // number of sample frames.
  function walk(data, start, end, channels, out) {
    var bits = new Bits(data, start, end);
    var size = bits.end;
    if (size - bits.pos < 2) { return 0; }
    var nb = bits.read(2) + 2;
    var table = INDEX_TABLES[nb - 2];
    var k0 = 1 << (nb - 2);
    var signMask = 1 << (nb - 1);
    // One packet of at most 1,024 4-bit codes: the recorder's.
    var after = (end - start) * 8 - 2 - 22 * channels;
    var recorder = nb === 4 && after >= 0 && after < nb * channels * (RECORDER_CODES + 1);
    var frames = 0;
    var predictor = [0, 0];
    var index = [0, 0];
    var c;
    while (bits.pos <= size - 22 * channels) {
      var packetStart = frames;
      for (c = 0; c < channels; c++) {
        var first = bits.read(16);
        predictor[c] = first >= 0x8000 ? first - 0x10000 : first;
        index[c] = bits.read(6);
        if (out) { out[frames * channels + c] = predictor[c]; }
      }
      frames++;
      var codes = Math.floor((size - bits.pos) / (nb * channels));
      if (codes > 4095) { codes = 4095; }
      // The recorder's packet: the last code describes no sample of its own.
      var keep = recorder && codes > 0 ? codes - 1 : codes;
      if (!out) {
        bits.pos += codes * nb * channels;
        frames += keep;
        continue;
      }
      for (var n = 0; n < codes; n++) {
        for (c = 0; c < channels; c++) {
          var delta = bits.read(nb);
          var step = STEPS[index[c]];
          var diff = 0;
          var k = k0;
          do {
            if (delta & k) { diff += step; }
            step >>= 1;
            k >>= 1;
          } while (k);
          diff += step;
          var p = (delta & signMask) ? predictor[c] - diff : predictor[c] + diff;
          predictor[c] = p < -32768 ? -32768 : (p > 32767 ? 32767 : p);
          var ix = index[c] + table[delta & (signMask - 1)];
          index[c] = ix < 0 ? 0 : (ix > 88 ? 88 : ix);
          if (n < keep) { out[(packetStart + 1 + n) * channels + c] = predictor[c]; }
        }
      }
      frames += keep;
    }
    return frames;
  }

  Pemlo.adpcmFrames = function (data, start, end, channels) {
    return walk(data, start, end, channels, null);
  };
  // Decodes into out (an Int16Array of at least frames x channels); returns the frames.
  Pemlo.adpcmDecode = function (data, start, end, channels, out) {
    return walk(data, start, end, channels, out);
  };
})();
