// The frame spool: recording appends zlib blocks to the spool file and one FrameRecord
// per frame to the index (in memory, and on disk with a crc32 when there is an index
// file); reading replays them in order and checks every block (count read, zlib result,
// inflated length and tile list).
#include "capture/frame_spool.h"

#include <zlib.h>

#include "capture/spool_index.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

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

// Ends a grab that failed after the display copy was locked.
int failLocked(ScreenSource& source) {
    source.unlockFrame();
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

// Frees what only recording needs.
void releaseWriting(FrameSpool& spool) {
    if (spool.indexFile != nullptr) {
        spool.indexFile->close();
        spool.indexFile.reset();
    }
    std::free(spool.previous);
    spool.previous = nullptr;
    std::free(spool.changed);
    spool.changed = nullptr;
    delete spool.pending;  // NOLINT(cppcoreguidelines-owning-memory)
    spool.pending = nullptr;
}

// Checks the tile list at the start of an inflated frame block of `size` bytes and
// points the frame's tiles at their pixels: every tile inside the grid, in strictly
// ascending order, and the pixels filling the rest of the block exactly.
bool unpackTiles(const TileGrid& grid, SpoolFrame& frame, uint32_t count, uint32_t size) {
    if (frame.tileCapacity < count) {
        void* grown =
            std::realloc(static_cast<void*>(frame.tiles), size_t{count} * sizeof(SpoolTile));
        if (grown == nullptr) {
            return false;
        }
        frame.tiles = static_cast<SpoolTile*>(grown);
        frame.tileCapacity = count;
    }
    const unsigned char* list = frame.data;
    uint64_t offset = uint64_t{count} * 4;
    int64_t previousIndex = -1;
    for (uint32_t i = 0; i < count; ++i, list += 4) {
        const uint32_t column = list[0] | (uint32_t{list[1]} << 8);
        const uint32_t row = list[2] | (uint32_t{list[3]} << 8);
        if (column >= grid.columns || row >= grid.rows) {
            return false;
        }
        const int64_t at = int64_t{row} * grid.columns + column;
        if (at <= previousIndex) {
            return false;
        }
        previousIndex = at;
        SpoolTile& tile = frame.tiles[i];
        tile.x = column * kTileSide;
        tile.y = row * kTileSide;
        tile.width = grid.tileWidth(column);
        tile.height = grid.tileHeight(row);
        const uint64_t bytes = uint64_t{tile.width} * tile.height * 3;
        if (offset + bytes > size) {
            return false;
        }
        tile.pixels = frame.data + offset;
        offset += bytes;
    }
    if (offset != size) {
        return false;
    }
    frame.tileCount = count;
    return true;
}

// zlib's bound for compressing `length` bytes: length x 1.001 + 12 as documented, or
// compressBound where that rule falls short (small blocks).
uint64_t blockBound(uint64_t length) {
    const auto bound = static_cast<uint64_t>(static_cast<double>(length) * 1.001 + 12.0);
    const uint64_t zlibBound = compressBound(static_cast<uLong>(length));
    return zlibBound > bound ? zlibBound : bound;
}

// The packed size of a frame in which every tile changed: the tile list and the pixels.
uint64_t largestPackedSize(const TileGrid& grid) {
    return uint64_t{grid.count()} * 4 + uint64_t{grid.width} * grid.height * 3;
}

// Finds the changed tiles of one grab and packs them into the grabbed frame; fills the
// record's tile count and raw size. 1 on success, 0 when memory runs out.
int packGrabbedFrame(FrameSpool& spool, const unsigned char* rows, uint32_t pitch,
                     GrabbedFrame& frame) {
    const TileGrid& grid = spool.grid;
    const uint64_t area = uint64_t{grid.width} * grid.height;
    const bool first = spool.previous == nullptr;
    if (first) {
        spool.previous = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(area * 4)));
        spool.changed = static_cast<unsigned char*>(std::malloc(grid.count()));
        if (spool.previous == nullptr || spool.changed == nullptr) {
            return 0;
        }
    }
    const uint32_t count = findChangedTiles(grid, rows, pitch, spool.previous, spool.changed,
                                            spool.grabbed == 0 || first);
    frame.record.tileCount = count;
    frame.record.rawSize = 0;
    if (count == 0) {
        return 1;
    }
    const size_t size = packedTilesSize(grid, spool.changed);
    if (size > static_cast<size_t>(std::numeric_limits<int32_t>::max()) ||
        !growBuffer(frame.packed, frame.packedCapacity, static_cast<uint32_t>(size))) {
        return 0;
    }
    packChangedTiles(grid, rows, pitch, spool.changed, frame.packed);
    frame.record.rawSize = static_cast<uint32_t>(size);
    return 1;
}

