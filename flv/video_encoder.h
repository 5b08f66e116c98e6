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

}  // namespace pemlo
