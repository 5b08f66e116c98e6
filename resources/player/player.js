// The page's player: where no Flash plug-in takes the movie, it stands in its place. It
// reads the recording from the scripts the program wrote beside the page (or from a file
// the user drops or picks), draws each frame 1:1 into a canvas, plays the sound with Web
// Audio and lets the sound's clock drive the picture.
//
// Debugging and tests: window.pemloPlayer is the player; pemloPlayer.state() tells where
// it stands, pemloPlayer.reader is the FLV as read, pemloPlayer.readSound(from, to)
// gives the decoded sound as it is played and pemloPlayer.soundQueue() where the sound
// queued since the last start or seek lies against the clock.
var Pemlo = Pemlo || {};
(function () {
  'use strict';

  var DATA_INDEX = 'PemloPreviewData.js';
  var SCHEDULE_AHEAD = 1.5;  // seconds of sound queued ahead of the clock
  var SOUND_BLOCK = 0.5;     // seconds per queued buffer
  var STEP_MS = 5000;        // left and right arrow keys
  var FLASH_PLAYS = 'The Flash movie plays this recording here, and only the page\'s own player can save it, so saving as MP4 is not offered.';

  var ICONS = {
    play: '<svg viewBox="0 0 20 20" width="20" height="20"><path d="M6 4 L16 10 L6 16 Z" fill="currentColor"/></svg>',
    pause: '<svg viewBox="0 0 20 20" width="20" height="20"><path d="M5 4 H9 V16 H5 Z M11 4 H15 V16 H11 Z" fill="currentColor"/></svg>',
    rewind: '<svg viewBox="0 0 20 20" width="20" height="20"><path d="M4 4 H6.5 V16 H4 Z M16 4 V16 L7 10 Z" fill="currentColor"/></svg>',
    big: '<svg viewBox="0 0 80 80" width="80" height="80"><circle cx="40" cy="40" r="38" fill="rgba(20,30,40,0.72)"/><path d="M31 22 L60 40 L31 58 Z" fill="#fff"/></svg>'
  };

  function element(tag, className, parent) {
    var e = document.createElement(tag);
    if (className) { e.className = className; }
    if (parent) { parent.appendChild(e); }
    return e;
  }

  function clock(ms) {
    var s = Math.max(0, Math.floor(ms / 1000));
    var h = Math.floor(s / 3600);
    var m = Math.floor(s / 60) % 60;
    var sec = s % 60;
    var tail = (sec < 10 ? '0' : '') + sec;
    if (h > 0) { return h + ':' + (m < 10 ? '0' : '') + m + ':' + tail; }
    return m + ':' + tail;
  }

  function megabytes(bytes) {
    if (bytes < 1048576) { return Math.ceil(bytes / 1024) + ' KB'; }
    return Math.round(bytes / 1048576) + ' MB';
  }

  // A Windows or POSIX path as a file: URL.
  function fileUrl(path) {
    var p = path.replace(/\\/g, '/');
    var parts = p.split('/').map(function (s, i) {
      return i === 0 && /^[A-Za-z]:$/.test(s) ? s : encodeURIComponent(s);
    });
    p = parts.join('/');
    if (/^[A-Za-z]:/.test(p)) { return 'file:///' + p; }
    if (p.indexOf('//') === 0) { return 'file:' + p; }
    return 'file://' + p;
  }

  function base64Bytes(text) {
    if (typeof Uint8Array.fromBase64 === 'function') { return Uint8Array.fromBase64(text); }
    var s = atob(text);
    var out = new Uint8Array(s.length);
    for (var i = 0; i < s.length; i++) { out[i] = s.charCodeAt(i); }
    return out;
  }

  function Player(box, options) {
    var self = this;
    this.options = options;
    this.reader = null;
    this.video = new Pemlo.ScreenVideo();
    this.shown = -1;          // the frame in the canvas
    this.time = 0;            // ms, where the clock stands when stopped
    this.playing = false;
    this.waiting = false;     // playing, but the data has not caught up
    this.ended = false;
    this.complete = false;    // every byte of the recording is in
    this.loadedBytes = 0;
    this.totalBytes = 0;
    this.dragging = false;
    this.audio = null;        // the AudioContext, made at the first click
    this.sources = [];
    this.clockBase = 0;       // clock reading when playing began
    this.timeBase = 0;        // media time when playing began
    this.usesSoundClock = false;
    this.nextSound = 0;       // next sample frame to queue
    this.nextSoundAt = 0;     // its start on the audio clock
    this.frameRequested = false;
    this.queued = [];
    this.fileName = '';       // the file dropped or chosen, when not the one beside the page
    this.onChange = null;     // called when more of the recording is in

    this.view = element('div', 'pemlo-view', box);
    this.screen = element('div', 'pemlo-screen', this.view);
    this.canvas = element('canvas', 'pemlo-canvas', this.screen);
    this.canvas.width = options.width;
    this.canvas.height = options.height;
    this.context = this.canvas.getContext('2d');
    this.bigPlay = element('button', 'pemlo-big-play', this.screen);
    this.bigPlay.type = 'button';
    this.bigPlay.title = 'Play';
    this.bigPlay.innerHTML = ICONS.big;
    this.loading = element('div', 'pemlo-loading', this.screen);
    this.loading.textContent = 'Loading the recording...';
    var bar = element('div', 'pemlo-bar', this.view);
    this.playButton = element('button', 'pemlo-button pemlo-play', bar);
    this.playButton.type = 'button';
    this.rewindButton = element('button', 'pemlo-button pemlo-rewind', bar);
    this.rewindButton.type = 'button';
    this.rewindButton.title = 'Back to the start';
    this.rewindButton.innerHTML = ICONS.rewind;
    this.track = element('div', 'pemlo-track', bar);
    this.loadedPart = element('div', 'pemlo-loaded', this.track);
    this.playedPart = element('div', 'pemlo-played', this.track);
    this.knob = element('div', 'pemlo-knob', this.track);
    this.clockText = element('span', 'pemlo-time', bar);

    this.fallback = element('div', 'pemlo-fallback', box);
    this.sentence = element('p', 'pemlo-sentence', this.fallback);
    this.thumbnail = element('img', 'pemlo-thumbnail', this.fallback);
    this.thumbnail.alt = 'Thumbnail of the recording';
    this.drop = element('div', 'pemlo-drop', this.fallback);
    var label = element('label', 'pemlo-pick', this.drop);
    label.appendChild(document.createTextNode('Drop the FLV file here, or choose it: '));
    this.picker = element('input', 'pemlo-file', label);
    this.picker.type = 'file';
    this.picker.accept = '.flv,video/x-flv';
    this.fallback.style.display = 'none';

    this.bigPlay.addEventListener('click', function () { self.play(); });
    this.canvas.addEventListener('click', function () { self.toggle(); });
    this.playButton.addEventListener('click', function () { self.toggle(); });
    this.rewindButton.addEventListener('click', function () { self.seek(0); });
    this.track.addEventListener('pointerdown', function (e) { self.dragStart(e); });
    this.track.addEventListener('pointermove', function (e) { self.dragMove(e); });
    this.track.addEventListener('pointerup', function (e) { self.dragEnd(e); });
    this.track.addEventListener('pointercancel', function (e) { self.dragEnd(e); });
    document.addEventListener('keydown', function (e) { self.key(e); });
    this.picker.addEventListener('change', function () {
      if (self.picker.files && self.picker.files[0]) { self.openFile(self.picker.files[0]); }
    });
    this.drop.addEventListener('dragover', function (e) {
      e.preventDefault();
      self.drop.className = 'pemlo-drop pemlo-drop-over';
    });
    this.drop.addEventListener('dragleave', function () { self.drop.className = 'pemlo-drop'; });
    this.drop.addEventListener('drop', function (e) {
      e.preventDefault();
      self.drop.className = 'pemlo-drop';
      var files = e.dataTransfer && e.dataTransfer.files;
      if (files && files[0]) { self.openFile(files[0]); }
    });
    setInterval(function () { if (self.playing) { self.queueSound(); } }, 250);
    this.showControls();
  }

  // ---- data ----

  // The scripts beside the page: the index names the recording and its chunks.
  Player.prototype.loadScripts = function () {
    var self = this;
    var expected = this.options.videoPath;
    var index = null;
    var chunks = [];
    var next = 1;
    var inFlight = 0;
    var failed = false;
    window.pemloPreviewIndex = function (info) { index = info; };
    window.pemloPreviewChunk = function (token, n, text) {
      if (index && token === index.token && n >= 1 && n <= index.chunks) { chunks[n] = text; }
    };
    function give(why, bytes) {
      if (!failed) {
        failed = true;
        self.showFallback(why, bytes);
      }
    }
    function load(name, done) {
      var s = document.createElement('script');
      s.src = name;
      s.onload = function () { s.parentNode.removeChild(s); done(true); };
      s.onerror = function () { s.parentNode.removeChild(s); done(false); };
      document.head.appendChild(s);
    }
    var buffer = null;
    var have = 0;
    function more() {
      while (!failed && inFlight < 2 && next <= index.chunks) {
        fetchChunk(next++);
      }
    }
    function fetchChunk(n) {
      inFlight++;
      load('PemloPreviewData' + n + '.js', function (ok) {
        inFlight--;
        if (failed) { return; }
        if (!ok || typeof chunks[n] !== 'string') {
          give('missing');
          return;
        }
        var bytes = base64Bytes(chunks[n]);
        chunks[n] = bytes;
        // Hand the bytes on in order.
        while (have / index.chunkBytes + 1 < chunks.length && chunks[have / index.chunkBytes + 1] instanceof Uint8Array) {
          var c = chunks[have / index.chunkBytes + 1];
          buffer.set(c, have);
          chunks[have / index.chunkBytes + 1] = null;
          have += c.length;
        }
        if (have > index.bytes) { give('damaged'); return; }
        self.take(buffer, have, have === index.bytes);
        if (!failed && self.reader && self.reader.error) { give('damaged'); return; }
        if (!failed && have === index.bytes && self.reader.frames.length === 0) { give('empty'); return; }
        more();
      });
    }
    load(DATA_INDEX, function (ok) {
      if (!ok || !index) { give('missing'); return; }
      if (index.file !== expected) { give('missing'); return; }
      if (index.tooLarge) { give('large', index.bytes); return; }
      if (!(index.bytes > 0 && index.chunks > 0 && index.chunkBytes > 0)) { give('missing'); return; }
      self.totalBytes = index.bytes;
      buffer = new Uint8Array(index.bytes);
      more();
    });
  };

  Player.prototype.openFile = function (file) {
    var self = this;
    this.sentence.textContent = 'Reading ' + file.name + '...';
    file.arrayBuffer().then(function (data) {
      var bytes = new Uint8Array(data);
      var reader = new Pemlo.FlvReader();
      if (!reader.feed(bytes, bytes.length) || reader.frames.length === 0) {
        self.showFallback('unreadable', 0, file.name);
        return;
      }
      self.reset();
      self.fileName = file.name;
      self.totalBytes = bytes.length;
      self.fallback.style.display = 'none';
      self.view.style.display = '';
      self.take(bytes, bytes.length, true);
    }, function () {
      self.showFallback('unreadable', 0, file.name);
    });
  };

  Player.prototype.reset = function () {
    this.pause();
    this.reader = null;
    this.video = new Pemlo.ScreenVideo();
    this.shown = -1;
    this.time = 0;
    this.ended = false;
    this.complete = false;
  };

  // More of the recording: bytes[0, count) are in; last when nothing more comes.
  Player.prototype.take = function (bytes, count, last) {
    if (!this.reader) { this.reader = new Pemlo.FlvReader(); }
    this.reader.feed(bytes, count);
    this.loadedBytes = count;
    this.complete = last;
    if (this.reader.error) { return; }
    if (this.shown < 0 && this.reader.frames.length > 0) {
      this.showFrame(0);
    }
    if (this.waiting && (last || this.loadedTime() > this.clockTime() + 1000)) {
      this.waiting = false;
      this.startClock(this.time);
    }
    this.showControls();
    if (this.onChange) { this.onChange(); }
  };

  // How far the data reaches, in ms.
  Player.prototype.loadedTime = function () {
    if (!this.reader) { return 0; }
    if (this.complete) { return this.reader.duration(); }
    var f = this.reader.frames;
    var t = f.length ? f[f.length - 1].time : 0;
    if (this.reader.audioRate > 0) {
      t = Math.min(t, this.reader.audioOrigin + this.reader.audioFrames * 1000 / this.reader.audioRate);
    }
    return t;
  };

  Player.prototype.duration = function () {
    if (!this.reader) { return 0; }
    var d = this.reader.duration();
    if (!this.complete && typeof this.reader.meta.duration === 'number') {
      d = Math.max(d, this.reader.meta.duration * 1000);
    }
    return d;
  };

  Player.prototype.showFallback = function (why, bytes, name) {
    this.pause();
    var o = this.options;
    var s;
    if (why === 'large') {
      s = 'This recording (' + megabytes(bytes) + ') is too large to play from this page directly; drop its FLV file below or choose it to play it here.';
    } else if (why === 'unreadable') {
      s = 'The file ' + name + ' is not a Flash Video this page can play; drop another FLV file below or choose one.';
    } else if (why === 'empty') {
      s = 'The recording beside this page holds no picture to play; drop another FLV file below or choose one.';
    } else if (why === 'damaged') {
      s = 'The recording\'s data beside this page is damaged; drop its FLV file below or choose it to play it here.';
    } else {
      s = 'The recording\'s data was not found beside this page; drop its FLV file below or choose it to play it here.';
    }
    this.sentence.textContent = s;
    if (o.videoPath) { this.sentence.title = o.videoPath; }
    if (o.thumbnailPath) {
      var img = this.thumbnail;
      img.onerror = function () { img.style.display = 'none'; };
      img.src = fileUrl(o.thumbnailPath);
      img.style.display = '';
    } else {
      this.thumbnail.style.display = 'none';
    }
    this.view.style.display = 'none';
    this.fallback.style.display = '';
  };

  // ---- picture ----

  // Shows frame n: decodes on from the frame shown when no keyframe lies between, else
  // from the keyframe at or before n.
  Player.prototype.showFrame = function (n) {
    var r = this.reader;
    if (!r || n < 0 || n >= r.frames.length || n === this.shown) { return; }
    var from;
    var key = r.lastKey[n];
    if (this.shown >= 0 && n > this.shown && key <= this.shown) {
      from = this.shown + 1;
    } else {
      from = key >= 0 ? key : 0;
    }
    for (var i = from; i <= n; i++) {
      var f = r.frames[i];
      try {
        this.video.decode(r.bytes, f.start, f.end);
      } catch (e) {
        // A damaged frame leaves what was decoded of it; the next keyframe mends it.
      }
    }
    this.shown = n;
    var v = this.video;
    if (!v.rgba) { return; }
    if (this.canvas.width !== v.width || this.canvas.height !== v.height) {
      this.canvas.width = v.width;
      this.canvas.height = v.height;
      this.image = null;
    }
    if (!this.image) { this.image = this.context.createImageData(v.width, v.height); }
    this.image.data.set(v.rgba);
    this.context.putImageData(this.image, 0, 0);
    this.loading.style.display = 'none';
  };

  // ---- clock and sound ----

  Player.prototype.clockTime = function () {
    if (!this.playing || this.waiting) { return this.time; }
    var now = this.usesSoundClock ? this.audio.currentTime * 1000 : performance.now();
    // The clock holds still for the lead before the first sound.
    return this.timeBase + Math.max(0, now - this.clockBase);
  };

  Player.prototype.startClock = function (t) {
    this.stopSound();
    this.queued = [];
    this.time = t;
    this.timeBase = t;
    var r = this.reader;
    var ctx = this.audio;
    this.usesSoundClock = !!(ctx && ctx.state === 'running' && r && r.audioRate > 0);
    if (this.usesSoundClock) {
      // A little lead so that the first buffer starts on time.
      this.clockBase = ctx.currentTime * 1000 + 50;
      this.nextSoundAt = this.clockBase / 1000;
      var s = r.soundFrameAt(t);
      if (s < 0) {
        this.nextSoundAt += -s / r.audioRate;
        s = 0;
      }
      this.nextSound = s;
      this.queueSound();
    } else {
      this.clockBase = performance.now();
    }
  };

  Player.prototype.stopSound = function () {
    for (var i = 0; i < this.sources.length; i++) {
      try { this.sources[i].stop(); } catch (e) { /* already ended */ }
      this.sources[i].disconnect();
    }
    this.sources = [];
  };

  Player.prototype.queueSound = function () {
    var ctx = this.audio;
    var r = this.reader;
    if (!this.usesSoundClock || this.waiting || !ctx || !r) { return; }
    var rate = r.audioRate;
    var ch = r.audioChannels;
    while (this.nextSoundAt < ctx.currentTime + SCHEDULE_AHEAD && this.nextSound < r.audioFrames) {
      var n = Math.min(Math.round(rate * SOUND_BLOCK), r.audioFrames - this.nextSound);
      var pcm = r.readSound(this.nextSound, this.nextSound + n);
      var buffer = ctx.createBuffer(ch, n, rate);
      for (var c = 0; c < ch; c++) {
        var data = buffer.getChannelData(c);
        for (var i = 0; i < n; i++) { data[i] = pcm[i * ch + c] / 32768; }
      }
      var source = ctx.createBufferSource();
      source.buffer = buffer;
      source.connect(ctx.destination);
      var self = this;
      source.onended = (function (src) {
        return function () {
          var k = self.sources.indexOf(src);
          if (k >= 0) { self.sources.splice(k, 1); }
        };
      })(source);
      source.start(Math.max(this.nextSoundAt, ctx.currentTime));
      this.sources.push(source);
      // What was queued where, for checks: the sample and its moment on the audio clock.
      this.queued.push({ sample: this.nextSound, at: this.nextSoundAt });
      if (this.queued.length > 64) { this.queued.shift(); }
      this.nextSound += n;
      this.nextSoundAt += n / rate;
    }
  };

  // ---- controls ----

  Player.prototype.play = function () {
    var self = this;
    if (!this.reader || this.reader.frames.length === 0 || this.playing) { return; }
    if (this.ended || this.time >= this.duration()) {
      this.ended = false;
      this.time = 0;
      this.showFrame(this.reader.frameAt(0));
    }
    if (!this.audio && this.reader.audioRate > 0) {
      var Context = window.AudioContext || window.webkitAudioContext;
      if (Context) {
        try {
          this.audio = new Context({ sampleRate: this.reader.audioRate });
        } catch (e) {
          try { this.audio = new Context(); } catch (e2) { this.audio = null; }
        }
      }
    }
    this.playing = true;
    this.waiting = false;
    if (this.audio && this.audio.state !== 'running') {
      this.audio.resume().then(function () {
        if (self.playing && !self.usesSoundClock) {
          var t = self.clockTime();
          self.startClock(t);
        }
      }, function () { /* the picture plays on its own clock */ });
    }
    this.startClock(this.time);
    this.requestFrame();
    this.showControls();
  };

  Player.prototype.pause = function () {
    if (!this.playing) { return; }
    this.time = Math.min(this.clockTime(), this.duration());
    this.playing = false;
    this.waiting = false;
    this.stopSound();
    if (this.reader) { this.showFrame(this.reader.frameAt(this.time)); }
    this.showControls();
  };

  Player.prototype.toggle = function () {
    if (this.playing) { this.pause(); } else { this.play(); }
  };

  // Moves to time t (ms): the frame at t is shown exactly; playing goes on from t.
  Player.prototype.seek = function (t) {
    if (!this.reader) { return; }
    var d = this.duration();
    t = Math.max(0, Math.min(t, d));
    this.ended = false;
    this.time = t;
    this.showFrame(this.reader.frameAt(t));
    if (this.playing) {
      if (t >= d) {
        this.finish();
      } else {
        this.startClock(t);
      }
    }
    this.showControls();
  };

  Player.prototype.finish = function () {
    this.time = this.duration();
    this.playing = false;
    this.waiting = false;
    this.ended = true;
    this.stopSound();
    this.showFrame(this.reader.frames.length - 1);
    this.showControls();
  };

  Player.prototype.requestFrame = function () {
    var self = this;
    if (this.frameRequested) { return; }
    this.frameRequested = true;
    requestAnimationFrame(function () {
      self.frameRequested = false;
      self.tick();
    });
  };

  Player.prototype.tick = function () {
    if (!this.playing || !this.reader) { return; }
    var t = this.clockTime();
    var d = this.duration();
    if (this.complete && t >= d) {
      this.finish();
      return;
    }
    if (!this.complete && !this.waiting && t > this.loadedTime()) {
      this.time = this.loadedTime();
      this.waiting = true;
      this.stopSound();
      t = this.time;
    }
    if (!this.dragging) { this.showFrame(this.reader.frameAt(t)); }
    this.queueSound();
    this.showControls();
    this.requestFrame();
  };

  Player.prototype.fractionAt = function (e) {
    var rect = this.track.getBoundingClientRect();
    return Math.max(0, Math.min(1, (e.clientX - rect.left) / rect.width));
  };

  Player.prototype.dragStart = function (e) {
    if (!this.reader || e.button !== 0) { return; }
    e.preventDefault();
    this.dragging = true;
    this.resumeAfterDrag = this.playing;
    if (this.playing) { this.pause(); }
    try { this.track.setPointerCapture(e.pointerId); } catch (err) { /* not captured */ }
    this.seek(this.fractionAt(e) * this.duration());
  };

  // While dragging, one seek per screen frame at most: a seek may decode many frames.
  Player.prototype.dragMove = function (e) {
    var self = this;
    if (!this.dragging) { return; }
    this.dragFraction = this.fractionAt(e);
    if (this.dragPending) { return; }
    this.dragPending = true;
    requestAnimationFrame(function () {
      self.dragPending = false;
      if (self.dragging) { self.seek(self.dragFraction * self.duration()); }
    });
  };

  Player.prototype.dragEnd = function (e) {
    if (!this.dragging) { return; }
    this.dragging = false;
    this.seek(this.fractionAt(e) * this.duration());
    if (this.resumeAfterDrag && this.time < this.duration()) { this.play(); }
  };

  Player.prototype.key = function (e) {
    var target = e.target && e.target.tagName;
    if (target === 'INPUT' || target === 'TEXTAREA' || target === 'SELECT') { return; }
    if (!this.reader || this.view.style.display === 'none') { return; }
    if (e.key === ' ' || e.key === 'Spacebar') {
      e.preventDefault();
      this.toggle();
    } else if (e.key === 'ArrowLeft') {
      e.preventDefault();
      this.seek(this.clockTime() - STEP_MS);
    } else if (e.key === 'ArrowRight') {
      e.preventDefault();
      this.seek(this.clockTime() + STEP_MS);
    }
  };

  Player.prototype.showControls = function () {
    var d = this.duration();
    var t = this.dragging ? this.time : this.clockTime();
    var f = d > 0 ? Math.max(0, Math.min(1, t / d)) : 0;
    this.playedPart.style.width = (f * 100) + '%';
    this.knob.style.left = (f * 100) + '%';
    var loaded = this.totalBytes > 0 ? this.loadedBytes / this.totalBytes : 0;
    this.loadedPart.style.width = (loaded * 100) + '%';
    var label = this.playing ? 'Pause' : (this.ended ? 'Play again' : 'Play');
    if (this.playButton.title !== label) {
      this.playButton.title = label;
      this.playButton.innerHTML = this.playing ? ICONS.pause : ICONS.play;
    }
    var text = clock(t) + ' / ' + clock(d);
    if (this.reader && !this.complete) {
      text += ' (loading ' + Math.floor(loaded * 100) + '%)';
    }
    if (this.waiting) { text += ' waiting for data'; }
    if (this.clockText.textContent !== text) { this.clockText.textContent = text; }
    var ready = this.reader && this.reader.frames.length > 0;
    this.bigPlay.style.display = ready && !this.playing && (this.time === 0 || this.ended) ? '' : 'none';
    this.view.className = 'pemlo-view' + (this.playing ? ' pemlo-playing' : '') + (ready ? '' : ' pemlo-not-ready');
  };

  Player.prototype.state = function () {
    return {
      playing: this.playing,
      waiting: this.waiting,
      ended: this.ended,
      complete: this.complete,
      time: this.clockTime(),
      duration: this.duration(),
      frame: this.shown,
      frames: this.reader ? this.reader.frames.length : 0,
      soundClock: this.usesSoundClock,
      audioState: this.audio ? this.audio.state : 'none',
      fallback: this.fallback.style.display !== 'none'
    };
  };

  // The sound queued since the clock last started, each buffer with the media time its
  // first sample belongs to and the clock's media time at the moment it plays.
  Player.prototype.soundQueue = function () {
    var r = this.reader;
    var self = this;
    return this.queued.map(function (q) {
      return {
        sample: q.sample,
        sampleTime: r.audioOrigin + q.sample * 1000 / r.audioRate,
        clockTime: self.timeBase + (q.at * 1000 - self.clockBase)
      };
    });
  };

  Player.prototype.readSound = function (from, to) {
    return this.reader ? this.reader.readSound(from, to) : new Int16Array(0);
  };

  // Whether a plug-in that plays the movie is there.
  function hasFlash() {
    var types = navigator.mimeTypes;
    var t = types && types['application/x-shockwave-flash'];
    return !!(t && t.enabledPlugin);
  }

  // Starts the player in place of the movie's object unless a plug-in plays it. When an
  // emulator later replaces the object with its own element, the player steps aside.
  Pemlo.startPlayer = function (options) {
    var flash = document.getElementById('pemlo-flash');
    var box = document.getElementById('pemlo-player');
    if (!flash || !box || hasFlash()) {
      document.documentElement.className = document.documentElement.className.replace(/\s*pemlo-no-flash/g, '');
      Pemlo.saveNotOffered(FLASH_PLAYS);
      return null;
    }
    var player = new Player(box, options);
    window.pemloPlayer = player;
    var saveBox = document.getElementById('pemlo-save');
    if (saveBox) {
      var saver = new Pemlo.Saver(saveBox, player, options);
      window.pemloSaver = saver;
      player.onChange = function () { saver.update(); };
    }
    var watch = function () {
      if (flash.querySelector('ruffle-object, ruffle-embed, ruffle-player')) {
        player.onChange = null;
        Pemlo.saveNotOffered(FLASH_PLAYS);
        player.pause();
        player.view.style.display = 'none';
        player.fallback.style.display = 'none';
        document.documentElement.className = document.documentElement.className.replace(/\s*pemlo-no-flash/g, '');
        return true;
      }
      return false;
    };
    if (!watch() && window.MutationObserver) {
      var observer = new MutationObserver(function () {
        if (watch()) { observer.disconnect(); }
      });
      observer.observe(flash, { childList: true, subtree: true });
    }
    player.loadScripts();
    return player;
  };

  Pemlo.fileUrl = fileUrl;
  Pemlo.Player = Player;
})();