bool writeAll(File& file, const unsigned char* data, uint32_t size) {
    return size == 0 || file.write(data, size) == size;
}

bool readAll(File& file, std::vector<unsigned char>& into, uint32_t size) {
    into.resize(size);
    return size == 0 || file.read(into.data(), size) == int64_t{size};
}

}  // namespace

FrameSpool::~FrameSpool() {
    std::free(static_cast<void*>(index));
    std::free(previous);
    std::free(changed);
    std::free(readBuffer);
    delete pending;  // NOLINT(cppcoreguidelines-owning-memory)
}

GrabbedFrame::~GrabbedFrame() {
    std::free(packed);
    std::free(blocks);
}

SpoolFrame::~SpoolFrame() {
    std::free(static_cast<void*>(tiles));
    std::free(data);
}

int spoolOpen(FrameSpool& spool, ScreenSource& source, const CaptureArea& area,
              const std::string& folder, const std::string& description) {
    FilePtr file = createKeptFile(folder + "/" + kFrameSpoolName);
    if (file == nullptr) {
        return 0;
    }
    FilePtr index = createKeptFile(folder + "/" + kFrameIndexName);
    if (index == nullptr) {
        return 0;
    }
    return spoolOpenFiles(spool, source, std::move(file), std::move(index), area, description);
}

int spoolOpenFile(FrameSpool& spool, ScreenSource& source, FilePtr file, const CaptureArea& area) {
    return spoolOpenFiles(spool, source, std::move(file), nullptr, area, std::string());
}

int spoolOpenFiles(FrameSpool& spool, ScreenSource& source, FilePtr file, FilePtr index,
                   const CaptureArea& area, const std::string& description) {
    if (file == nullptr || area.left < 0 || area.top < 0 || area.width < 1 || area.height < 1 ||
        area.width > kMaxCaptureWidth || area.height > kMaxCaptureHeight ||
        description.size() > kSpoolDescriptionMax) {
        return 0;
    }
    if (index != nullptr) {
        const std::vector<unsigned char> header = spoolIndexHeader(area, description);
        if (!writeAll(*index, header.data(), static_cast<uint32_t>(header.size())) ||
            !index->flush()) {
            return 0;
        }
    }
    spool.indexFile = std::move(index);
    spool.file = std::move(file);
    spool.source = &source;
    spool.count = 0;
    spool.grabbed = 0;
    spool.pauses.clear();
    spool.pausedSinceLastMs = 0;
    spool.total = 0;
    spool.reading = 0;
    spool.left = static_cast<uint32_t>(area.left);
    spool.top = static_cast<uint32_t>(area.top);
    spool.grid = tileGridFor(static_cast<uint32_t>(area.width), static_cast<uint32_t>(area.height));
    return 1;
}

int spoolGrabFrame(FrameSpool& spool, GrabbedFrame& frame) {
    spool.busy = 1;
    if (spool.file == nullptr || spool.reading != 0 || spool.source == nullptr ||
        spoolIsPaused(spool)) {
        return 0;
    }
    ScreenSource& source = *spool.source;

    ScreenImage image;
    if (!source.lockFrame(image)) {
        return 0;
    }
    // The capture rectangle must lie inside the locked copy.
    const TileGrid& grid = spool.grid;
    if (image.pixels == nullptr || uint64_t{spool.left} + grid.width > image.width ||
        uint64_t{spool.top} + grid.height > image.height ||
        uint64_t{image.width} * 4 > image.pitch) {
        return failLocked(source);
    }
    FrameRecord& record = frame.record;
    record = FrameRecord{};
    record.grabMs = source.nowMs();

    CursorState cursor;
    if (!source.queryCursor(cursor)) {
        return failLocked(source);
    }
    // A cursor that cannot be drawn (Wine cannot draw another process's cursor) leaves
    // this frame without one rather than ending the recording.
    const unsigned char* cursorImage = cursor.showing == 1 ? source.drawCursor() : nullptr;
    if (cursorImage != nullptr) {
        std::memcpy(frame.cursor, cursorImage, kCursorImageBytes);
        record.cursorBlockSize = 0;  // a cursor block follows once compressed
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
    }

    const unsigned char* rows =
        image.pixels + size_t{spool.top} * image.pitch + size_t{spool.left} * 4;
    if (!packGrabbedFrame(spool, rows, image.pitch, frame)) {
        return failLocked(source);
    }
    if (!source.unlockFrame()) {
        return 0;
    }
    source.frameDone();
    spool.grabbed += 1;
    spool.busy = 0;
    return 1;
}

