// The frame spool: every recorded frame goes to the spool file as the tiles of the
// capture rectangle that changed since the frame before (the first frame whole), packed
// and compressed as one zlib block, with the cursor image as a block of its own before
// it when the cursor showed; a frame with no changed tile writes no frame block. What a
// frame consists of (sizes, tile count, timing, cursor position) is kept in an index in
// memory and, for the program's spools, also in an index file beside the spool with a
// crc32 over each record and its blocks (capture/spool_index.h), so that a later start
// can read a recording that was never finished (spoolOpenRecorded).
//
// Recording one frame is three steps with their own contracts, so that only the first
// needs the recording tick's thread: grabbing it into a GrabbedFrame (spoolGrabFrame:
// the display copy, the cursor and the packed changed tiles), compressing its blocks
// (spoolCompressFrame, on any thread: it touches no file and no spool), and appending
// it (spoolAppendFrame), which writes the blocks and then its index record, frames
// strictly in the order they were grabbed and one call at a time. spoolRecordFrame
// does the three for one grab.
//
// A recording may pause (spoolPause) and go on (spoolResume) any number of times between
// frames: the pauses go to the index as records of their own with a crc32, and the
// paused time is left out of the frame durations, so the frame before a pause lasts
// until the pause and the video's time is the clock's time without the pauses.
//
// Calling order: spoolOpen (or spoolOpenRecorded), any number of spoolRecordFrame, then
// spoolReadFrame until it reports the last frame, then captureRelease (which may come at
// any point). The spool files stay on disk: whoever ends the recording deletes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/pause_span.h"
#include "capture/screen_source.h"
#include "capture/tile_diff.h"
#include "platform/file.h"

namespace pemlo {

// The spool file and its index file, in the recording's folder.
inline constexpr const char* kFrameSpoolName = "temp_vid.dat";
inline constexpr const char* kFrameIndexName = "temp_vid.idx";
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
    uint32_t grabMs = 0;           // the clock reading of this grab
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
    FilePtr indexFile;               // the index on disk while recording; null for none
    ScreenSource* source = nullptr;  // where frames come from (not owned)
    FrameRecord* index = nullptr;    // one record per frame (kept by captureRelease)
    int32_t indexCapacity = 0;
    int32_t count = 0;        // recording: frames stored; reading: next frame to read
    int32_t grabbed = 0;      // recording: frames grabbed (stored or on their way)
    int32_t total = 0;        // frames in the spool, fixed by the first read
    int reading = 0;          // 1 once the first read has begun
    int busy = 0;             // 1 during a grab, record or read call, and for good after a failure
    uint32_t lastGrabMs = 0;  // the grab reading of the last frame appended
    // The capture rectangle on the screen, and its tiles.
    uint32_t left = 0;
    uint32_t top = 0;
    TileGrid grid;
    unsigned char* previous = nullptr;    // the last grab of the rectangle, 4 bytes a pixel
    unsigned char* changed = nullptr;     // one mark per tile
    unsigned char* readBuffer = nullptr;  // one compressed block while reading
    uint32_t readCapacity = 0;
    GrabbedFrame* pending = nullptr;  // spoolRecordFrame's frame, kept from tick to tick
    std::vector<PauseSpan> pauses;    // in order; only the last may be open
    uint32_t pausedSinceLastMs = 0;   // ended pauses since the last frame appended
};

// The capture rectangle in screen pixels.
struct CaptureArea {
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;

    bool operator==(const CaptureArea&) const = default;
};

// Creates the spool file kFrameSpoolName and its index kFrameIndexName in `folder`
// (which exists; both files kept on disk and not shared while open), writes the index's
// header with `description`, and starts a recording of `area` from `source`. 1 on
// success, 0 when a file cannot be created or written or the area is empty, starts left
// of or above the screen or is wider than 21,845 pixels.
int spoolOpen(FrameSpool& spool, ScreenSource& source, const CaptureArea& area,
              const std::string& folder, const std::string& description);
// The same over files the caller made (the tests use in-memory ones); a null index keeps
// the index in memory only. 0 for a null spool file.
int spoolOpenFiles(FrameSpool& spool, ScreenSource& source, FilePtr file, FilePtr index,
                   const CaptureArea& area, const std::string& description);
int spoolOpenFile(FrameSpool& spool, ScreenSource& source, FilePtr file, const CaptureArea& area);

// Opens a spool recorded earlier (by this or another run) for reading: reads the index
// header (its description goes to `description`), then every record whose number is in
// turn and whose crc32 matches its blocks in `file`, and stops at the first that does
// not (a torn or damaged tail), never skipping ahead. The frames before it are the
// spool's; the last one's duration is `lastDurationMs` (its end was not recorded), or
// lasts until the pause when the recording ended paused. Pause records in turn are
// taken up with the frames (spoolPauses) and leave their time out of the durations.
// 1 when the header is intact (spoolRecordedFrames tells how many whole frames there
// are, possibly none), 0 when `index` holds no intact header. Either way `index` is not
// kept; `file` is kept on success only.
int spoolOpenRecorded(FrameSpool& spool, FilePtr file, File& index, uint16_t lastDurationMs,
                      std::string& description);
// Reads only the description from the header of `index`. 1 when the header is intact.
int spoolReadDescription(File& index, std::string& description);

