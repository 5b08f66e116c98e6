// The frame spool: every recorded frame goes to a temporary file as a zlib block of the
// whole locked display (with the cursor image before it when the cursor showed); what a
// frame consists of (sizes, timing, cursor position) is kept in an index in memory, so
// only the process that recorded a spool can read it back.
//
// Calling order: spoolOpen, any number of spoolRecordFrame, then spoolReadFrame until it
// reports the last frame, then captureRelease (which may come at any point).
#pragma once

#include <cstdint>
#include <string>

#include "capture/screen_source.h"
#include "platform/file.h"

namespace pemlo {

// The spool file, relative to the current folder.
inline constexpr const char* kFrameSpoolName = "temp_vid.dat";
// Largest cursor block the writer produces (zlib's bound for 3,072 bytes).
constexpr uint32_t kCursorBlockBound = 3088;

struct FrameRecord {
    uint32_t rawSize = 0;          // pitch x display height: the inflated frame's length
    int32_t frameBlockSize = 0;    // compressed frame block in the file
    int32_t cursorBlockSize = -1;  // compressed cursor block before it, -1 for no cursor
    uint16_t pitch = 0;            // bytes per row of the locked display
    uint16_t durationMs = 0;       // from this grab to the next (modulo 65,536)
    uint16_t cursorX = 0;          // top-left corner of the cursor image (low 16 bits);
    uint16_t cursorY = 0;          // only meaningful when there is a cursor block
};

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
    int32_t count = 0;  // recording: frames stored; reading: next frame to read
    int32_t total = 0;  // frames in the spool, fixed by the first read
    int reading = 0;    // 1 once the first read has begun
    int busy = 0;       // 1 during a record or read call, and for good after a failure
    uint32_t lastGrabMs = 0;
    unsigned char* scratch = nullptr;  // compression buffer for both block kinds
    uint32_t scratchCapacity = 0;
    unsigned char* readBuffer = nullptr;  // one compressed block while reading
    uint32_t readCapacity = 0;
};

// Creates the spool file kFrameSpoolName (temporary, deleted when closed) and starts a
// recording from `source`. 1 on success, 0 when the file cannot be created.
int spoolOpen(FrameSpool& spool, ScreenSource& source);
// The same over a file the caller made (the tests use an in-memory one). 0 for null.
int spoolOpenFile(FrameSpool& spool, ScreenSource& source, FilePtr file);

// Records one frame: copies the display, draws the cursor, compresses both at zlib
// level 1 and appends them. 1 on success, 0 on failure: refused when the spool is not
// open or reading has begun (nothing released), otherwise the spool is released.
int spoolRecordFrame(FrameSpool& spool);

// Appends the cursor image as a cursor block. Bytes written (> 0) or -1.
int32_t spoolWriteCursorBlock(FrameSpool& spool, const unsigned char* cursorImage);
// Appends `length` bytes of locked display memory as a frame block. Bytes written or -1.
int32_t spoolWriteFrameBlock(FrameSpool& spool, const unsigned char* pixels, int32_t length);

// Reads the next frame. `pixels` is the caller's buffer, grown with std::realloc to
// rawSize bytes (the caller frees it with std::free); `cursorPixels` holds at least
// kCursorImageBytes bytes and is filled when `cursorPresent` is 1. `last` is 1 for the
// last frame. 1 on success; 0 on failure, which releases the spool. A spool without
// frames fails at the first read.
int spoolReadFrame(FrameSpool& spool, unsigned char*& pixels, uint32_t& rawSize, int& last,
                   uint16_t& pitch, uint16_t& durationMs, unsigned char* cursorPixels,
                   uint16_t& cursorX, uint16_t& cursorY, int& cursorPresent);

// Number of frames, valid from the first read on (0 before it).
int32_t spoolFrameCount(const FrameSpool& spool);
// 1 while a record or read call runs, and after any failed one.
int spoolIsBusy(const FrameSpool& spool);

// Closes (and so deletes) the spool file, frees its buffers and releases the source's
// display objects. The index and the busy flag are kept. Returns 1.
int captureRelease(FrameSpool& spool);

}  // namespace pemlo