int spoolCompressFrame(GrabbedFrame& frame) {
    FrameRecord& record = frame.record;
    const bool cursor = record.cursorBlockSize != -1;
    const uint64_t frameBound = record.rawSize > 0 ? blockBound(record.rawSize) : 0;
    const uint64_t need = (cursor ? kCursorBlockBound : 0) + frameBound;
    if (need > std::numeric_limits<int32_t>::max() ||
        !growBuffer(frame.blocks, frame.blocksCapacity, static_cast<uint32_t>(need))) {
        return 0;
    }
    uLongf at = 0;
    if (cursor) {
        at = kCursorBlockBound;
        if (compress2(frame.blocks, &at, frame.cursor, kCursorImageBytes, 1) != Z_OK) {
            return 0;
        }
        record.cursorBlockSize = static_cast<int32_t>(at);
    }
    record.frameBlockSize = 0;
    if (record.rawSize > 0) {
        auto n = static_cast<uLongf>(frameBound);
        if (compress2(frame.blocks + at, &n, frame.packed, record.rawSize, 1) != Z_OK) {
            return 0;
        }
        record.frameBlockSize = static_cast<int32_t>(n);
    }
    return 1;
}

int spoolAppendFrame(FrameSpool& spool, const GrabbedFrame& frame) {
    const FrameRecord& record = frame.record;
    // A frame not (or not wholly) compressed: a pending cursor block (size 0), or tiles
    // without their frame block.
    if (spool.file == nullptr || spool.reading != 0 || record.cursorBlockSize == 0 ||
        record.cursorBlockSize < -1 || record.frameBlockSize < 0 ||
        (record.rawSize > 0) != (record.frameBlockSize > 0) ||
        (frame.blocks == nullptr && (record.cursorBlockSize > 0 || record.frameBlockSize > 0)) ||
        !growIndex(spool, spool.count + 1)) {
        return 0;
    }
    const uint32_t cursorSize =
        record.cursorBlockSize > 0 ? static_cast<uint32_t>(record.cursorBlockSize) : 0;
    const auto frameSize = static_cast<uint32_t>(record.frameBlockSize);
    const unsigned char* cursorBlock = cursorSize > 0 ? frame.blocks : nullptr;
    const unsigned char* frameBlock = frameSize > 0 ? frame.blocks + cursorSize : nullptr;
    if (!writeAll(*spool.file, cursorBlock, cursorSize) ||
        !writeAll(*spool.file, frameBlock, frameSize)) {
        return 0;
    }
    if (spool.indexFile != nullptr) {
        const auto number = static_cast<uint32_t>(spool.count);
        unsigned char bytes[kSpoolRecordBytes];
        spoolEncodeRecord(
            record, number,
            spoolRecordCrc(record, number, cursorBlock, cursorSize, frameBlock, frameSize), bytes);
        if (!writeAll(*spool.indexFile, bytes, kSpoolRecordBytes)) {
            return 0;
        }
    }
    if (spool.count > 0) {
        spool.index[spool.count - 1].durationMs =
            static_cast<uint16_t>(record.grabMs - spool.lastGrabMs - spool.pausedSinceLastMs);
    }
    spool.index[spool.count] = record;
    spool.lastGrabMs = record.grabMs;
    spool.pausedSinceLastMs = 0;
    spool.count += 1;
    return 1;
}

