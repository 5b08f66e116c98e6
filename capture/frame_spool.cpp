// The frame spool: recording appends zlib blocks to the spool file and one FrameRecord
// per frame to the in-memory index; reading replays them in order and checks every
// block (count read, zlib result and inflated length).
#include "capture/frame_spool.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <limits>

namespace pemlo {
namespace {

// Grows a malloc'ed buffer to at least `size` bytes; on failure the old buffer stays.
bool growBuffer(unsigned char*& buffer, uint32_t& capacity, uint32_t size) {
    if (capacity >= size && buffer != nullptr) {
        return true;
    }
    void* grown = std::realloc(buffer, size == 0 ? 1 : size);
    if (grown == nullptr) {
        return false;
    }
    buffer = static_cast<unsigned char*>(grown);
    capacity = size;
    return true;
}

bool growIndex(FrameSpool& spool, int32_t records) {
    if (spool.indexCapacity >= records) {
        return true;
    }
    int64_t want = spool.indexCapacity < 16 ? 16 : int64_t{spool.indexCapacity} * 2;
    if (want < records) {
        want = records;
    }
    const auto bytes = static_cast<uint64_t>(want) * sizeof(FrameRecord);
    if (want > std::numeric_limits<int32_t>::max() || bytes > std::numeric_limits<size_t>::max()) {
        return false;
    }
    void* grown = std::realloc(static_cast<void*>(spool.index), static_cast<size_t>(bytes));
    if (grown == nullptr) {
        return false;
    }
    spool.index = static_cast<FrameRecord*>(grown);
    spool.indexCapacity = static_cast<int32_t>(want);
    return true;
}

// Ends a recording tick that failed after the display copy was locked.
int failLocked(FrameSpool& spool) {
    if (spool.source != nullptr) {
        spool.source->unlockFrame();
    }
    captureRelease(spool);
    return 0;
}

int failRead(FrameSpool& spool) {
    captureRelease(spool);
    return 0;
}

// Reads exactly `size` bytes of the next block into the read buffer.
bool readBlock(FrameSpool& spool, int32_t size) {
    if (size <= 0 || spool.file == nullptr) {
        return false;
    }
    const auto want = static_cast<uint32_t>(size);
    if (!growBuffer(spool.readBuffer, spool.readCapacity, want)) {
        return false;
    }
    return spool.file->read(spool.readBuffer, want) == int64_t{size};
}

}  // namespace

FrameSpool::~FrameSpool() {
    std::free(static_cast<void*>(index));
    std::free(scratch);
    std::free(readBuffer);
}

int spoolOpen(FrameSpool& spool, ScreenSource& source) {
    return spoolOpenFile(spool, source, createTemporaryFile(kFrameSpoolName));
}

int spoolOpenFile(FrameSpool& spool, ScreenSource& source, FilePtr file) {
    if (file == nullptr) {
        return 0;
    }
    spool.file = std::move(file);
    spool.source = &source;
    spool.count = 0;
    spool.total = 0;
    spool.reading = 0;
    return 1;
}

int spoolRecordFrame(FrameSpool& spool) {
    spool.busy = 1;
    if (!growIndex(spool, spool.count + 1)) {
        captureRelease(spool);
        return 0;
    }
    if (spool.file == nullptr || spool.reading != 0 || spool.source == nullptr) {
        return 0;
    }
    ScreenSource& source = *spool.source;

    ScreenImage image;
    if (!source.lockFrame(image)) {
        captureRelease(spool);
        return 0;
    }
    // The whole locked memory is spooled; its length must fit the block writer and the
    // index (a row of more than 65,535 bytes would not read back correctly).
    const uint64_t rawSize = uint64_t{image.pitch} * image.height;
    if (image.pixels == nullptr || image.pitch == 0 || image.pitch > 0xFFFF || rawSize == 0 ||
        rawSize > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
        return failLocked(spool);
    }
    FrameRecord& record = spool.index[spool.count];
    record = FrameRecord{};
    record.pitch = static_cast<uint16_t>(image.pitch);
    record.rawSize = static_cast<uint32_t>(rawSize);

    const uint32_t now = source.nowMs();
    if (spool.count > 0) {
        spool.index[spool.count - 1].durationMs = static_cast<uint16_t>(now - spool.lastGrabMs);
    }
    spool.lastGrabMs = now;

    CursorState cursor;
    if (!source.queryCursor(cursor)) {
        return failLocked(spool);
    }
    // A cursor that cannot be drawn (Wine cannot draw another process's cursor) leaves
    // this frame without one rather than ending the recording.
    const unsigned char* cursorImage = cursor.showing == 1 ? source.drawCursor() : nullptr;
    if (cursorImage != nullptr) {
        const int32_t written = spoolWriteCursorBlock(spool, cursorImage);
        if (written <= 0) {
            return failLocked(spool);
        }
        record.cursorBlockSize = written;
        int32_t hotX = 0;
        int32_t hotY = 0;
        int64_t x = cursor.x;
        int64_t y = cursor.y;
        if (source.cursorHotspot(hotX, hotY)) {
            x -= hotX;
            y -= hotY;
        }
        record.cursorX = static_cast<uint16_t>(static_cast<uint64_t>(x) & 0xFFFF);
        record.cursorY = static_cast<uint16_t>(static_cast<uint64_t>(y) & 0xFFFF);
    } else {
        record.cursorBlockSize = -1;
    }

    const int32_t frameBytes =
        spoolWriteFrameBlock(spool, image.pixels, static_cast<int32_t>(record.rawSize));
    if (frameBytes <= 0) {
        return failLocked(spool);
    }
    record.frameBlockSize = frameBytes;

    if (!source.unlockFrame()) {
        captureRelease(spool);
        return 0;
    }
    source.frameDone();
    spool.count += 1;
    spool.busy = 0;
    return 1;
}

int32_t spoolWriteCursorBlock(FrameSpool& spool, const unsigned char* cursorImage) {
    if (cursorImage == nullptr || spool.file == nullptr ||
        !growBuffer(spool.scratch, spool.scratchCapacity, kCursorBlockBound)) {
        return -1;
    }
    uLongf n = kCursorBlockBound;
    if (compress2(spool.scratch, &n, cursorImage, kCursorImageBytes, 1) != Z_OK) {
        return -1;
    }
    const auto size = static_cast<uint32_t>(n);
    if (spool.file->write(spool.scratch, size) != size) {
        return -1;
    }
    return static_cast<int32_t>(size);
}

int32_t spoolWriteFrameBlock(FrameSpool& spool, const unsigned char* pixels, int32_t length) {
    if (pixels == nullptr || length <= 0 || spool.file == nullptr) {
        return -1;
    }
    // zlib documents length x 1.001 + 12 as enough for compress2; compressBound covers
    // the small blocks where that rule falls short.
    auto bound = static_cast<uint64_t>(static_cast<double>(length) * 1.001 + 12.0);
    const uint64_t zlibBound = compressBound(static_cast<uLong>(length));
    if (zlibBound > bound) {
        bound = zlibBound;
    }
    if (bound > std::numeric_limits<int32_t>::max() ||
        !growBuffer(spool.scratch, spool.scratchCapacity, static_cast<uint32_t>(bound))) {
        return -1;
    }
    auto n = static_cast<uLongf>(bound);
    if (compress2(spool.scratch, &n, pixels, static_cast<uLong>(length), 1) != Z_OK) {
        return -1;
    }
    const auto size = static_cast<uint32_t>(n);
    if (spool.file->write(spool.scratch, size) != size) {
        return -1;
    }
    return static_cast<int32_t>(size);
}

int spoolReadFrame(FrameSpool& spool, unsigned char*& pixels, uint32_t& rawSize, int& last,
                   uint16_t& pitch, uint16_t& durationMs, unsigned char* cursorPixels,
                   uint16_t& cursorX, uint16_t& cursorY, int& cursorPresent) {
    spool.busy = 1;
    last = 0;
    cursorPresent = 0;
    if (spool.reading == 0) {
        if (spool.count > 0 && spool.source != nullptr) {
            spool.index[spool.count - 1].durationMs =
                static_cast<uint16_t>(spool.source->nowMs() - spool.lastGrabMs);
        }
        // Writing is over.
        std::free(spool.scratch);
        spool.scratch = nullptr;
        spool.scratchCapacity = 0;
        if (spool.file == nullptr || !spool.file->seek(0)) {
            return failRead(spool);
        }
        spool.total = spool.count;
        spool.count = 0;
        spool.reading = 1;
    }
    // An empty spool (stopped before the first tick) and a read past the last frame
    // have nothing to hand out.
    if (spool.count >= spool.total || spool.file == nullptr || cursorPixels == nullptr) {
        return failRead(spool);
    }
    if (spool.count == spool.total - 1) {
        last = 1;
    }
    const FrameRecord& record = spool.index[spool.count];

    unsigned char* grown =
        static_cast<unsigned char*>(std::realloc(pixels, record.rawSize == 0 ? 1 : record.rawSize));
    if (grown == nullptr) {
        return failRead(spool);
    }
    pixels = grown;

    rawSize = record.rawSize;
    pitch = record.pitch;
    durationMs = record.durationMs;
    cursorX = record.cursorX;
    cursorY = record.cursorY;

    if (record.cursorBlockSize != -1) {
        if (!readBlock(spool, record.cursorBlockSize)) {
            return failRead(spool);
        }
        uLongf n = kCursorImageBytes;
        if (uncompress(cursorPixels, &n, spool.readBuffer,
                       static_cast<uLong>(record.cursorBlockSize)) != Z_OK ||
            n != kCursorImageBytes) {
            return failRead(spool);
        }
        cursorPresent = 1;
    }

    if (!readBlock(spool, record.frameBlockSize)) {
        return failRead(spool);
    }
    uLongf n = record.rawSize;
    if (uncompress(pixels, &n, spool.readBuffer, static_cast<uLong>(record.frameBlockSize)) !=
            Z_OK ||
        n != record.rawSize) {
        return failRead(spool);
    }
    rawSize = static_cast<uint32_t>(n);

    spool.count += 1;
    spool.busy = 0;
    return 1;
}

int32_t spoolFrameCount(const FrameSpool& spool) {
    return spool.total;
}

int spoolIsBusy(const FrameSpool& spool) {
    return spool.busy;
}

int captureRelease(FrameSpool& spool) {
    spool.lastGrabMs = 0;
    if (spool.file != nullptr) {
        spool.file->close();
        spool.file.reset();
    }
    spool.count = 0;
    spool.total = 0;
    spool.reading = 0;
    std::free(spool.readBuffer);
    spool.readBuffer = nullptr;
    spool.readCapacity = 0;
    std::free(spool.scratch);
    spool.scratch = nullptr;
    spool.scratchCapacity = 0;
    if (spool.source != nullptr) {
        spool.source->release();
    }
    return 1;
}

}  // namespace pemlo
