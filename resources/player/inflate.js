// zlib streams (a two-byte header, deflate blocks, an Adler-32 of what they hold)
// inflated into a buffer the caller owns; a stream whose checksum does not match is
// refused, so that a damaged block is an error rather than a wrong picture. Every Screen Video block is one such stream of a few kilobytes, so
// the tables live here once and are rebuilt in place for each block.
var Pemlo = Pemlo || {};
(function () {
  'use strict';

  var LENGTH_BASE = [3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59,
    67, 83, 99, 115, 131, 163, 195, 227, 258];
  var LENGTH_EXTRA = [0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4,
    5, 5, 5, 5, 0];
  var DIST_BASE = [1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513,
    769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577];
  var DIST_EXTRA = [0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10,
    11, 11, 12, 12, 13, 13];
  var CODE_LENGTH_ORDER = [16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15];
  var FAST_BITS = 9;

  // A canonical Huffman code: a table indexed by the next FAST_BITS input bits (symbol
  // x 16 + length, 0 for longer codes) and the counts and sorted symbols for the rest.
  function Code(symbols) {
    this.fast = new Uint16Array(1 << FAST_BITS);
    this.counts = new Uint16Array(16);
    this.symbols = new Uint16Array(symbols);
    this.offsets = new Uint16Array(16);
  }

  Code.prototype.build = function (lengths, start, n) {
    var counts = this.counts;
    var i;
    counts.fill(0);
    for (i = 0; i < n; i++) {
      counts[lengths[start + i]]++;
    }
    counts[0] = 0;
    var offsets = this.offsets;
    offsets[1] = 0;
    for (i = 1; i < 15; i++) {
      offsets[i + 1] = offsets[i] + counts[i];
    }
    for (i = 0; i < n; i++) {
      var len = lengths[start + i];
      if (len !== 0) {
        this.symbols[offsets[len]++] = i;
      }
    }
    // Fast table: walk the codes in canonical order.
    var fast = this.fast;
    fast.fill(0);
    var code = 0;
    var k = 0;
    for (len = 1; len <= FAST_BITS; len++) {
      for (i = 0; i < counts[len]; i++, k++) {
        var reversed = 0;
        for (var b = 0; b < len; b++) {
          reversed |= ((code >> b) & 1) << (len - 1 - b);
        }
        var entry = (this.symbols[k] << 4) | len;
        for (var j = reversed; j < (1 << FAST_BITS); j += 1 << len) {
          fast[j] = entry;
        }
        code++;
      }
      code <<= 1;
    }
  };

  var fixedLiterals = new Code(288);
  var fixedDistances = new Code(30);
  var dynamicLiterals = new Code(288);
  var dynamicDistances = new Code(30);
  var codeLengthCode = new Code(19);
  var lengths = new Uint8Array(288 + 32);
  (function () {
    var l = new Uint8Array(288);
    var i;
    for (i = 0; i < 144; i++) { l[i] = 8; }
    for (; i < 256; i++) { l[i] = 9; }
    for (; i < 280; i++) { l[i] = 7; }
    for (; i < 288; i++) { l[i] = 8; }
    fixedLiterals.build(l, 0, 288);
    l.fill(5, 0, 30);
    fixedDistances.build(l, 0, 30);
  })();

  function fail(why) {
    throw new Error('inflate: ' + why);
  }

  // Adler-32 of data[0, n): sums taken modulo 65521 every 5,552 bytes, the most that
  // cannot overflow 32 bits.
  function adler32(data, n) {
    var a = 1;
    var b = 0;
    for (var i = 0; i < n;) {
      var stop = Math.min(n, i + 5552);
      for (; i < stop; i++) {
        a += data[i];
        b += a;
      }
      a %= 65521;
      b %= 65521;
    }
    return ((b << 16) | a) >>> 0;
  }

  // Inflates the zlib stream in src[start, end) into out from offset 0; returns the
  // number of bytes written. Throws on damaged data or when out is too small.
  function inflate(src, start, end, out) {
    if (end - start < 6) { fail('stream too short'); }
    var cmf = src[start];
    var flg = src[start + 1];
    if ((cmf & 15) !== 8 || ((cmf << 8) | flg) % 31 !== 0 || (flg & 32) !== 0) {
      fail('not a zlib stream');
    }
    var pos = start + 2;
    var bits = 0;
    var count = 0;
    var op = 0;
    var limit = out.length;

    function need(n) {
      while (count < n) {
        if (pos >= end) { fail('data ends early'); }
        bits |= src[pos++] << count;
        count += 8;
      }
    }
    function take(n) {
      need(n);
      var v = bits & ((1 << n) - 1);
      bits >>>= n;
      count -= n;
      return v;
    }
    function decode(code) {
      // Top up without failing: the last code may need fewer bits than are asked for.
      while (count < 16 && pos < end) {
        bits |= src[pos++] << count;
        count += 8;
      }
      var entry = code.fast[bits & ((1 << FAST_BITS) - 1)];
      if (entry !== 0) {
        var len = entry & 15;
        if (len > count) { fail('data ends early'); }
        bits >>>= len;
        count -= len;
        return entry >> 4;
      }
      // Longer codes, one bit at a time.
      var c = 0;
      var first = 0;
      var index = 0;
      for (var l = 1; l <= 15; l++) {
        c |= take(1);
        var n = code.counts[l];
        if (c - n < first) { return code.symbols[index + c - first]; }
        index += n;
        first = (first + n) << 1;
        c <<= 1;
      }
      fail('bad code');
      return -1;
    }

    var last = 0;
    while (!last) {
      last = take(1);
      var type = take(2);
      if (type === 0) {
        // To the byte boundary; whole bytes read ahead go back to the input.
        pos -= count >> 3;
        bits = 0;
        count = 0;
        if (pos + 4 > end) { fail('data ends early'); }
        var len = src[pos] | (src[pos + 1] << 8);
        var nlen = src[pos + 2] | (src[pos + 3] << 8);
        if ((len ^ 0xffff) !== nlen) { fail('bad stored block'); }
        pos += 4;
        if (pos + len > end) { fail('data ends early'); }
        if (op + len > limit) { fail('output too large'); }
        out.set(src.subarray(pos, pos + len), op);
        pos += len;
        op += len;
        continue;
      }
      var lit;
      var dist;
      if (type === 1) {
        lit = fixedLiterals;
        dist = fixedDistances;
      } else if (type === 2) {
        var nlit = take(5) + 257;
        var ndist = take(5) + 1;
        var ncode = take(4) + 4;
        if (nlit > 286 || ndist > 30) { fail('bad counts'); }
        lengths.fill(0, 0, 19);
        for (var i = 0; i < ncode; i++) {
          lengths[CODE_LENGTH_ORDER[i]] = take(3);
        }
        codeLengthCode.build(lengths, 0, 19);
        var total = nlit + ndist;
        var k = 0;
        while (k < total) {
          var sym = decode(codeLengthCode);
          if (sym < 16) {
            lengths[k++] = sym;
          } else {
            var repeat;
            var value = 0;
            if (sym === 16) {
              if (k === 0) { fail('repeat with nothing before'); }
              value = lengths[k - 1];
              repeat = 3 + take(2);
            } else if (sym === 17) {
              repeat = 3 + take(3);
            } else {
              repeat = 11 + take(7);
            }
            if (k + repeat > total) { fail('too many lengths'); }
            while (repeat--) { lengths[k++] = value; }
          }
        }
        if (lengths[256] === 0) { fail('no end code'); }
        dynamicLiterals.build(lengths, 0, nlit);
        dynamicDistances.build(lengths, nlit, ndist);
        lit = dynamicLiterals;
        dist = dynamicDistances;
      } else {
        fail('bad block type');
      }
      for (;;) {
        var s = decode(lit);
        if (s < 256) {
          if (op >= limit) { fail('output too large'); }
          out[op++] = s;
        } else if (s === 256) {
          break;
        } else {
          s -= 257;
          if (s >= 29) { fail('bad length'); }
          var length = LENGTH_BASE[s] + take(LENGTH_EXTRA[s]);
          var d = decode(dist);
          if (d >= 30) { fail('bad distance'); }
          var distance = DIST_BASE[d] + take(DIST_EXTRA[d]);
          if (distance > op) { fail('distance too far back'); }
          if (op + length > limit) { fail('output too large'); }
          for (var from = op - distance; length > 0; length--) {
            out[op++] = out[from++];
          }
        }
      }
    }
    // The checksum follows on the next byte boundary, most significant byte first.
    pos -= count >> 3;
    if (pos + 4 > end) { fail('checksum missing'); }
    var sum = ((src[pos] << 24) | (src[pos + 1] << 16) | (src[pos + 2] << 8) | src[pos + 3]) >>> 0;
    if (sum !== adler32(out, op)) { fail('checksum does not match'); }
    return op;
  }

  Pemlo.inflate = inflate;
})();