namespace {

bool writePauseRecord(FrameSpool& spool, int resume, uint32_t clockMs) {
    if (spool.indexFile == nullptr) {
        return true;
    }
    unsigned char bytes[kSpoolRecordBytes];
    spoolEncodePause(resume, clockMs, static_cast<uint32_t>(spool.count), bytes);
    return writeAll(*spool.indexFile, bytes, kSpoolRecordBytes);
}

// The last frame's duration: up to `endMs`, without the pauses since its grab.
uint16_t durationUpTo(const FrameSpool& spool, uint32_t endMs) {
    return static_cast<uint16_t>(endMs - spool.lastGrabMs - spool.pausedSinceLastMs);
}

// Where the recording ends when it ended paused: the open pause's beginning.
bool endedPaused(const FrameSpool& spool, uint32_t& beginMs) {
    if (!spoolIsPaused(spool)) {
        return false;
    }
    beginMs = spool.pauses.back().beginMs;
    return true;
}

}  // namespace

int spoolPause(FrameSpool& spool, uint32_t clockMs) {
    if (spool.file == nullptr || spool.reading != 0 || spoolIsPaused(spool) || spool.count == 0 ||
        spool.count != spool.grabbed || !writePauseRecord(spool, 0, clockMs)) {
        return 0;
    }
    spool.pauses.push_back({clockMs, 0, 0});
    return 1;
}

int spoolResume(FrameSpool& spool, uint32_t clockMs) {
    if (spool.file == nullptr || spool.reading != 0 || !spoolIsPaused(spool) ||
        !writePauseRecord(spool, 1, clockMs)) {
        return 0;
    }
    PauseSpan& pause = spool.pauses.back();
    pause.endMs = clockMs;
    pause.ended = 1;
    spool.pausedSinceLastMs += clockMs - pause.beginMs;
    return 1;
}

int spoolIsPaused(const FrameSpool& spool) {
    return !spool.pauses.empty() && spool.pauses.back().ended == 0 ? 1 : 0;
}

const std::vector<PauseSpan>& spoolPauses(const FrameSpool& spool) {
    return spool.pauses;
}

uint64_t spoolGrabbedFrameBound(const FrameSpool& spool) {
    const uint64_t packed = largestPackedSize(spool.grid);
    return packed + blockBound(packed) + kCursorBlockBound + sizeof(GrabbedFrame);
}

int spoolRecordFrame(FrameSpool& spool) {
    spool.busy = 1;
    if (spool.file == nullptr || spool.reading != 0 || spool.source == nullptr) {
        return 0;  // refused: nothing released
    }
    if (spool.pending == nullptr) {
        spool.pending = new (std::nothrow) GrabbedFrame;  // NOLINT(cppcoreguidelines-owning-memory)
    }
    if (spool.pending == nullptr || !spoolGrabFrame(spool, *spool.pending) ||
        !spoolCompressFrame(*spool.pending) || !spoolAppendFrame(spool, *spool.pending)) {
        spool.busy = 1;
        captureRelease(spool);
        return 0;
    }
    spool.busy = 0;
    return 1;
}

namespace {

// Reads the header of `index` from its start: the area and the description.
bool readIndexHeader(File& index, CaptureArea& area, std::string& description) {
    description.clear();
    std::vector<unsigned char> header;
    uint32_t descriptionLength = 0;
    if (!index.seek(0) || !readAll(index, header, kSpoolHeaderFixedBytes) ||
        !spoolIndexHeaderStart(header.data(), area, descriptionLength)) {
        return false;
    }
    std::vector<unsigned char> rest;
    if (!readAll(index, rest, descriptionLength + 4)) {
        return false;
    }
    header.insert(header.end(), rest.begin(), rest.end() - 4);
    if (!spoolIndexHeaderIntact(header.data(), static_cast<uint32_t>(header.size()),
                                getLe32(&rest[descriptionLength]))) {
        return false;
    }
    description.assign(reinterpret_cast<const char*>(rest.data()), descriptionLength);
    return area.left >= 0 && area.top >= 0 && area.width >= 1 && area.height >= 1 &&
           area.width <= kMaxCaptureWidth && area.height <= kMaxCaptureHeight;
}

}  // namespace

int spoolReadDescription(File& index, std::string& description) {
    CaptureArea area;
    return readIndexHeader(index, area, description) ? 1 : 0;
}

