#include "process/frame_delta.h"

#include <algorithm>
#include <cstring>

#include "process/compositing.h"

namespace pemlo {
namespace {

// The part of a 32 x 32 cursor at (x, y) that lies on the picture, in picture columns
// and rows from the top; empty when it lies wholly outside.
struct CursorClip {
    int32_t firstColumn = 0;
    int32_t endColumn = 0;
    int32_t firstRow = 0;
    int32_t endRow = 0;
    bool empty() const { return firstColumn >= endColumn || firstRow >= endRow; }
};

CursorClip clipCursor(const ComposedFrame& c, int32_t x, int32_t y) {
    CursorClip clip;
    clip.firstColumn = static_cast<int32_t>(std::max<int64_t>(0, x));
    clip.endColumn = static_cast<int32_t>(std::min<int64_t>(c.width, int64_t{x} + kCursorSide));
    clip.firstRow = static_cast<int32_t>(std::max<int64_t>(0, y));
    clip.endRow = static_cast<int32_t>(std::min<int64_t>(c.height, int64_t{y} + kCursorSide));
    return clip;
}

// Copies the covered pixels between the picture and `under` (row by row, picture rows
// from the top); `save` chooses the direction.
void moveUnder(ComposedFrame& c, const CursorClip& clip, bool save) {
    const size_t rowBytes = static_cast<size_t>(c.width) * 3;
    const size_t bytes = static_cast<size_t>(clip.endColumn - clip.firstColumn) * 3;
    uint8_t* kept = c.under.data();
    for (int32_t y = clip.firstRow; y < clip.endRow; ++y) {
        uint8_t* p = c.pixels.data() + static_cast<size_t>(c.height - 1 - y) * rowBytes +
                     static_cast<size_t>(clip.firstColumn) * 3;
        if (save) {
            std::memcpy(kept, p, bytes);
        } else {
            std::memcpy(p, kept, bytes);
        }
        kept += bytes;
    }
}

void addChange(ComposedFrame& c, uint32_t column, uint32_t topRow, uint32_t width,
               uint32_t height) {
    ChangedRect& r = c.changes.data()[c.changeCount++];
    r.column = column;
    r.row = static_cast<uint32_t>(c.height) - topRow - height;
    r.width = width;
    r.height = height;
}

void addCursorChange(ComposedFrame& c, const CursorClip& clip) {
    if (!clip.empty()) {
        addChange(c, static_cast<uint32_t>(clip.firstColumn), static_cast<uint32_t>(clip.firstRow),
                  static_cast<uint32_t>(clip.endColumn - clip.firstColumn),
                  static_cast<uint32_t>(clip.endRow - clip.firstRow));
    }
}

// Copies one tile (rows top-down) into the picture (rows bottom-up).
void copyTile(ComposedFrame& c, const SpoolTile& tile) {
    const size_t rowBytes = static_cast<size_t>(c.width) * 3;
    const size_t bytes = static_cast<size_t>(tile.width) * 3;
    const uint8_t* src = tile.pixels;
    uint8_t* dst = c.pixels.data() + static_cast<size_t>(c.height - 1 - tile.y) * rowBytes +
                   static_cast<size_t>(tile.x) * 3;
    for (uint32_t i = 0; i < tile.height; ++i) {
        std::memcpy(dst, src, bytes);
        src += bytes;
        dst -= rowBytes;
    }
}

}  // namespace

int composedFrameSetup(ComposedFrame& composed, int32_t width, int32_t height) {
    if (width < 1 || height < 1 ||
        composed.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3) == 0) {
        return 0;
    }
    composed.width = width;
    composed.height = height;
    composed.started = false;
    composed.cursorDrawn = false;
    composed.changeCount = 0;
    composed.everything = false;
    return 1;
}

int composeFrame(ComposedFrame& composed, const SpoolFrame& frame, int32_t cursorX,
                 int32_t cursorY) {
    ComposedFrame& c = composed;
    if (frame.width != static_cast<uint32_t>(c.width) ||
        frame.height != static_cast<uint32_t>(c.height) ||
        c.changes.resize(size_t{frame.tileCount} + 2) == 0) {
        return 0;
    }
    c.changeCount = 0;
    c.everything = !c.started;
    if (!c.started) {
        // The first frame must cover the whole picture.
        uint64_t area = 0;
        for (uint32_t i = 0; i < frame.tileCount; ++i) {
            area += uint64_t{frame.tiles[i].width} * frame.tiles[i].height;
        }
        if (area != uint64_t{frame.width} * frame.height) {
            return 0;
        }
    }
    for (uint32_t i = 0; i < frame.tileCount; ++i) {
        const SpoolTile& t = frame.tiles[i];
        if (uint64_t{t.x} + t.width > frame.width || uint64_t{t.y} + t.height > frame.height) {
            return 0;
        }
    }

    // The cursor comes off first, so that tiles land on the picture without it.
    const CursorClip before = c.cursorDrawn ? clipCursor(c, c.cursorX, c.cursorY) : CursorClip{};
    if (!before.empty()) {
        moveUnder(c, before, false);
    }
    for (uint32_t i = 0; i < frame.tileCount; ++i) {
        copyTile(c, frame.tiles[i]);
    }
    // Neighbouring tiles of one tile row make one rectangle.
    for (uint32_t i = 0; i < frame.tileCount;) {
        const SpoolTile& t = frame.tiles[i];
        uint32_t width = t.width;
        uint32_t j = i + 1;
        while (j < frame.tileCount && frame.tiles[j].y == t.y && frame.tiles[j].x == t.x + width) {
            width += frame.tiles[j].width;
            ++j;
        }
        addChange(c, t.x, t.y, width, t.height);
        i = j;
    }

    const bool drawn = frame.cursorPresent == 1;
    const CursorClip now = drawn ? clipCursor(c, cursorX, cursorY) : CursorClip{};
    const bool sameCursor =
        drawn == c.cursorDrawn &&
        (!drawn || (cursorX == c.cursorX && cursorY == c.cursorY &&
                    std::memcmp(frame.cursor, c.cursor.data(), kCursorImageBytes) == 0));
    if (!sameCursor) {
        addCursorChange(c, before);
        addCursorChange(c, now);
    }
    if (drawn) {
        if (!now.empty()) {
            moveUnder(c, now, true);
        }
        if (overlayCursor(c.pixels.data(), c.width, c.height, frame.cursor, cursorX, cursorY) ==
            0) {
            return 0;
        }
        c.cursorX = cursorX;
        c.cursorY = cursorY;
        std::memcpy(c.cursor.data(), frame.cursor, kCursorImageBytes);
    }
    c.cursorDrawn = drawn;
    c.started = true;
    return 1;
}

}  // namespace pemlo
