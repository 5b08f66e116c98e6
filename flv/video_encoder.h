// Screen Video (FLV codec 3): one video tag per frame, 32 x 32 blocks, each block its
// own zlib stream; a keyframe every 40 frames, unchanged blocks skipped in between.
//
// The encoder keeps what one output file's frames need from frame to frame: the frame
// before (to find the changed blocks), the keyframe count and one zlib state per
// thread. The FLV container (flv_writer.h) knows only tags and metadata; the encoder
// hands it each finished tag. The blocks of a frame are independent, so the encoder
// compresses them on every thread the caller lends it (BlockWorkers) and writes them in
// grid order: the bytes are the same whatever the number of threads.
#pragma once

#include <cstdint>
#include <memory>

#include "flv/flv_writer.h"

namespace pemlo {

inline constexpr int videoBlockSize = 32;  // pixels per block side

// Threads that the encoder may borrow while it compresses one frame.
class BlockWorkers {
  public:
    using Task = void (*)(void* context);
    // The threads that run a task, the caller's own included; at least 1.
    virtual unsigned threadCount() const = 0;
    // Calls task(context) threadCount() times, at once on as many of the threads as are
    // free (the calling thread among them; a thread may take more than one call), and
    // returns when every call has returned.
    virtual void runOnAll(Task task, void* context) = 0;

  protected:
    ~BlockWorkers() = default;
};

struct ScreenVideoEncoderState;
struct ScreenVideoEncoderStateDeleter {
    void operator()(ScreenVideoEncoderState* state) const;
};

// One output file's Screen Video encoder. Use it through the functions below.
struct ScreenVideoEncoder {
    std::unique_ptr<ScreenVideoEncoderState, ScreenVideoEncoderStateDeleter> state;
};

// Sets the encoder up for frames of width x height (1..4095 each), compressing on the
// threads of `workers` (null: on the calling thread alone; the workers must outlive
// the encoder's use). Returns 1, or 0 for a size outside the fields or when memory
// runs out (the encoder then refuses every frame).
int videoEncoderBegin(ScreenVideoEncoder& e, int width, int height, BlockWorkers* workers);

// `pixels` is a packed BGR frame (bottom-up rows of width x 3 bytes) of the size given
// to videoEncoderBegin. Fails (0) without writing when the size differs or the tag data
// would not fit the 24-bit size field, and on a short write or a compression failure.
int flvWriteVideoTag(FlvWriter& w, ScreenVideoEncoder& e, File& file, const uint8_t* pixels,
                     int width, int height, uint16_t durationMs);

// The same tag, told which blocks may differ from the frame of the previous call:
// `candidates` holds one byte per block (block rows from the bottom of the picture, each
// left to right). A block marked 0 must equal that block of the previous frame byte for
// byte; it is then neither compared nor copied. Null marks every block, as the first
// frame must. The tag's bytes are those flvWriteVideoTag writes.
int flvWriteVideoTagChanged(FlvWriter& w, ScreenVideoEncoder& e, File& file, const uint8_t* pixels,
                            int width, int height, uint16_t durationMs, const uint8_t* candidates);

}  // namespace pemlo
