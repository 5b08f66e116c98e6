// The FLV container read as its bytes arrive: the header, then each whole tag in turn.
// Video tags become frames (time, keyframe flag, where the body lies), audio tags become
// runs of samples on one continuous sound line, and onMetaData gives its numbers.
var Pemlo = Pemlo || {};
(function () {
  'use strict';

  var RATES = [5512, 11025, 22050, 44100];
  // A sound tag later than the sound so far by more than this starts after a silence.
  var GAP_MS = 100;

  function FlvReader() {
    this.bytes = new Uint8Array(0);
    this.available = 0;
    this.pos = 0;
    this.headerDone = false;
    this.error = '';
    this.frames = [];      // {time, key, start, end}: end excludes; start after the type byte
    this.lastKey = [];     // per frame: the index of the keyframe at or before it (-1: none)
    this.audio = [];       // {time, start, end, first, count}: first/count in sample frames
    this.audioRate = 0;
    this.audioChannels = 1;
    this.audioFrames = 0;  // sample frames on the sound line so far
    this.audioOrigin = 0;  // the time of the sound line's first sample, in ms
    this.audioOther = false;  // sound of a format this reader does not decode
    this.meta = {};
  }

  // Takes the bytes data[0, available) (the same array, grown, at later calls); returns
  // false once the data is known not to be an FLV.
  FlvReader.prototype.feed = function (data, available) {
    this.bytes = data;
    this.available = available;
    var d = data;
    if (!this.headerDone) {
      if (available < 13) { return true; }
      if (d[0] !== 0x46 || d[1] !== 0x4c || d[2] !== 0x56) {
        this.error = 'not an FLV file';
        return false;
      }
      var offset = ((d[5] << 24) >>> 0) + (d[6] << 16) + (d[7] << 8) + d[8];
      if (offset < 9 || offset > available) {
        if (offset < 9) { this.error = 'bad FLV header'; return false; }
        return true;
      }
      this.pos = offset + 4;
      this.headerDone = true;
    }
    while (this.pos + 11 <= available) {
      var p = this.pos;
      var type = d[p] & 0x1f;
      var size = (d[p + 1] << 16) | (d[p + 2] << 8) | d[p + 3];
      var time = d[p + 7] * 16777216 + ((d[p + 4] << 16) | (d[p + 5] << 8) | d[p + 6]);
      var body = p + 11;
      // The size of the tag before comes ahead of each tag; the last tag may lack one after it.
      var next = body + size + 4;
      if (body + size > available) { break; }
      if (type === 9 && size >= 1) {
        var codec = d[body] & 15;
        if (codec === 3) {
          var key = (d[body] >> 4) === 1;
          var index = this.frames.length;
          this.frames.push({ time: time, key: key, start: body + 1, end: body + size });
          this.lastKey.push(key ? index : (index > 0 ? this.lastKey[index - 1] : -1));
        }
      } else if (type === 8 && size >= 1) {
        this.addSound(d, time, body, body + size);
      } else if (type === 18) {
        this.readMeta(d, body, body + size);
      }
      this.pos = next;
    }
    return true;
  };

  FlvReader.prototype.addSound = function (d, time, start, end) {
    var format = d[start] >> 4;
    if (format !== 1) {
      this.audioOther = true;
      return;
    }
    var rate = RATES[(d[start] >> 2) & 3];
    var channels = (d[start] & 1) + 1;
    if (this.audio.length === 0) {
      this.audioRate = rate;
      this.audioChannels = channels;
      this.audioOrigin = time;
    } else if (rate !== this.audioRate || channels !== this.audioChannels) {
      return;  // one sound line of one kind; a changed format is left out
    }
    var count = Pemlo.adpcmFrames(d, start + 1, end, channels);
    var first = this.audioFrames;
    var due = Math.round((time - this.audioOrigin) * rate / 1000);
    if (due - first > GAP_MS * rate / 1000) { first = due; }
    this.audio.push({ time: time, start: start + 1, end: end, first: first, count: count });
    this.audioFrames = first + count;
  };

  // AMF0: "onMetaData" then an object or ECMA array; numbers and booleans are kept.
  FlvReader.prototype.readMeta = function (d, start, end) {
    var p = start;
    function str() {
      if (p + 2 > end) { throw new Error('short'); }
      var n = (d[p] << 8) | d[p + 1];
      p += 2;
      if (p + n > end) { throw new Error('short'); }
      var s = '';
      for (var i = 0; i < n; i++) { s += String.fromCharCode(d[p + i]); }
      p += n;
      return s;
    }
    function num() {
      if (p + 8 > end) { throw new Error('short'); }
      var v = new DataView(d.buffer, d.byteOffset + p, 8).getFloat64(0);
      p += 8;
      return v;
    }
    try {
      if (d[p++] !== 2 || str() !== 'onMetaData') { return; }
      var kind = d[p++];
      if (kind === 8) { p += 4; } else if (kind !== 3) { return; }
      while (p + 3 <= end) {
        var name = str();
        var t = d[p++];
        if (name === '' && t === 9) { break; }
        if (t === 0) { this.meta[name] = num(); }
        else if (t === 1) { this.meta[name] = d[p++] !== 0; }
        else if (t === 2) { this.meta[name] = str(); }
        else { break; }  // anything else ends what this reader needs
      }
    } catch (e) {
      // A short or odd metadata tag leaves what was read.
    }
  };

  // The frame shown at time t (ms): the last one that starts at or before t.
  FlvReader.prototype.frameAt = function (t) {
    var f = this.frames;
    var lo = 0;
    var hi = f.length - 1;
    if (hi < 0) { return -1; }
    if (t < f[0].time) { return 0; }
    while (lo < hi) {
      var mid = (lo + hi + 1) >> 1;
      if (f[mid].time <= t) { lo = mid; } else { hi = mid - 1; }
    }
    return lo;
  };

  // The run of sound holding sample frame s, or the first after it; -1 past the end.
  FlvReader.prototype.soundAt = function (s) {
    var a = this.audio;
    var lo = 0;
    var hi = a.length - 1;
    if (hi < 0 || s >= a[hi].first + a[hi].count) { return -1; }
    while (lo < hi) {
      var mid = (lo + hi) >> 1;
      if (a[mid].first + a[mid].count <= s) { lo = mid + 1; } else { hi = mid; }
    }
    return lo;
  };

  // Sample frames [from, to) of the sound line, interleaved, silence where none was
  // recorded; an Int16Array of (to - from) x channels.
  FlvReader.prototype.readSound = function (from, to) {
    var ch = this.audioChannels;
    var out = new Int16Array(Math.max(0, to - from) * ch);
    var scratch = this.scratch || (this.scratch = new Int16Array(8192 * 2));
    var i = this.soundAt(from);
    if (i < 0) { return out; }
    for (; i < this.audio.length; i++) {
      var run = this.audio[i];
      if (run.first >= to) { break; }
      if (run.count * ch > scratch.length) {
        scratch = this.scratch = new Int16Array(run.count * ch + 64);
      }
      var n = Pemlo.adpcmDecode(this.bytes, run.start, run.end, ch, scratch);
      var a = Math.max(from, run.first);
      var b = Math.min(to, run.first + n);
      if (b > a) {
        out.set(scratch.subarray((a - run.first) * ch, (b - run.first) * ch), (a - from) * ch);
      }
    }
    return out;
  };

  // The sound line's first sample frame due at time t (ms).
  FlvReader.prototype.soundFrameAt = function (t) {
    return Math.round((t - this.audioOrigin) * this.audioRate / 1000);
  };

  // Where the recording ends (ms): the metadata's duration when it covers every tag,
  // else the last frame plus the gap before it, or the end of the sound.
  FlvReader.prototype.duration = function () {
    var f = this.frames;
    var end = 0;
    if (f.length > 0) {
      var last = f[f.length - 1].time;
      var step = f.length > 1 ? last - f[f.length - 2].time : 100;
      end = last + Math.max(1, Math.min(step, 1000));
    }
    if (this.audioRate > 0) {
      end = Math.max(end, this.audioOrigin + this.audioFrames * 1000 / this.audioRate);
    }
    var meta = this.meta.duration;
    if (typeof meta === 'number' && isFinite(meta) && meta * 1000 >= (f.length ? f[f.length - 1].time : 0)) {
      end = Math.max(end, meta * 1000);
    }
    return end;
  };

  Pemlo.FlvReader = FlvReader;
})();