int spoolOpenRecorded(FrameSpool& spool, FilePtr file, File& index, uint16_t lastDurationMs,
                      std::string& description) {
    CaptureArea area;
    if (file == nullptr || !file->seek(0) || !readIndexHeader(index, area, description)) {
        return 0;
    }

    captureRelease(spool);
    spool.source = nullptr;
    spool.left = static_cast<uint32_t>(area.left);
    spool.top = static_cast<uint32_t>(area.top);
    spool.grid = tileGridFor(static_cast<uint32_t>(area.width), static_cast<uint32_t>(area.height));
    spool.count = 0;
    spool.total = 0;
    spool.reading = 0;
    spool.pauses.clear();
    spool.pausedSinceLastMs = 0;
    // The largest frame the writer can produce for this rectangle, and its block.
    const uint64_t largestRaw = largestPackedSize(spool.grid);
    const uint64_t largestBlock = blockBound(largestRaw);
    std::vector<unsigned char> cursor;
    std::vector<unsigned char> block;
    for (;;) {
        unsigned char bytes[kSpoolRecordBytes];
        if (index.read(bytes, kSpoolRecordBytes) != int64_t{kSpoolRecordBytes}) {
            break;
        }
        if (spoolIsPauseRecord(bytes)) {
            // A pause in turn: after a frame, a pause only when going on, going on only
            // when paused, never going back in time.
            int resume = 0;
            uint32_t clockMs = 0;
            uint32_t number = 0;
            const bool paused = spoolIsPaused(spool) != 0;
            if (!spoolDecodePause(bytes, resume, clockMs, number) ||
                number != static_cast<uint32_t>(spool.count) || spool.count == 0 ||
                (resume != 0) != paused ||
                static_cast<int32_t>(
                    clockMs - (paused ? spool.pauses.back().beginMs : spool.lastGrabMs)) < 0) {
                break;
            }
            if (resume != 0) {
                PauseSpan& pause = spool.pauses.back();
                pause.endMs = clockMs;
                pause.ended = 1;
                spool.pausedSinceLastMs += clockMs - pause.beginMs;
            } else {
                spool.pauses.push_back({clockMs, 0, 0});
            }
            continue;
        }
        if (spoolIsPaused(spool)) {
            break;  // a frame grabbed while paused is no frame of the recording
        }
        FrameRecord record;
        uint32_t number = 0;
        uint32_t crc = 0;
        spoolDecodeRecord(bytes, record, number, crc);
        // Sizes the writer never produces end the recording before a block is read.
        if (number != static_cast<uint32_t>(spool.count) || record.cursorBlockSize == 0 ||
            record.cursorBlockSize < -1 ||
            record.cursorBlockSize > static_cast<int32_t>(kCursorBlockBound) ||
            record.frameBlockSize < 0 || uint64_t{record.rawSize} > largestRaw ||
            static_cast<uint64_t>(record.frameBlockSize) > largestBlock ||
            !growIndex(spool, spool.count + 1)) {
            break;
        }
        const uint32_t cursorSize =
            record.cursorBlockSize > 0 ? static_cast<uint32_t>(record.cursorBlockSize) : 0;
        const auto frameSize = static_cast<uint32_t>(record.frameBlockSize);
        if (!readAll(*file, cursor, cursorSize) || !readAll(*file, block, frameSize) ||
            spoolRecordCrc(record, number, cursor.data(), cursorSize, block.data(), frameSize) !=
                crc) {
            break;
        }
        if (spool.count > 0) {
            spool.index[spool.count - 1].durationMs = durationUpTo(spool, record.grabMs);
        }
        spool.index[spool.count] = record;
        spool.index[spool.count].durationMs = lastDurationMs;
        spool.lastGrabMs = record.grabMs;
        spool.pausedSinceLastMs = 0;
        spool.count += 1;
    }
    uint32_t pausedAt = 0;
    if (spool.count > 0 && endedPaused(spool, pausedAt)) {
        spool.index[spool.count - 1].durationMs = durationUpTo(spool, pausedAt);
    }
    if (!file->seek(0)) {
        return 0;
    }
    spool.file = std::move(file);
    spool.reading = 0;
    spool.busy = 0;
    return 1;
}

