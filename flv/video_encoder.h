// Screen Video (FLV codec 3): one video tag per frame, 32 x 32 blocks, each block its
// own zlib stream; a keyframe every 40 frames, unchanged blocks skipped in between.
#pragma once

#include <cstdint>

#include "flv/flv_writer.h"

namespace pemlo {

// `pixels` is a packed BGR frame (bottom-up rows of width x 3 bytes) of the size given
// to flvBegin. Fails (0) without writing when the size differs or the tag data would
// not fit the 24-bit size field, and on a short write or a compression failure.
int flvWriteVideoTag(FlvWriter& w, File& file, const uint8_t* pixels, int width, int height,
                     uint16_t durationMs);

// The same tag, told which blocks may differ from the frame of the previous call:
// `candidates` holds one byte per block (block rows from the bottom of the picture, each
// left to right). A block marked 0 must equal that block of the previous frame byte for
// byte; it is then neither compared nor copied. Null marks every block, as the first
// frame must. The tag's bytes are those flvWriteVideoTag writes.
int flvWriteVideoTagChanged(FlvWriter& w, File& file, const uint8_t* pixels, int width, int height,
                            uint16_t durationMs, const uint8_t* candidates);

}  // namespace pemlo
