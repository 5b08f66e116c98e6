#include "flv/video_encoder.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace pemlo {

struct BlockCompressor {
    z_stream stream{};
};

void BlockCompressorDeleter::operator()(BlockCompressor* compressor) const {
    deflateEnd(&compressor->stream);
    delete compressor;  // NOLINT(cppcoreguidelines-owning-memory)
}

std::unique_ptr<BlockCompressor, BlockCompressorDeleter> createBlockCompressor() {
    std::unique_ptr<BlockCompressor, BlockCompressorDeleter> c(new (std::nothrow) BlockCompressor);
    if (c && deflateInit(&c->stream, Z_DEFAULT_COMPRESSION) != Z_OK) {
        // Nothing to end: release the record alone.
        delete c.release();
    }
    return c;
}

namespace {

// Marks every block in which at least one byte differs from the previous frame; only
// the candidate blocks (all when null) are looked at.
void markChangedBlocks(FlvWriter& w, const uint8_t* pixels, const uint8_t* candidates) {
    const size_t rowBytes = static_cast<size_t>(w.frameWidth) * 3;
    const size_t spanBytes = blockSize * 3;
    for (int y = 0; y < w.frameHeight; ++y) {
        const size_t blockRow = static_cast<size_t>(y / blockSize) * w.blockColumns;
        const uint8_t* maybe = candidates != nullptr ? candidates + blockRow : nullptr;
        if (maybe != nullptr && y % blockSize == 0 &&
            std::find_if(maybe, maybe + w.blockColumns, [](uint8_t m) { return m != 0; }) ==
                maybe + w.blockColumns) {
            y += blockSize - 1;  // no candidate in this block row
            continue;
        }
        const uint8_t* now = pixels + static_cast<size_t>(y) * rowBytes;
        const uint8_t* before = w.previousFrame.get() + static_cast<size_t>(y) * rowBytes;
        uint8_t* marks = w.changeMap.get() + blockRow;
        for (uint32_t c = 0; c < w.blockColumns; ++c) {
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

// Copies block (r, c) into the block buffer; returns its byte count.
uint32_t extractBlock(FlvWriter& w, const uint8_t* pixels, uint32_t r, uint32_t c) {
    const uint32_t x = c * blockSize;
    const uint32_t y = r * blockSize;
    const uint32_t bw = std::min<uint32_t>(blockSize, static_cast<uint32_t>(w.frameWidth) - x);
    const uint32_t bh = std::min<uint32_t>(blockSize, static_cast<uint32_t>(w.frameHeight) - y);
    const size_t rowBytes = static_cast<size_t>(w.frameWidth) * 3;
    for (uint32_t i = 0; i < bh; ++i) {
        std::memcpy(w.blockBuffer.get() + static_cast<size_t>(i) * bw * 3,
                    pixels + (y + i) * rowBytes + static_cast<size_t>(x) * 3, bw * 3);
    }
    return bw * bh * 3;
}

// Compresses block (r, c) into the compressed buffer; 0 when zlib fails.
int compressBlock(FlvWriter& w, const uint8_t* pixels, uint32_t r, uint32_t c, uint32_t& size) {
    // The same zlib stream as compress() at the default level gives, without setting
    // up and tearing down the deflate state for every block.
    const uint32_t raw = extractBlock(w, pixels, r, c);
    z_stream& s = w.compressor->stream;
    if (deflateReset(&s) != Z_OK) {
        return 0;
    }
    s.next_in = w.blockBuffer.get();
    s.avail_in = raw;
    s.next_out = w.compressedBuffer.get();
    s.avail_out = w.compressedCapacity;
    if (deflate(&s, Z_FINISH) != Z_STREAM_END || s.total_out > 0xFFFF) {
        return 0;
    }
    size = static_cast<uint32_t>(s.total_out);
    return 1;
}

bool blockSent(const FlvWriter& w, bool keyframe, size_t index) {
    return keyframe || w.changeMap[index] != 0;
}

// Only frames of several megapixels can reach the 24-bit limit: for those the blocks
// are compressed once beforehand to learn the tag's size. Returns 0 when it would not
// fit or zlib fails.
int tagFits(FlvWriter& w, const uint8_t* pixels, bool keyframe) {
    const uint64_t blocks = static_cast<uint64_t>(w.blockColumns) * w.blockRows;
    uint64_t size = 5 + 2 * blocks;
    if (size + blocks * w.compressedCapacity <= maxTagDataSize) {
        return 1;
    }
    for (uint32_t r = 0; r < w.blockRows; ++r) {
        for (uint32_t c = 0; c < w.blockColumns; ++c) {
            if (!blockSent(w, keyframe, static_cast<size_t>(r) * w.blockColumns + c)) {
                continue;
            }
            uint32_t length = 0;
            if (!compressBlock(w, pixels, r, c, length)) {
                return 0;
            }
            size += length;
            if (size > maxTagDataSize) {
                return 0;
            }
        }
    }
    return 1;
}

// Writes `count` empty block entries (two zero bytes each).
int writeEmptyEntries(FlvWriter& w, File& file, uint32_t count) {
    static const uint8_t zeros[1024] = {};
    while (count > 0) {
        const uint32_t n = std::min<uint32_t>(count, sizeof zeros / 2);
        if (!flvWriteAll(w, file, zeros, n * 2)) {
            return 0;
        }
        count -= n;
    }
    return 1;
}

// Copies the frame into the previous frame, only the candidate blocks when given.
void keepFrame(FlvWriter& w, const uint8_t* pixels, const uint8_t* candidates) {
    const size_t rowBytes = static_cast<size_t>(w.frameWidth) * 3;
    if (candidates == nullptr) {
        std::memcpy(w.previousFrame.get(), pixels, rowBytes * static_cast<size_t>(w.frameHeight));
        return;
    }
    for (uint32_t r = 0; r < w.blockRows; ++r) {
        const uint8_t* maybe = candidates + static_cast<size_t>(r) * w.blockColumns;
        const uint32_t firstRow = r * blockSize;
        const uint32_t endRow =
            std::min<uint32_t>(firstRow + blockSize, static_cast<uint32_t>(w.frameHeight));
        for (uint32_t c = 0; c < w.blockColumns;) {
            if (maybe[c] == 0) {
                ++c;
                continue;
            }
            uint32_t end = c + 1;
            while (end < w.blockColumns && maybe[end] != 0) {
                ++end;
            }
            const size_t from = static_cast<size_t>(c) * blockSize * 3;
            const size_t to = std::min(static_cast<size_t>(end) * blockSize * 3, rowBytes);
            for (uint32_t y = firstRow; y < endRow; ++y) {
                std::memcpy(w.previousFrame.get() + y * rowBytes + from,
                            pixels + y * rowBytes + from, to - from);
            }
            c = end;
        }
    }
}

}  // namespace

int flvWriteVideoTag(FlvWriter& w, File& file, const uint8_t* pixels, int width, int height,
                     uint16_t durationMs) {
    return flvWriteVideoTagChanged(w, file, pixels, width, height, durationMs, nullptr);
}

int flvWriteVideoTagChanged(FlvWriter& w, File& file, const uint8_t* pixels, int width, int height,
                            uint16_t durationMs, const uint8_t* candidates) {
    if (w.failed || !w.previousFrame || !w.compressor || pixels == nullptr ||
        width != w.frameWidth || height != w.frameHeight) {
        return 0;
    }
    const bool keyframe = w.keyframeCounter == 0;
    const size_t blocks = static_cast<size_t>(w.blockColumns) * w.blockRows;
    if (!keyframe) {
        markChangedBlocks(w, pixels, candidates);
    }
    if (!tagFits(w, pixels, keyframe)) {
        std::memset(w.changeMap.get(), 0, blocks);
        return 0;
    }

    uint8_t lead[16];
    flvFillTagHeader(lead, tagTypeVideo, w.videoTimestamp);
    lead[11] = static_cast<uint8_t>(((keyframe ? 1 : 2) << 4) | videoCodecId);
    lead[12] = static_cast<uint8_t>((1 << 4) | ((width >> 8) & 0x0F));
    lead[13] = static_cast<uint8_t>(width & 0xFF);
    lead[14] = static_cast<uint8_t>((1 << 4) | ((height >> 8) & 0x0F));
    lead[15] = static_cast<uint8_t>(height & 0xFF);
    uint64_t tagStart = 0;
    int ok = flvOpenTag(w, file, lead, sizeof lead, tagStart);

    uint32_t pendingEmpty = 0;
    for (uint32_t r = 0; ok && r < w.blockRows; ++r) {
        for (uint32_t c = 0; ok && c < w.blockColumns; ++c) {
            if (!blockSent(w, keyframe, static_cast<size_t>(r) * w.blockColumns + c)) {
                ++pendingEmpty;
                continue;
            }
            ok = writeEmptyEntries(w, file, pendingEmpty);
            pendingEmpty = 0;
            uint32_t length = 0;
            if (ok && !compressBlock(w, pixels, r, c, length)) {
                w.failed = 1;
                ok = 0;
            }
            const uint8_t size[2] = {static_cast<uint8_t>(length >> 8),
                                     static_cast<uint8_t>(length)};
            ok = ok && flvWriteAll(w, file, size, 2) &&
                 flvWriteAll(w, file, w.compressedBuffer.get(), length);
        }
    }
    ok = ok && writeEmptyEntries(w, file, pendingEmpty) &&
         flvCloseTag(w, file, tagTypeVideo, tagStart);
    std::memset(w.changeMap.get(), 0, blocks);
    if (!ok) {
        return 0;
    }
    keepFrame(w, pixels, candidates);
    if (keyframe) {
        w.lastKeyframeTimestamp = w.videoTimestamp;
    }
    w.keyframeCounter = (w.keyframeCounter + 1) % keyframeInterval;
    w.videoTimestamp += durationMs;
    return 1;
}

}  // namespace pemlo
