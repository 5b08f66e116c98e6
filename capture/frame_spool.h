// The frame spool: every recorded frame goes to a temporary file as the tiles of the
// capture rectangle that changed since the frame before (the first frame whole), packed
// and compressed as one zlib block, with the cursor image as a block of its own before
// it when the cursor showed; a frame with no changed tile writes no frame block. What a
// frame consists of (sizes, tile count, timing, cursor position) is kept in an index in
// memory, so only the process that recorded a spool can read it back.
//
// Calling order: spoolOpen, any number of spoolRecordFrame, then spoolReadFrame until it
// reports the last frame, then captureRelease (which may come at any point).
#pragma once

#include <cstdint>
#include <string>

#include "capture/screen_source.h"
#include "capture/tile_diff.h"
#include "platform/file.h"

namespace pemlo {

// The spool file, relative to the current folder.
inline constexpr const char* kFrameSpoolName = "temp_vid.dat";
// The largest capture rectangle: rows of packed BGR must fit 16-bit strides, and the
// scaler walks at most 32,768 rows.
constexpr int32_t kMaxCaptureWidth = 21845;
constexpr int32_t kMaxCaptureHeight = 32768;
// Largest cursor block the writer produces (zlib's bound for 3,072 bytes).
constexpr uint32_t kCursorBlockBound = 3088;

struct FrameRecord {
    uint32_t rawSize = 0;          // the inflated frame block (packed tiles); 0: no tile changed
    int32_t frameBlockSize = 0;    // compressed frame block in the file; 0: none
    int32_t cursorBlockSize = -1;  // compressed cursor block before it, -1 for no cursor
    uint32_t tileCount = 0;        // tiles in the frame block
    uint16_t durationMs = 0;       // from this grab to the next (modulo 65,536)
    uint16_t cursorX = 0;          // top-left corner of the cursor image (low 16 bits);
    uint16_t cursorY = 0;          // only meaningful when there is a cursor block
};

// One tile of a frame read back: its place in the capture rectangle and its pixels,
// rows top-down, width x 3 bytes each (blue, green, red).
struct SpoolTile {
    uint32_t x = 0;
    uint32_t y = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    const unsigned char* pixels = nullptr;
};

// One frame as spoolReadFrame hands it out. The tiles point into `data` and stay valid
// until the next read into the same SpoolFrame.
struct SpoolFrame {
    SpoolFrame() = default;
    ~SpoolFrame();
    SpoolFrame(const SpoolFrame&) = delete;
    SpoolFrame& operator=(const SpoolFrame&) = delete;

    int last = 0;  // 1 for the last frame of the spool
    uint16_t durationMs = 0;
    int cursorPresent = 0;  // 1 when `cursor` holds this frame's cursor image
    uint16_t cursorX = 0;   // low 16 bits of the cursor image's top-left corner
    uint16_t cursorY = 0;
    unsigned char cursor[kCursorImageBytes] = {};
    uint32_t width = 0;  // the capture rectangle
    uint32_t height = 0;
    SpoolTile* tiles = nullptr;  // tileCount tiles, in ascending order
    uint32_t tileCount = 0;
    uint32_t tileCapacity = 0;
    unsigned char* data = nullptr;  // the inflated frame block
    uint32_t dataCapacity = 0;
};

struct GrabbedFrame;

// One spool. The Windows program owns one; tests make fresh ones.
struct FrameSpool {
    FrameSpool() = default;
    ~FrameSpool();
    FrameSpool(const FrameSpool&) = delete;
    FrameSpool& operator=(const FrameSpool&) = delete;