int spoolReadFrame(FrameSpool& spool, SpoolFrame& frame) {
    spool.busy = 1;
    frame.last = 0;
    frame.cursorPresent = 0;
    frame.tileCount = 0;
    if (spool.reading == 0) {
        // The last frame lasts until this read, or until the pause the recording
        // ended in.
        uint32_t pausedAt = 0;
        if (spool.count > 0 && endedPaused(spool, pausedAt)) {
            spool.index[spool.count - 1].durationMs = durationUpTo(spool, pausedAt);
        } else if (spool.count > 0 && spool.source != nullptr) {
            spool.index[spool.count - 1].durationMs = durationUpTo(spool, spool.source->nowMs());
        }
        // Writing is over.
        releaseWriting(spool);
        if (spool.file == nullptr || !spool.file->seek(0)) {
            return failRead(spool);
        }
        spool.total = spool.count;
        spool.count = 0;
        spool.reading = 1;
    }
    // An empty spool (stopped before the first tick) and a read past the last frame
    // have nothing to hand out.
    if (spool.count >= spool.total || spool.file == nullptr) {
        return failRead(spool);
    }
    if (spool.count == spool.total - 1) {
        frame.last = 1;
    }
    const FrameRecord& record = spool.index[spool.count];
    frame.durationMs = record.durationMs;
    frame.cursorX = record.cursorX;
    frame.cursorY = record.cursorY;
    frame.width = spool.grid.width;
    frame.height = spool.grid.height;

    if (record.cursorBlockSize != -1) {
        if (!readBlock(spool, record.cursorBlockSize)) {
            return failRead(spool);
        }
        uLongf n = kCursorImageBytes;
        if (uncompress(frame.cursor, &n, spool.readBuffer,
                       static_cast<uLong>(record.cursorBlockSize)) != Z_OK ||
            n != kCursorImageBytes) {
            return failRead(spool);
        }
        frame.cursorPresent = 1;
    }

    // The first frame holds every tile; a later one without a frame block changed none.
    const bool first = spool.count == 0;
    if (record.tileCount == 0 && record.frameBlockSize == 0 && record.rawSize == 0 && !first) {
        spool.count += 1;
        spool.busy = 0;
        return 1;
    }
    if (record.tileCount == 0 || record.tileCount > spool.grid.count() ||
        (first && record.tileCount != spool.grid.count()) ||
        uint64_t{record.rawSize} < uint64_t{record.tileCount} * 4 ||
        !readBlock(spool, record.frameBlockSize) ||
        !growBuffer(frame.data, frame.dataCapacity, record.rawSize)) {
        return failRead(spool);
    }
    uLongf n = record.rawSize;
    if (uncompress(frame.data, &n, spool.readBuffer, static_cast<uLong>(record.frameBlockSize)) !=
            Z_OK ||
        n != record.rawSize || !unpackTiles(spool.grid, frame, record.tileCount, record.rawSize)) {
        return failRead(spool);
    }
    spool.count += 1;
    spool.busy = 0;
    return 1;
}

int32_t spoolFrameCount(const FrameSpool& spool) {
    return spool.total;
}

int32_t spoolRecordedFrames(const FrameSpool& spool) {
    return spool.reading != 0 ? spool.total : spool.count;
}

uint64_t spoolDurationMs(const FrameSpool& spool) {
    uint64_t sum = 0;
    const int32_t frames = spoolRecordedFrames(spool);
    for (int32_t i = 0; i < frames && spool.index != nullptr; ++i) {
        sum += spool.index[i].durationMs;
    }
    return sum;
}

uint32_t spoolFirstGrabMs(const FrameSpool& spool) {
    const int32_t frames = spoolRecordedFrames(spool);
    return frames > 0 && spool.index != nullptr ? spool.index[0].grabMs : 0;
}

CaptureArea spoolArea(const FrameSpool& spool) {
    return CaptureArea{static_cast<int32_t>(spool.left), static_cast<int32_t>(spool.top),
                       static_cast<int32_t>(spool.grid.width),
                       static_cast<int32_t>(spool.grid.height)};
}

int spoolDuplicateFiles(FrameSpool& spool, std::vector<FilePtr>& out) {
    return duplicateFiles({spool.file.get(), spool.indexFile.get()}, out);
}

int spoolFlush(FrameSpool& spool) {
    return flushFiles({spool.file.get(), spool.indexFile.get()});
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
    std::free(spool.readBuffer);
    spool.readBuffer = nullptr;
    spool.readCapacity = 0;
    releaseWriting(spool);
    if (spool.source != nullptr) {
        spool.source->release();
    }
    return 1;
}

}  // namespace pemlo
