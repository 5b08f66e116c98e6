// Screen Video (FLV video codec 3): a frame is a grid of blocks, each one zlib stream of
// BGR pixels; the grid and each block's rows run bottom-up. An inter frame carries only
// the blocks that changed (size 0 for the others). Frames are drawn into a top-down RGBA
// picture ready for a canvas.
var Pemlo = Pemlo || {};
(function () {
  'use strict';

  function ScreenVideo() {
    this.width = 0;
    this.height = 0;
    this.rgba = null;  // Uint8ClampedArray, width x height x 4
    // What the last decode changed, top-down: [x, y, w, h] per block, or null when the
    // whole picture is new (its size changed).
    this.changed = null;
    this.block = new Uint8Array(256 * 256 * 3);
  }

  // Decodes the packet in data[start, end) (after the FLV frame-type byte) over the
  // picture left by the frame before. Throws on damaged data; the blocks decoded before
  // the damage stay in the picture.
  ScreenVideo.prototype.decode = function (data, start, end) {
    if (end - start < 4) { throw new Error('screen video: header missing'); }
    var blockW = ((data[start] >> 4) + 1) * 16;
    var width = ((data[start] & 15) << 8) | data[start + 1];
    var blockH = ((data[start + 2] >> 4) + 1) * 16;
    var height = ((data[start + 2] & 15) << 8) | data[start + 3];
    if (width === 0 || height === 0) { throw new Error('screen video: empty picture'); }
    if (width !== this.width || height !== this.height) {
      this.width = width;
      this.height = height;
      this.rgba = new Uint8ClampedArray(width * height * 4);
      for (var a = 3; a < this.rgba.length; a += 4) { this.rgba[a] = 255; }
      this.changed = null;
    } else {
      this.changed = [];
    }
    var changed = this.changed;
    var rgba = this.rgba;
    var block = this.block;
    var pos = start + 4;
    var cols = Math.ceil(width / blockW);
    var rows = Math.ceil(height / blockH);
    for (var j = 0; j < rows; j++) {
      var y0 = j * blockH;
      var bh = Math.min(blockH, height - y0);
      for (var i = 0; i < cols; i++) {
        if (pos + 2 > end) { throw new Error('screen video: block sizes missing'); }
        var size = (data[pos] << 8) | data[pos + 1];
        pos += 2;
        if (size === 0) { continue; }
        if (pos + size > end) { throw new Error('screen video: block past the tag'); }
        var x0 = i * blockW;
        var bw = Math.min(blockW, width - x0);
        var want = bw * bh * 3;
        if (Pemlo.inflate(data, pos, pos + size, block) !== want) {
          throw new Error('screen video: block of the wrong size');
        }
        pos += size;
        if (changed) { changed.push([x0, height - y0 - bh, bw, bh]); }
        var s = 0;
        for (var k = 0; k < bh; k++) {
          var d = ((height - 1 - y0 - k) * width + x0) * 4;
          for (var x = 0; x < bw; x++, s += 3, d += 4) {
            rgba[d] = block[s + 2];
            rgba[d + 1] = block[s + 1];
            rgba[d + 2] = block[s];
          }
        }
      }
    }
  };

  Pemlo.ScreenVideo = ScreenVideo;
})();