    FilePtr file;                    // open while recording and reading
    ScreenSource* source = nullptr;  // where frames come from (not owned)
    FrameRecord* index = nullptr;    // one record per frame (kept by captureRelease)
    int32_t indexCapacity = 0;
    int32_t count = 0;    // recording: frames stored; reading: next frame to read
    int32_t grabbed = 0;  // recording: frames grabbed (stored or on their way)
    int32_t total = 0;    // frames in the spool, fixed by the first read
    int reading = 0;      // 1 once the first read has begun
    int busy = 0;         // 1 during a record or read call, and for good after a failure
    uint32_t lastGrabMs = 0;
    // The capture rectangle on the screen, and its tiles.
    uint32_t left = 0;
    uint32_t top = 0;
    TileGrid grid;
    unsigned char* previous = nullptr;  // the last grab of the rectangle, 4 bytes a pixel
    unsigned char* changed = nullptr;   // one mark per tile
    unsigned char* packed = nullptr;    // the changed tiles of one grab, packed
    uint32_t packedCapacity = 0;
    unsigned char* scratch = nullptr;  // compression buffer for both block kinds
    uint32_t scratchCapacity = 0;
    unsigned char* readBuffer = nullptr;  // one compressed block while reading
    uint32_t readCapacity = 0;
    GrabbedFrame* pending = nullptr;  // spoolRecordFrame's frame, kept from tick to tick
};

// The capture rectangle in screen pixels.
struct CaptureArea {
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// Creates the spool file kFrameSpoolName (temporary, deleted when closed) and starts a
// recording of `area` from `source`. 1 on success, 0 when the file cannot be created or
// the area is empty, starts left of or above the screen or is wider than 21,845 pixels.
int spoolOpen(FrameSpool& spool, ScreenSource& source, const CaptureArea& area);
// The same over a file the caller made (the tests use an in-memory one). 0 for null.
int spoolOpenFile(FrameSpool& spool, ScreenSource& source, FilePtr file, const CaptureArea& area);

// Records one frame: copies the display, draws the cursor, finds the tiles of the
// capture rectangle that changed, compresses the cursor and those tiles at zlib level 1
// and appends them. 1 on success, 0 on failure: refused when the spool is not open or
// reading has begun (nothing released), otherwise the spool is released (a display
// copy that does not hold the whole capture rectangle is a failure too).
int spoolRecordFrame(FrameSpool& spool);

// One grabbed frame on its way to the spool. A recording tick fills it
// (spoolGrabFrame), any thread compresses it (spoolCompressFrame), and the frames are
// appended in the order they were grabbed (spoolAppendFrame), one call at a time.
// spoolRecordFrame does the three in a row.
struct GrabbedFrame {
    GrabbedFrame() = default;
    ~GrabbedFrame();
    GrabbedFrame(const GrabbedFrame&) = delete;
    GrabbedFrame& operator=(const GrabbedFrame&) = delete;

    FrameRecord record;               // the frame's record; block sizes set by compression
    int hasPrevious = 0;              // 1 when a frame was grabbed before this one
    uint16_t previousDurationMs = 0;  // that frame's duration, known at this grab
    unsigned char cursor[kCursorImageBytes] = {};
    unsigned char* packed = nullptr;  // record.rawSize bytes of packed changed tiles
    uint32_t packedCapacity = 0;
    unsigned char* blocks = nullptr;  // the cursor block, then the frame block
    uint32_t blocksCapacity = 0;
};

// Grabs one frame: copies the display, draws the cursor, and packs the tiles of the
// capture rectangle that changed since the grab before. 1 on success; 0 on failure
// (the display copy is unlocked; the spool is not released: the caller does it).
int spoolGrabFrame(FrameSpool& spool, GrabbedFrame& frame);
// Compresses the cursor and the packed tiles at zlib level 1. Touches no spool; 1 on
// success, 0 when memory runs out or zlib fails.
int spoolCompressFrame(GrabbedFrame& frame);
// Appends a compressed frame's blocks and its index record. 1 on success, 0 on a short
// write or when memory runs out (the spool is not released: the caller does it).
int spoolAppendFrame(FrameSpool& spool, const GrabbedFrame& frame);
// The most memory one grabbed frame of this recording can hold, compressed blocks
// included.
uint64_t spoolGrabbedFrameBound(const FrameSpool& spool);

// Appends the cursor image as a cursor block. Bytes written (> 0) or -1.
int32_t spoolWriteCursorBlock(FrameSpool& spool, const unsigned char* cursorImage);
// Appends `length` bytes of packed tiles as a frame block. Bytes written or -1.
int32_t spoolWriteFrameBlock(FrameSpool& spool, const unsigned char* pixels, int32_t length);

// Reads the next frame into `frame`: its duration, its cursor and the tiles that
// changed since the frame before (every tile for the first frame). `last` is 1 for the
// last frame. Every block is checked: the count read, the zlib result, the inflated
// length, and the tile list (inside the rectangle, ascending, complete for the first
// frame). 1 on success; 0 on failure, which releases the spool. A spool without frames
// fails at the first read.
int spoolReadFrame(FrameSpool& spool, SpoolFrame& frame);

// Number of frames, valid from the first read on (0 before it).
int32_t spoolFrameCount(const FrameSpool& spool);
// 1 while a record or read call runs, and after any failed one.
int spoolIsBusy(const FrameSpool& spool);

// Closes (and so deletes) the spool file, frees its buffers and releases the source's
// display objects. The index and the busy flag are kept. Returns 1.
int captureRelease(FrameSpool& spool);

}  // namespace pemlo