// Records one frame: copies the display, draws the cursor, finds the tiles of the
// capture rectangle that changed, compresses the cursor and those tiles at zlib level 1
// and appends them. 1 on success, 0 on failure: refused when the spool is not open or
// reading has begun (nothing released), otherwise the spool is released (a display
// copy that does not hold the whole capture rectangle is a failure too).
int spoolRecordFrame(FrameSpool& spool);

// One grabbed frame on its way to the spool: its record (grab reading, cursor position,
// tile count, raw size; block sizes set by compression), the cursor image, the packed
// changed tiles and, once compressed, the blocks.
struct GrabbedFrame {
    GrabbedFrame() = default;
    ~GrabbedFrame();
    GrabbedFrame(const GrabbedFrame&) = delete;
    GrabbedFrame& operator=(const GrabbedFrame&) = delete;

    FrameRecord record;
    unsigned char cursor[kCursorImageBytes] = {};
    unsigned char* packed = nullptr;  // record.rawSize bytes of packed changed tiles
    uint32_t packedCapacity = 0;
    unsigned char* blocks = nullptr;  // the cursor block, then the frame block
    uint32_t blocksCapacity = 0;
};

// Grabs one frame: reads the clock, copies the display, draws the cursor, and packs
// the tiles of the capture rectangle that changed since the grab before. Touches only
// what grabs use (never the files or the index), so it may run while another thread
// appends. 1 on success; 0 when the spool is not open or reading has begun, or on
// failure (the display copy is unlocked; the spool is not released: the caller does it).
int spoolGrabFrame(FrameSpool& spool, GrabbedFrame& frame);
// Compresses the cursor and the packed tiles at zlib level 1 and sets the record's
// block sizes. Touches no spool; 1 on success, 0 when memory runs out or zlib fails.
int spoolCompressFrame(GrabbedFrame& frame);
// Appends a compressed frame after the ones before it: its cursor block (when
// cursorBlockSize > 0), its frame block (when frameBlockSize > 0), then its index record
// with the crc32 to the index file, and adds it to the index in memory (the frame before
// it gets its duration from the two grab readings). 1 on success; 0 when the spool is
// not open, reading has begun, the frame is not compressed, or a write fails or comes
// up short (nothing is released: the caller does that).
int spoolAppendFrame(FrameSpool& spool, const GrabbedFrame& frame);
// The most memory one grabbed frame of this recording can hold, compressed blocks
// included.
uint64_t spoolGrabbedFrameBound(const FrameSpool& spool);

// Reads the next frame into `frame`: its duration, its cursor and the tiles that
// changed since the frame before (every tile for the first frame). `last` is 1 for the
// last frame. Every block is checked: the count read, the zlib result, the inflated
// length, and the tile list (inside the rectangle, ascending, complete for the first
// frame). 1 on success; 0 on failure, which releases the spool. A spool without frames
// fails at the first read.
int spoolReadFrame(FrameSpool& spool, SpoolFrame& frame);

// Pauses the recording at `clockMs` (the clock the grabs read): writes the pause record
// to the index (when there is one) after the frames appended so far. Only between
// appends, with every grabbed frame appended and at least one of them: 1 on success, 0
// when refused (not recording, already paused, no frame yet, frames on their way) or
// when the write fails or comes up short (nothing released). Grabs fail while paused.
int spoolPause(FrameSpool& spool, uint32_t clockMs);
// Goes on after a pause at `clockMs`; writes its record like spoolPause. 1 on success, 0
// when not paused or the write fails.
int spoolResume(FrameSpool& spool, uint32_t clockMs);
// 1 while paused.
int spoolIsPaused(const FrameSpool& spool);
// The pauses so far (or those a recovered recording holds), in order.
const std::vector<PauseSpan>& spoolPauses(const FrameSpool& spool);

// Number of frames, valid from the first read on (0 before it).
int32_t spoolFrameCount(const FrameSpool& spool);
// Frames recorded so far (or, once reading has begun, in the spool).
int32_t spoolRecordedFrames(const FrameSpool& spool);
// The sum of the frames' durations in milliseconds (the last one counts once its
// duration is known: from the first read on, or for a spool opened with
// spoolOpenRecorded).
uint64_t spoolDurationMs(const FrameSpool& spool);
// The clock reading of the first frame's grab (0 without frames): the video's time zero.
uint32_t spoolFirstGrabMs(const FrameSpool& spool);
// The rectangle of the screen the spool's frames show (empty before an open).
CaptureArea spoolArea(const FrameSpool& spool);
// Asks the system to put the spool and its index on the disk. 1 on success or when there
// is nothing open, 0 when flushing failed.
int spoolFlush(FrameSpool& spool);
// Second handles on the spool and its index (File::duplicate), appended to `out`, for
// flushing them from another thread while recording goes on. 1 when every open file
// could be duplicated.
int spoolDuplicateFiles(FrameSpool& spool, std::vector<FilePtr>& out);
// 1 while a record or read call runs, and after any failed one.
int spoolIsBusy(const FrameSpool& spool);

// Closes the spool file and its index (they stay on disk), frees the buffers and
// releases the source's display objects. The index in memory (so spoolRecordedFrames) and
// the busy flag are kept. Returns 1.
int captureRelease(FrameSpool& spool);

}  // namespace pemlo
