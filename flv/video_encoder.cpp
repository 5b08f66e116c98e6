#include "flv/video_encoder.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>

#include "platform/byte_order.h"

namespace pemlo {

namespace {

constexpr int blockSize = videoBlockSize;
constexpr int keyframeInterval = 40;  // frames
constexpr uint32_t blockBytes = blockSize * blockSize * 3;
// zlib's documented bound for compress(): source + 0.1 % + 12 bytes.
const auto compressedCapacity = static_cast<uint32_t>(static_cast<double>(blockBytes) * 1.001 + 12);
// The compressed block rows of a frame are kept until they are written in order; a
// frame larger than this goes in several windows of block rows, so that the memory
// stays bounded whatever the frame size (at most 10 rows of 128 blocks).
constexpr size_t windowBytes = size_t{4} << 20;

// ceil(size / 32), formed as a double and raised when it has a fractional part.
uint32_t blocksFor(int size) {
    return static_cast<uint32_t>(std::ceil(static_cast<double>(size) / blockSize));
}

// zlib's deflate state and a block's pixels for one thread, kept from block to block so
// that compressing a block allocates nothing.
struct BlockCompressor {
    z_stream stream{};
    bool ready = false;
    uint8_t block[blockBytes];

    BlockCompressor() = default;
    BlockCompressor(const BlockCompressor&) = delete;
    BlockCompressor& operator=(const BlockCompressor&) = delete;
    ~BlockCompressor() {
        if (ready) {
            deflateEnd(&stream);
        }
    }
};

}  // namespace

struct ScreenVideoEncoderState {
    int width = 0;
    int height = 0;
    uint32_t blockColumns = 0;
    uint32_t blockRows = 0;
    uint32_t keyframeCounter = 0;              // 0: the next frame is a keyframe
    std::unique_ptr<uint8_t[]> changeMap;      // blockColumns x blockRows
    std::unique_ptr<uint8_t[]> previousFrame;  // last frame encoded, packed BGR
    BlockWorkers* workers = nullptr;
    unsigned threads = 1;
    std::unique_ptr<BlockCompressor[]> compressors;  // one per thread
    // One window of compressed block rows, each row's entries (u16 size, data) at
    // rowStride bytes from the one before.
    size_t rowStride = 0;
    uint32_t windowRows = 0;
    std::unique_ptr<uint8_t[]> window;
    std::unique_ptr<uint32_t[]> rowLengths;
};

void ScreenVideoEncoderStateDeleter::operator()(ScreenVideoEncoderState* state) const {
    delete state;  // NOLINT(cppcoreguidelines-owning-memory)
}

int videoEncoderBegin(ScreenVideoEncoder& e, int width, int height, BlockWorkers* workers) {
    e.state.reset();
    if (width < 1 || width > maxFrameSide || height < 1 || height > maxFrameSide) {
        return 0;
    }
    std::unique_ptr<ScreenVideoEncoderState, ScreenVideoEncoderStateDeleter> s(
        new (std::nothrow) ScreenVideoEncoderState);
    if (!s) {
        return 0;
    }
    s->width = width;
    s->height = height;
    s->blockColumns = blocksFor(width);
    s->blockRows = blocksFor(height);
    s->workers = workers;
    s->threads = workers != nullptr ? std::max(1u, workers->threadCount()) : 1u;
    s->rowStride = size_t{s->blockColumns} * (2 + compressedCapacity);
    s->windowRows =
        static_cast<uint32_t>(std::clamp<size_t>(windowBytes / s->rowStride, 1, s->blockRows));
    const size_t frameBytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
    s->changeMap.reset(new (std::nothrow) uint8_t[size_t{s->blockColumns} * s->blockRows]());
    s->previousFrame.reset(new (std::nothrow) uint8_t[frameBytes]());
    s->compressors.reset(new (std::nothrow) BlockCompressor[s->threads]);
    s->window.reset(new (std::nothrow) uint8_t[s->rowStride * s->windowRows]);
    s->rowLengths.reset(new (std::nothrow) uint32_t[s->windowRows]);
    if (!s->changeMap || !s->previousFrame || !s->compressors || !s->window || !s->rowLengths) {
        return 0;
    }
    for (unsigned i = 0; i < s->threads; ++i) {
        BlockCompressor& c = s->compressors[i];
        c.ready = deflateInit(&c.stream, Z_DEFAULT_COMPRESSION) == Z_OK;
        if (!c.ready) {
            return 0;
        }
    }
    e.state = std::move(s);
    return 1;
}

namespace {

using State = ScreenVideoEncoderState;

// Marks the blocks of block row `r` in which at least one byte differs from the
// previous frame; only the candidate blocks (all when null) are looked at.
void markChangedBlocks(State& s, const uint8_t* pixels, const uint8_t* candidates, uint32_t r) {
    const size_t rowBytes = static_cast<size_t>(s.width) * 3;
    const size_t spanBytes = blockSize * 3;
    const size_t blockRow = size_t{r} * s.blockColumns;
    const uint8_t* maybe = candidates != nullptr ? candidates + blockRow : nullptr;
    if (maybe != nullptr && std::find_if(maybe, maybe + s.blockColumns, [](uint8_t m) {
                                return m != 0;
                            }) == maybe + s.blockColumns) {
        return;  // no candidate in this block row
    }
    uint8_t* marks = s.changeMap.get() + blockRow;
    const uint32_t firstY = r * blockSize;
    const uint32_t endY = std::min<uint32_t>(firstY + blockSize, static_cast<uint32_t>(s.height));
    for (uint32_t y = firstY; y < endY; ++y) {
        const uint8_t* now = pixels + y * rowBytes;
        const uint8_t* before = s.previousFrame.get() + y * rowBytes;
        for (uint32_t c = 0; c < s.blockColumns; ++c) {
            if (marks[c] || (maybe != nullptr && maybe[c] == 0)) {
                continue;
            }
            const size_t at = c * spanBytes;
            const size_t n = std::min(spanBytes, rowBytes - at);
            if (std::memcmp(now + at, before + at, n) != 0) {
                marks[c] = 1;
            }
        }
    }
}

// Copies block (r, c) into the compressor's block buffer; returns its byte count.
uint32_t extractBlock(const State& s, BlockCompressor& k, const uint8_t* pixels, uint32_t r,
                      uint32_t c) {
    const uint32_t x = c * blockSize;
    const uint32_t y = r * blockSize;
    const uint32_t bw = std::min<uint32_t>(blockSize, static_cast<uint32_t>(s.width) - x);
    const uint32_t bh = std::min<uint32_t>(blockSize, static_cast<uint32_t>(s.height) - y);
    const size_t rowBytes = static_cast<size_t>(s.width) * 3;
    for (uint32_t i = 0; i < bh; ++i) {
        std::memcpy(k.block + static_cast<size_t>(i) * bw * 3,
                    pixels + (y + i) * rowBytes + static_cast<size_t>(x) * 3, bw * 3);
    }
    return bw * bh * 3;
}

// Compresses block (r, c) to `out` (room for compressedCapacity bytes); 0 when zlib
// fails. The same zlib stream as compress() at the default level gives, without setting
// up and tearing down the deflate state for every block.
int compressBlock(const State& s, BlockCompressor& k, const uint8_t* pixels, uint32_t r, uint32_t c,
                  uint8_t* out, uint32_t& size) {
    const uint32_t raw = extractBlock(s, k, pixels, r, c);
    z_stream& z = k.stream;
    if (deflateReset(&z) != Z_OK) {
        return 0;
    }
    z.next_in = k.block;
    z.avail_in = raw;
    z.next_out = out;
    z.avail_out = compressedCapacity;
    if (deflate(&z, Z_FINISH) != Z_STREAM_END || z.total_out > 0xFFFF) {
        return 0;
    }
    size = static_cast<uint32_t>(z.total_out);
    return 1;
}

// One window of block rows, compressed by every thread at once: each thread takes the
// next row not yet taken until none is left.
struct WindowJob {
    State* state = nullptr;
    const uint8_t* pixels = nullptr;
    const uint8_t* candidates = nullptr;
    bool keyframe = false;
    uint32_t firstRow = 0;
    uint32_t rowCount = 0;
    std::atomic<unsigned> nextThread{0};
    std::atomic<uint32_t> nextRow{0};
    std::atomic<int> failed{0};
};

// Writes block row `r`'s entries into its place in the window: an empty entry (two zero
// bytes) for an unchanged block of an inter frame, else the size and the zlib data.
int compressRow(State& s, BlockCompressor& k, const WindowJob& job, uint32_t r) {
    if (!job.keyframe) {
        markChangedBlocks(s, job.pixels, job.candidates, r);
    }
    const uint32_t slot = r - job.firstRow;
    uint8_t* const start = s.window.get() + slot * s.rowStride;
    uint8_t* out = start;
    const uint8_t* marks = s.changeMap.get() + size_t{r} * s.blockColumns;
    for (uint32_t c = 0; c < s.blockColumns; ++c) {
        uint32_t length = 0;
        if ((job.keyframe || marks[c] != 0) &&
            !compressBlock(s, k, job.pixels, r, c, out + 2, length)) {
            return 0;
        }
        putBe16(out, static_cast<uint16_t>(length));
        out += 2 + length;
    }
    s.rowLengths[slot] = static_cast<uint32_t>(out - start);
    return 1;
}

void windowTask(void* context) {
    auto& job = *static_cast<WindowJob*>(context);
    State& s = *job.state;
    const unsigned thread = job.nextThread.fetch_add(1, std::memory_order_relaxed);
    if (thread >= s.threads) {
        return;  // more calls than compressors: the others do the rows
    }
    BlockCompressor& k = s.compressors[thread];
    for (;;) {
        const uint32_t i = job.nextRow.fetch_add(1, std::memory_order_relaxed);
        if (i >= job.rowCount || job.failed.load(std::memory_order_relaxed) != 0) {
            return;
        }
        if (!compressRow(s, k, job, job.firstRow + i)) {
            job.failed.store(1, std::memory_order_relaxed);
        }
    }
}

// Compresses block rows firstRow.. of the window (as many as it holds); returns the
// number of rows done, or 0 when zlib failed.
uint32_t compressWindow(State& s, const uint8_t* pixels, const uint8_t* candidates, bool keyframe,
                        uint32_t firstRow) {
    WindowJob job;
    job.state = &s;
    job.pixels = pixels;
    job.candidates = candidates;
    job.keyframe = keyframe;
    job.firstRow = firstRow;
    job.rowCount = std::min(s.windowRows, s.blockRows - firstRow);
    if (s.workers != nullptr && s.threads > 1 && job.rowCount > 1) {
        s.workers->runOnAll(&windowTask, &job);
    } else {
        job.nextThread.store(0, std::memory_order_relaxed);
        windowTask(&job);
    }
    return job.failed.load(std::memory_order_relaxed) != 0 ? 0 : job.rowCount;
}

// Only frames of several megapixels can reach the 24-bit limit: for those the blocks
// are compressed once beforehand to learn the tag's size. Returns 0 when it would not
// fit or zlib fails.
int tagFits(State& s, const uint8_t* pixels, const uint8_t* candidates, bool keyframe) {
    const uint64_t blocks = uint64_t{s.blockColumns} * s.blockRows;
    uint64_t size = 5;
    if (size + blocks * (2 + compressedCapacity) <= maxTagDataSize) {
        return 1;
    }
    for (uint32_t r = 0; r < s.blockRows;) {
        const uint32_t done = compressWindow(s, pixels, candidates, keyframe, r);
        if (done == 0) {
            return 0;
        }
        for (uint32_t i = 0; i < done; ++i) {
            size += s.rowLengths[i];
        }
        if (size > maxTagDataSize) {
            return 0;
        }
        r += done;
    }
    return 1;
}

// Copies the frame into the previous frame, only the candidate blocks when given.
void keepFrame(State& s, const uint8_t* pixels, const uint8_t* candidates) {
    const size_t rowBytes = static_cast<size_t>(s.width) * 3;
    if (candidates == nullptr) {
        std::memcpy(s.previousFrame.get(), pixels, rowBytes * static_cast<size_t>(s.height));
        return;
    }
    for (uint32_t r = 0; r < s.blockRows; ++r) {
        const uint8_t* maybe = candidates + static_cast<size_t>(r) * s.blockColumns;
        const uint32_t firstRow = r * blockSize;
        const uint32_t endRow =
            std::min<uint32_t>(firstRow + blockSize, static_cast<uint32_t>(s.height));
        for (uint32_t c = 0; c < s.blockColumns;) {
            if (maybe[c] == 0) {
                ++c;
                continue;
            }
            uint32_t end = c + 1;
            while (end < s.blockColumns && maybe[end] != 0) {
                ++end;
            }
            const size_t from = static_cast<size_t>(c) * blockSize * 3;
            const size_t to = std::min(static_cast<size_t>(end) * blockSize * 3, rowBytes);
            for (uint32_t y = firstRow; y < endRow; ++y) {
                std::memcpy(s.previousFrame.get() + y * rowBytes + from,
                            pixels + y * rowBytes + from, to - from);
            }
            c = end;
        }
    }
}

}  // namespace

int flvWriteVideoTag(FlvWriter& w, ScreenVideoEncoder& e, File& file, const uint8_t* pixels,
                     int width, int height, uint16_t durationMs) {
    return flvWriteVideoTagChanged(w, e, file, pixels, width, height, durationMs, nullptr);
}

int flvWriteVideoTagChanged(FlvWriter& w, ScreenVideoEncoder& e, File& file, const uint8_t* pixels,
                            int width, int height, uint16_t durationMs, const uint8_t* candidates) {
    if (w.failed || !e.state || pixels == nullptr || width != e.state->width ||
        height != e.state->height) {
        return 0;
    }
    State& s = *e.state;
    const bool keyframe = s.keyframeCounter == 0;
    const size_t blocks = size_t{s.blockColumns} * s.blockRows;
    if (!tagFits(s, pixels, candidates, keyframe)) {
        std::memset(s.changeMap.get(), 0, blocks);
        return 0;
    }

    uint8_t lead[16];
    flvFillTagHeader(lead, tagTypeVideo, flvVideoTimestamp(w));
    lead[11] = static_cast<uint8_t>(((keyframe ? 1 : 2) << 4) | videoCodecId);
    lead[12] = static_cast<uint8_t>((1 << 4) | ((width >> 8) & 0x0F));
    lead[13] = static_cast<uint8_t>(width & 0xFF);
    lead[14] = static_cast<uint8_t>((1 << 4) | ((height >> 8) & 0x0F));
    lead[15] = static_cast<uint8_t>(height & 0xFF);
    uint64_t tagStart = 0;
    int ok = flvOpenTag(w, file, lead, sizeof lead, tagStart);
    for (uint32_t r = 0; ok && r < s.blockRows;) {
        const uint32_t done = compressWindow(s, pixels, candidates, keyframe, r);
        if (done == 0) {
            w.failed = 1;
            ok = 0;
        }
        for (uint32_t i = 0; ok && i < done; ++i) {
            ok = flvWriteAll(w, file, s.window.get() + i * s.rowStride, s.rowLengths[i]);
        }
        r += done;
    }
    ok = ok && flvCloseTag(w, file, tagTypeVideo, tagStart);
    std::memset(s.changeMap.get(), 0, blocks);
    if (!ok) {
        return 0;
    }
    keepFrame(s, pixels, candidates);
    s.keyframeCounter = (s.keyframeCounter + 1) % keyframeInterval;
    flvNoteVideoTag(w, keyframe, durationMs);
    return 1;
}

}  // namespace pemlo
