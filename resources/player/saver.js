// "Save as MP4" in the page's "Share it" box: the recording the player has read is
// decoded frame by frame again and encoded by the browser's own encoders (WebCodecs)
// into an MP4 (H.264, AAC or else Opus) or, where H.264 cannot be encoded, a WebM (VP9,
// Opus), muxed by mediabunny (bundled into the page as PemloMediabunny), and handed to
// the browser's download.
//
// Pemlo.planSave(options) finds what this browser can encode for a picture of a size;
// Pemlo.saveRecording(reader, plan, choice, hooks) writes the file; Pemlo.Saver is the
// box's controls. Debugging and tests: window.pemloSaver.state().
var Pemlo = Pemlo || {};
(function () {
  'use strict';

  var SMALL_BYTES = 9.3e6;        // "Small" aims below 10 MB with room for the encoder
  var MEMORY_LIMIT = 1.9e9;       // the most one download from memory may hold
  var KEY_SECONDS = 2;
  var SOUND_RATE = 48000;         // AAC and Opus encoders take 48 kHz everywhere
  var SOUND_CHUNK = 1;            // seconds of sound handed over at a time
  var YIELD_MS = 40;              // the page gets the thread back this often
  var OPUS_NOTE = 'Sound in Opus: plays everywhere except QuickTime and WhatsApp.';
  var CHOICES = [
    { key: 'small', label: 'Small (fits 10 MB: Discord, GitHub)' },
    { key: 'standard', label: 'Standard' },
    { key: 'best', label: 'Best' }
  ];

  function element(tag, className, parent, text) {
    var e = document.createElement(tag);
    if (className) { e.className = className; }
    if (text) { e.textContent = text; }
    if (parent) { parent.appendChild(e); }
    return e;
  }

  function sizeText(bytes) {
    if (bytes >= 1e9) { return (bytes / 1e9).toFixed(1) + ' GB'; }
    if (bytes >= 1e6) { return Math.max(1, Math.round(bytes / 1e6)) + ' MB'; }
    return Math.max(1, Math.round(bytes / 1e3)) + ' KB';
  }

  // Gives the thread back to the page (a message, not a timer: timers slow down in a tab
  // in the background).
  function breathe() {
    return new Promise(function (resolve) {
      var channel = new MessageChannel();
      channel.port1.onmessage = function () { resolve(); };
      channel.port2.postMessage(0);
    });
  }

  // The picture goes to the encoder as limited-range YUV 4:2:0 made here (browsers
  // convert RGB each their own way): BT.601, or BT.709 where the encoder declares its
  // output so whatever it is given.
  var BT601 = { primaries: 'smpte170m', transfer: 'smpte170m', matrix: 'smpte170m', fullRange: false };
  var BT709 = { primaries: 'bt709', transfer: 'bt709', matrix: 'bt709', fullRange: false };
  // 8-bit coefficients x 256: Y from R, G, B; U from R, G, B; V from R, G, B.
  var COEFFICIENTS = {
    smpte170m: [66, 129, 25, -38, -74, 112, 112, -94, -18],
    bt709: [47, 157, 16, -26, -87, 112, 112, -102, -10]
  };

  // rgba (w x h) into I420 planes in out (W x H, both even, W >= w, H >= h) with the
  // matrix ('smpte170m' or 'bt709'): the last column and row are repeated into the
  // padding. Chroma from the mean of each 2 x 2. With rect ([x, y, w, h] of the
  // picture), only the 2 x 2 cells it touches (and the padding beside them) are made.
  Pemlo.rgbaToI420 = function (rgba, w, h, out, W, H, matrix, rect) {
    var k = COEFFICIENTS[matrix] || COEFFICIENTS.smpte170m;
    var left = 0;
    var top = 0;
    var right = W;
    var bottom = H;
    if (rect) {
      left = rect[0] & ~1;
      top = rect[1] & ~1;
      right = rect[0] + rect[2] >= w ? W : Math.min(W, (rect[0] + rect[2] + 1) & ~1);
      bottom = rect[1] + rect[3] >= h ? H : Math.min(H, (rect[1] + rect[3] + 1) & ~1);
    }
    var yr = k[0], yg = k[1], yb = k[2], ur = k[3], ug = k[4], ub = k[5], vr = k[6], vg = k[7], vb = k[8];
    var uPlane = W * H;
    var vPlane = uPlane + (W >> 1) * (H >> 1);
    for (var y = top; y < bottom; y += 2) {
      var r0 = Math.min(y, h - 1) * w * 4;
      var r1 = Math.min(y + 1, h - 1) * w * 4;
      var c = (y >> 1) * (W >> 1) + (left >> 1);
      for (var x = left; x < right; x += 2) {
        var a = Math.min(x, w - 1) * 4;
        var b = Math.min(x + 1, w - 1) * 4;
        var p0 = r0 + a;
        var p1 = r0 + b;
        var p2 = r1 + a;
        var p3 = r1 + b;
        var R = rgba[p0];
        var G = rgba[p0 + 1];
        var B = rgba[p0 + 2];
        out[y * W + x] = ((yr * R + yg * G + yb * B + 128) >> 8) + 16;
        var sr = R;
        var sg = G;
        var sb = B;
        R = rgba[p1]; G = rgba[p1 + 1]; B = rgba[p1 + 2];
        out[y * W + x + 1] = ((yr * R + yg * G + yb * B + 128) >> 8) + 16;
        sr += R; sg += G; sb += B;
        R = rgba[p2]; G = rgba[p2 + 1]; B = rgba[p2 + 2];
        out[(y + 1) * W + x] = ((yr * R + yg * G + yb * B + 128) >> 8) + 16;
        sr += R; sg += G; sb += B;
        R = rgba[p3]; G = rgba[p3 + 1]; B = rgba[p3 + 2];
        out[(y + 1) * W + x + 1] = ((yr * R + yg * G + yb * B + 128) >> 8) + 16;
        sr += R; sg += G; sb += B;
        out[uPlane + c] = ((ur * sr + ug * sg + ub * sb + 512) >> 10) + 128;
        out[vPlane + c] = ((vr * sr + vg * sg + vb * sb + 512) >> 10) + 128;
        c++;
      }
    }
  };

  // ---- what this browser encodes ----

  // H.264 level for a picture of w x h at up to 30 frames per second, as two hex digits.
  function avcLevel(w, h) {
    var mbs = Math.ceil(w / 16) * Math.ceil(h / 16);
    var levels = [[1620, '1e'], [3600, '1f'], [5120, '20'], [8192, '28'], [8704, '2a'],
      [22080, '32'], [36864, '33']];
    for (var i = 0; i < levels.length; i++) {
      if (mbs <= levels[i][0]) { return levels[i][1]; }
    }
    return '3c';
  }

  // Whether an H.264 encoder's description is a sound avcC record (version 1, the
  // reserved bits set, a first parameter set that is an SPS of the stated profile): some
  // encoders hand over records that players misread.
  function soundAvcRecord(description) {
    if (!description) { return false; }
    var d = ArrayBuffer.isView(description) ?
      new Uint8Array(description.buffer, description.byteOffset, description.byteLength) :
      new Uint8Array(description);
    return d.length >= 11 && d[0] === 1 && (d[4] & 0xfc) === 0xfc && (d[5] & 0xe0) === 0xe0 &&
      (d[5] & 0x1f) >= 1 && (d[8] & 0x1f) === 7 && d[9] === d[1];
  }

  // One real frame through the encoder: some browsers promise a configuration that the
  // encoder then refuses, or write parameters that players cannot read.
  function trialVideo(config) {
    if (typeof VideoEncoder === 'undefined' || typeof VideoFrame === 'undefined') {
      return Promise.resolve(false);
    }
    var encoder = null;
    var frame = null;
    var got = 0;
    var failed = false;
    config.declared = '';
    return VideoEncoder.isConfigSupported(config).then(function (support) {
      if (!support.supported) { return false; }
      encoder = new VideoEncoder({
        output: function (chunk, meta) {
          got++;
          var space = meta && meta.decoderConfig && meta.decoderConfig.colorSpace;
          if (space && space.matrix) { config.declared = space.matrix; }
          if (config.avc) {
            var d = meta && meta.decoderConfig && meta.decoderConfig.description;
            if (!soundAvcRecord(d)) { failed = true; }
          }
        },
        error: function () { failed = true; }
      });
      encoder.configure(config);
      frame = new VideoFrame(new Uint8Array(config.width * config.height * 3 / 2), {
        format: 'I420', codedWidth: config.width, codedHeight: config.height, timestamp: 0,
        colorSpace: BT601
      });
      encoder.encode(frame, { keyFrame: true });
      frame.close();
      frame = null;
      return encoder.flush().then(function () { return got > 0 && !failed; });
    }).catch(function () {
      return false;
    }).then(function (ok) {
      if (frame) { frame.close(); }
      if (encoder && encoder.state !== 'closed') { encoder.close(); }
      return ok;
    });
  }

  function trialSound(config) {
    if (typeof AudioEncoder === 'undefined' || typeof AudioData === 'undefined') {
      return Promise.resolve(false);
    }
    var encoder = null;
    var got = 0;
    var failed = false;
    return AudioEncoder.isConfigSupported(config).then(function (support) {
      if (!support.supported) { return false; }
      encoder = new AudioEncoder({
        output: function () { got++; },
        error: function () { failed = true; }
      });
      encoder.configure(config);
      var n = config.sampleRate / 10;
      var data = new AudioData({
        format: 'f32', sampleRate: config.sampleRate, numberOfFrames: n,
        numberOfChannels: config.numberOfChannels, timestamp: 0,
        data: new Float32Array(n * config.numberOfChannels)
      });
      encoder.encode(data);
      data.close();
      return encoder.flush().then(function () { return got > 0 && !failed; });
    }).catch(function () {
      return false;
    }).then(function (ok) {
      if (encoder && encoder.state !== 'closed') { encoder.close(); }
      return ok;
    });
  }

  function firstWorking(candidates, trial) {
    var i = 0;
    function next() {
      if (i >= candidates.length) { return Promise.resolve(null); }
      var c = candidates[i++];
      return trial(c.config).then(function (ok) { return ok ? c : next(); });
    }
    return next();
  }

  // What to write for a picture of width x height (odd sizes are padded to even) with
  // sound of the given channels (0: none). Resolves to
  //   { container: 'mp4' | 'webm' | '', video, sound, width, height, why }
  // with video { codec, fullCodecString } and sound { codec, fullCodecString } or null;
  // an empty container and the reason when nothing can be written.
  Pemlo.planSave = function (width, height, channels) {
    var w = width + (width & 1);
    var h = height + (height & 1);
    var plan = { container: '', video: null, sound: null, width: w, height: h, why: '' };
    if (typeof VideoEncoder === 'undefined' || !window.PemloMediabunny) {
      plan.why = 'This browser has no video encoder for pages, so saving as MP4 is not offered here; a current Chrome, Edge or Firefox has one.';
      return Promise.resolve(plan);
    }
    var level = avcLevel(w, h);
    function videoConfig(codec) {
      return { codec: codec, width: w, height: h, bitrate: 1e6, framerate: 10, avc: { format: 'avc' } };
    }
    // Baseline first: it has no B-frames, and every phone plays it.
    var avc = ['avc1.42e0' + level, 'avc1.4d40' + level].map(function (s) {
      return { codec: 'avc', fullCodecString: s, config: videoConfig(s) };
    });
    var vp9String = 'vp09.00.' + (w * h <= 2228224 ? '41' : '51') + '.08';
    var vp9 = [{ codec: 'vp9', fullCodecString: vp9String, config: videoConfig(vp9String) }];
    delete vp9[0].config.avc;
    function soundConfig(codec) {
      return { codec: codec, sampleRate: SOUND_RATE, numberOfChannels: channels, bitrate: 64000 };
    }
    var aac = { codec: 'aac', fullCodecString: 'mp4a.40.2', config: soundConfig('mp4a.40.2') };
    var opus = { codec: 'opus', fullCodecString: 'opus', config: soundConfig('opus') };
    return firstWorking(avc, trialVideo).then(function (video) {
      if (video) {
        plan.container = 'mp4';
        plan.video = video;
        return channels > 0 ? firstWorking([aac, opus], trialSound) : null;
      }
      return firstWorking(vp9, trialVideo).then(function (v) {
        if (!v) { return null; }
        plan.container = 'webm';
        plan.video = v;
        return channels > 0 ? firstWorking([opus], trialSound) : null;
      });
    }).then(function (sound) {
      plan.sound = sound;
      if (!plan.container) {
        plan.why = 'This browser cannot encode H.264 or VP9 video from a page, so saving as MP4 is not offered here.';
      } else if (channels > 0 && !sound) {
        plan.why = 'This browser cannot encode the recording\'s sound from a page, so saving as MP4 is not offered here.';
        plan.container = '';
      }
      return plan;
    });
  };

  // Bit rates (bits per second) of a choice for a recording of the plan's size, with
  // frames frames over seconds seconds.
  Pemlo.saveRates = function (plan, choice, frames, seconds) {
    var fps = Math.max(1, Math.min(30, seconds > 0 ? frames / seconds : 10));
    var pixels = plan.width * plan.height * fps;
    var sound = plan.sound ? (choice === 'small' ? 32000 : 64000) * plan.sound.config.numberOfChannels : 0;
    var standard = Math.max(250000, Math.round(pixels * 0.22));
    var video = standard;
    if (choice === 'best') {
      video = Math.max(600000, Math.round(pixels * 0.55));
    } else if (choice === 'small') {
      var budget = seconds > 0 ? SMALL_BYTES * 8 / seconds - sound : standard;
      video = Math.max(40000, Math.min(standard, Math.round(budget)));
    }
    return { video: video, sound: sound, bytes: (video + sound) * Math.max(seconds, 0.1) / 8 * 1.01 };
  };

  // ---- writing ----

  // Writes the recording the reader holds (complete) with the plan and choice. hooks:
  //   progress(done, all), finishing(), cancelled() -> true to stop,
  //   writable: a FileSystemWritableFileStream to write into instead of memory.
  // Resolves to { blob } (in memory) or {} (written to hooks.writable), or null when
  // cancelled; rejects on an encoder's or the muxer's error.
  Pemlo.saveRecording = function (reader, plan, choice, hooks) {
    var M = window.PemloMediabunny;
    var frames = reader.frames;
    var origin = frames[0].time;
    var end = Math.max(reader.duration(), frames[frames.length - 1].time + 1);
    var seconds = (end - origin) / 1000;
    var rates = Pemlo.saveRates(plan, choice, frames.length, seconds);
    var webm = plan.container === 'webm';
    var target = hooks.writable ? new M.StreamTarget(hooks.writable) : new M.BufferTarget();
    var format = webm ? new M.WebMOutputFormat() :
      new M.Mp4OutputFormat({ fastStart: hooks.writable ? 'fragmented' : 'in-memory' });
    var output = new M.Output({ format: format, target: target });
    var video = new M.VideoSampleSource({
      codec: plan.video.codec, fullCodecString: plan.video.fullCodecString,
      bitrate: rates.video, keyFrameInterval: KEY_SECONDS, latencyMode: 'quality'
    });
    output.addVideoTrack(video);
    var sound = null;
    var rate = reader.audioRate;
    var channels = reader.audioChannels;
    if (plan.sound && rate > 0) {
      sound = new M.AudioSampleSource({
        codec: plan.sound.codec, fullCodecString: plan.sound.fullCodecString,
        bitrate: rates.sound, transform: { sampleRate: SOUND_RATE }
      });
      output.addAudioTrack(sound);
    }
    var decoder = new Pemlo.ScreenVideo();
    var yuv = new Uint8Array(plan.width * plan.height * 3 / 2);
    var space = plan.video.config.declared === 'bt709' ? BT709 : BT601;
    var madeWidth = 0;
    var madeHeight = 0;
    var soundFrom = Math.round((origin - reader.audioOrigin) * rate / 1000);
    var soundAll = Math.round(seconds * rate);
    var soundDone = 0;
    var stopped = false;

    // The sound up to time t (seconds from the start), in chunks.
    function soundUpTo(t) {
      var want = Math.min(soundAll, Math.round(t * rate));
      var chain = Promise.resolve();
      while (sound && soundDone < want) {
        var n = Math.min(want - soundDone, Math.round(rate * SOUND_CHUNK));
        var pcm = reader.readSound(soundFrom + soundDone, soundFrom + soundDone + n);
        var sample = new M.AudioSample({
          data: pcm, format: 's16', numberOfChannels: channels, sampleRate: rate,
          timestamp: soundDone / rate
        });
        soundDone += n;
        chain = chain.then(addAndClose(sound, sample));
      }
      return chain;
    }

    function addAndClose(source, sample) {
      return function () {
        return source.add(sample).then(function () { sample.close(); });
      };
    }

    function frameAt(i) {
      var f = frames[i];
      try {
        decoder.decode(reader.bytes, f.start, f.end);
      } catch (e) {
        // A damaged frame keeps what was decoded of it, as in the player.
      }
      if (!decoder.rgba) { throw new Error('the recording\'s first frame cannot be read'); }
      var t = (f.time - origin) / 1000;
      var next = i + 1 < frames.length ? frames[i + 1].time : end;
      // Only what the frame changed is made again (all of it after a size change).
      var changed = decoder.changed;
      if (!changed || decoder.width !== madeWidth || decoder.height !== madeHeight) {
        Pemlo.rgbaToI420(decoder.rgba, decoder.width, decoder.height, yuv, plan.width, plan.height,
          space.matrix);
        madeWidth = decoder.width;
        madeHeight = decoder.height;
      } else {
        for (var c = 0; c < changed.length; c++) {
          Pemlo.rgbaToI420(decoder.rgba, decoder.width, decoder.height, yuv, plan.width,
            plan.height, space.matrix, changed[c]);
        }
      }
      var frame = new VideoFrame(yuv, {
        format: 'I420', codedWidth: plan.width, codedHeight: plan.height,
        timestamp: Math.round(t * 1e6), duration: Math.round((next - f.time) * 1000),
        colorSpace: space
      });
      var sample = new M.VideoSample(frame);
      return video.add(sample).then(function () {
        sample.close();
        frame.close();
        return soundUpTo(next / 1000 - origin / 1000);
      });
    }

    function loop(i, since) {
      if (hooks.cancelled()) {
        stopped = true;
        return output.cancel();
      }
      if (i >= frames.length) { return null; }
      return frameAt(i).then(function () {
        if (i % 8 === 7 || i === frames.length - 1) { hooks.progress(i + 1, frames.length); }
        if (performance.now() - since > YIELD_MS) {
          return breathe().then(function () { return loop(i + 1, performance.now()); });
        }
        return loop(i + 1, since);
      });
    }

    hooks.progress(0, frames.length);
    return output.start().then(function () {
      return loop(0, performance.now());
    }).then(function () {
      if (stopped) { return null; }
      hooks.finishing();
      return soundUpTo(seconds).then(function () {
        video.close();
        if (sound) { sound.close(); }
        return output.finalize();
      }).then(function () {
        if (hooks.writable) { return {}; }
        return { blob: new Blob([target.buffer], { type: webm ? 'video/webm' : 'video/mp4' }) };
      });
    }, function (e) {
      if (output.state !== 'canceled' && output.state !== 'finalized') {
        return output.cancel().then(function () { throw e; }, function () { throw e; });
      }
      throw e;
    });
  };

  // ---- the box ----

  // A sentence in the box saying why saving is not offered (no controls).
  Pemlo.saveNotOffered = function (why) {
    var box = document.getElementById('pemlo-save');
    if (!box) { return; }
    box.textContent = '';
    element('p', 'pemlo-save-why', box, why);
  };

  function baseName(path) {
    var name = String(path || '').replace(/^.*[\\/]/, '').replace(/\.flv$/i, '');
    return name || 'recording';
  }

  function Saver(box, player, options) {
    var self = this;
    this.box = box;
    this.player = player;
    this.options = options;
    this.plan = null;
    this.planFor = '';
    this.saving = false;
    this.cancelRequested = false;
    this.status = '';
    this.name = baseName(options.videoPath);
    this.lastFile = null;
    box.textContent = '';
    this.row = element('div', 'pemlo-save-row', box);
    this.button = element('button', 'pemlo-save-button', this.row, 'Save as MP4');
    this.button.type = 'button';
    this.choice = element('select', 'pemlo-save-choice', this.row);
    this.choice.title = 'Size of the file';
    for (var i = 0; i < CHOICES.length; i++) {
      var o = element('option', '', this.choice, CHOICES[i].label);
      o.value = CHOICES[i].key;
    }
    this.choice.value = 'standard';
    this.cancel = element('button', 'pemlo-save-cancel', this.row, 'Cancel');
    this.cancel.type = 'button';
    this.cancel.style.display = 'none';
    this.progressBar = element('progress', 'pemlo-save-progress', this.row);
    this.progressBar.style.display = 'none';
    this.note = element('p', 'pemlo-save-note', box);
    this.line = element('p', 'pemlo-save-status', box);
    this.button.disabled = true;
    this.line.textContent = 'Saving is offered once the recording has loaded.';
    this.button.addEventListener('click', function () { self.start(); });
    this.cancel.addEventListener('click', function () { self.cancelRequested = true; });
    this.choice.addEventListener('change', function () { self.update(); });
  }

  // Follows the player: the recording read so far, its size and length.
  Saver.prototype.update = function () {
    var self = this;
    var r = this.player.reader;
    if (this.player.fileName) { this.name = baseName(this.player.fileName); }
    if (!r || r.frames.length === 0) { return; }
    if (this.saving) { return; }
    // The picture's size is known from the first frame.
    var v = this.player.video;
    var key = v.width + 'x' + v.height + 'x' + (r.audioRate > 0 && !r.audioOther ? r.audioChannels : 0);
    if (v.width > 0 && key !== this.planFor) {
      this.planFor = key;
      this.plan = null;
      Pemlo.planSave(v.width, v.height, r.audioRate > 0 ? r.audioChannels : 0).then(function (plan) {
        if (self.planFor !== key) { return; }
        self.plan = plan;
        self.update();
      });
      return;
    }
    var plan = this.plan;
    if (!plan) { return; }
    if (!plan.container) {
      Pemlo.saveNotOffered(plan.why);
      return;
    }
    var seconds = this.player.duration() / 1000;
    for (var i = 0; i < this.choice.options.length; i++) {
      var o = this.choice.options[i];
      var rates = Pemlo.saveRates(plan, o.value, r.frames.length, seconds);
      o.textContent = CHOICES[i].label + ' - about ' + sizeText(rates.bytes);
      o.disabled = rates.bytes > MEMORY_LIMIT && !window.showSaveFilePicker;
    }
    var webm = plan.container === 'webm';
    this.button.textContent = webm ? 'Save as WebM' : 'Save as MP4';
    this.extension = webm ? '.webm' : '.mp4';
    var notes = [];
    if (webm) { notes.push('This browser cannot encode H.264, so the video is saved as WebM (VP9).'); }
    if (!webm && plan.sound && plan.sound.codec === 'opus') { notes.push(OPUS_NOTE); }
    var chosen = Pemlo.saveRates(plan, this.choice.value, r.frames.length, seconds);
    var tooLarge = chosen.bytes > MEMORY_LIMIT && !window.showSaveFilePicker;
    if (tooLarge) {
      notes.push('At this size the file would pass what this browser can save from a page (2 GB); choose a smaller size.');
    }
    this.note.textContent = notes.join(' ');
    this.button.disabled = !this.player.complete || tooLarge;
    if (!this.status) {
      this.line.textContent = this.player.complete ? '' : 'Saving is offered once the recording has loaded.';
    }
  };

  Saver.prototype.setStatus = function (text) {
    this.status = text;
    this.line.textContent = text;
  };

  Saver.prototype.start = function () {
    var self = this;
    var r = this.player.reader;
    if (this.saving || !this.plan || !this.plan.container || !r || !this.player.complete) { return; }
    var choice = this.choice.value;
    var fileName = this.name + this.extension;
    var rates = Pemlo.saveRates(this.plan, choice, r.frames.length, this.player.duration() / 1000);
    var writable = null;
    this.saving = true;
    this.cancelRequested = false;
    this.lastFile = null;
    this.button.disabled = true;
    this.choice.disabled = true;
    this.cancel.style.display = '';
    this.progressBar.style.display = '';
    this.progressBar.removeAttribute('value');
    this.setStatus('Starting...');
    // Past what one download from memory may hold, the file is written where the user
    // picks, as it is made.
    var picked = Promise.resolve(null);
    if (rates.bytes > MEMORY_LIMIT && window.showSaveFilePicker) {
      picked = window.showSaveFilePicker({ suggestedName: fileName }).then(function (handle) {
        return handle.createWritable();
      });
    }
    picked.then(function (w) {
      writable = w;
      return Pemlo.saveRecording(r, self.plan, choice, {
        writable: writable,
        cancelled: function () { return self.cancelRequested; },
        progress: function (done, all) {
          self.progressBar.max = all;
          self.progressBar.value = done;
          self.setStatus(done + ' of ' + all + ' frames encoded');
        },
        finishing: function () {
          self.progressBar.removeAttribute('value');
          self.cancel.disabled = true;
          self.setStatus('Finishing...');
        }
      });
    }).then(function (result) {
      if (!result) {
        if (writable) { writable.abort(); }
        self.done('Saving was cancelled; nothing was saved.');
        return;
      }
      if (result.blob) {
        var a = document.createElement('a');
        var url = URL.createObjectURL(result.blob);
        a.href = url;
        a.download = fileName;
        document.body.appendChild(a);
        a.click();
        document.body.removeChild(a);
        setTimeout(function () { URL.revokeObjectURL(url); }, 60000);
        self.lastFile = { name: fileName, bytes: result.blob.size };
        self.done('Saved ' + fileName + ' (' + sizeText(result.blob.size) + ').');
      } else {
        self.lastFile = { name: fileName, bytes: -1 };
        self.done('Saved ' + fileName + '.');
      }
    }).catch(function (e) {
      if (writable) { writable.abort(); }
      var aborted = e && e.name === 'AbortError';
      self.done(aborted ? '' : 'Saving failed: ' + (e && e.message ? e.message : String(e)));
    });
  };

  Saver.prototype.done = function (text) {
    this.saving = false;
    this.choice.disabled = false;
    this.cancel.disabled = false;
    this.cancel.style.display = 'none';
    this.progressBar.style.display = 'none';
    this.setStatus(text);
    this.update();
  };

  Saver.prototype.state = function () {
    var plan = this.plan;
    return {
      container: plan ? plan.container : '',
      video: plan && plan.video ? plan.video.fullCodecString : '',
      sound: plan && plan.sound ? plan.sound.codec : '',
      ready: !this.button.disabled,
      saving: this.saving,
      status: this.line.textContent,
      note: this.note.textContent,
      lastFile: this.lastFile
    };
  };

  Pemlo.Saver = Saver;
})();
