// The bodies of the fuzz targets, shared by the libFuzzer programs (targets/) and by the
// regression suite that replays the seed corpus and every crash found.
#pragma once

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/preview_page.h"
#include "app/replace_all.h"
#include "capture/frame_spool.h"
#include "process/compositing.h"
#include "process/frame_delta.h"
#include "process/growable_buffer.h"
#include "tests/support/memory_file.h"

namespace pemlo::fuzz {

// A broken property: the fuzzer needs a crash, the regression suite a failure.
using FailureHook = void (*)(const char* what);
inline void abortOnFailure(const char* what) {
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::abort();
}
inline FailureHook& failureHook() {
    static FailureHook hook = abortOnFailure;
    return hook;
}
inline void check(bool ok, const char* what) {
    if (!ok) {
        failureHook()(what);
    }
}

// Reads little-endian fields off the front of the input; zeros once it runs out.
class Cursor {
  public:
    Cursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint32_t take(int bytes) {
        uint32_t v = 0;
        for (int i = 0; i < bytes; ++i) {
            const uint32_t b = at_ < size_ ? data_[at_] : 0;
            ++at_;
            v |= b << (8 * i);
        }
        return v;
    }
    const uint8_t* rest() const { return at_ < size_ ? data_ + at_ : data_ + size_; }
    size_t restSize() const { return at_ < size_ ? size_ - at_ : 0; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

class StillScreen final : public ScreenSource {
  public:
    int lockFrame(ScreenImage& /*image*/) override { return 0; }
    int unlockFrame() override { return 1; }
    int queryCursor(CursorState& /*cursor*/) override { return 0; }
    const unsigned char* drawCursor() override { return nullptr; }
    int cursorHotspot(int32_t& /*x*/, int32_t& /*y*/) override { return 0; }
    uint32_t nowMs() override { return 1000; }
};

// Keeps a fuzzed size within 1 MiB either side of zero, so that the reader's own
// checks (not the allocator's limit) decide what happens.
inline int32_t boundedSize(uint32_t raw) {
    return static_cast<int32_t>(raw % (2u << 20)) - (1 << 20);
}

// Spool reader input: one byte of record count (0 to 8), 20 bytes per record (raw size,
// frame block size, cursor block size, tile count and duration, cursor x and y), then
// the capture rectangle (left and top as signed offset bytes, width and height less
// one), then the spool file. Every frame that reads back is also composed onto the
// picture and given its cursor, as the output phase does, and the picture is compared
// with one built from the tiles by hand. Returns the number of frames read back.
inline int spoolReader(const uint8_t* data, size_t size) {
    Cursor in(data, size);
    const int32_t records = static_cast<int32_t>(in.take(1) % 9);
    StillScreen screen;
    FrameSpool spool;
    spool.index = static_cast<FrameRecord*>(std::malloc(sizeof(FrameRecord) * 9));
    spool.indexCapacity = 9;
    for (int32_t i = 0; i < records; ++i) {
        FrameRecord& r = spool.index[i];
        r.rawSize = in.take(4) % (1u << 20);
        r.frameBlockSize = boundedSize(in.take(4));
        const int32_t cursorBlock = boundedSize(in.take(4));
        r.cursorBlockSize = cursorBlock < -1 ? -1 : cursorBlock;
        r.tileCount = in.take(2);
        r.durationMs = static_cast<uint16_t>(in.take(2));
        r.cursorX = static_cast<uint16_t>(in.take(2));
        r.cursorY = static_cast<uint16_t>(in.take(2));
    }
    const auto left = static_cast<int32_t>(in.take(1)) - 16;
    const auto top = static_cast<int32_t>(in.take(1)) - 16;
    const auto width = static_cast<int32_t>(in.take(1)) + 1;
    const auto height = static_cast<int32_t>(in.take(1)) + 1;

    auto file = std::make_unique<testing::MemoryFile>();
    file->bytes.assign(in.rest(), in.rest() + in.restSize());
    file->pos = file->bytes.size();
    spool.file = std::move(file);
    spool.source = &screen;
    spool.count = records;
    spool.lastGrabMs = 900;
    spool.grid = tileGridFor(static_cast<uint32_t>(width), static_cast<uint32_t>(height));

    SpoolFrame frame;
    ComposedFrame composed;
    check(composedFrameSetup(composed, width, height) == 1, "the picture can be set up");
    // The picture without the cursor, rows top-down, as the tiles build it.
    std::vector<uint8_t> clean(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    int frames = 0;
    for (int round = 0; round <= records; ++round) {
        const int ok = spoolReadFrame(spool, frame);
        if (ok != 1) {
            check(spool.file == nullptr && spoolIsBusy(spool) == 1,
                  "a failed read releases the spool and stays busy");
            break;
        }
        ++frames;
        check(frames <= records, "no more frames than records");
        check((frame.last == 1) == (frames == records), "the last flag marks the last record");
        check(frame.tileCount == spool.index[frames - 1].tileCount, "the tiles are the record's");
        for (uint32_t i = 0; i < frame.tileCount; ++i) {
            const SpoolTile& t = frame.tiles[i];
            check(t.x + t.width <= static_cast<uint32_t>(width) &&
                      t.y + t.height <= static_cast<uint32_t>(height),
                  "tiles lie inside the rectangle");
            for (uint32_t y = 0; y < t.height; ++y) {
                std::memcpy(
                    &clean[(static_cast<size_t>(t.y + y) * static_cast<size_t>(width) + t.x) * 3],
                    t.pixels + static_cast<size_t>(y) * t.width * 3,
                    static_cast<size_t>(t.width) * 3);
            }
        }
        const int32_t cursorX = static_cast<int16_t>(frame.cursorX) - left;
        const int32_t cursorY = static_cast<int16_t>(frame.cursorY) - top;
        check(composeFrame(composed, frame, cursorX, cursorY) == 1,
              "every frame read back can be composed");
        std::vector<uint8_t> expected(clean.size());
        const size_t row = static_cast<size_t>(width) * 3;
        for (int32_t y = 0; y < height; ++y) {
            std::memcpy(&expected[static_cast<size_t>(height - 1 - y) * row],
                        &clean[static_cast<size_t>(y) * row], row);
        }
        if (frame.cursorPresent == 1) {
            overlayCursor(expected.data(), width, height, frame.cursor, cursorX, cursorY);
        }
        check(std::memcmp(expected.data(), composed.pixels.data(), expected.size()) == 0,
              "the composed picture is the tiles with the cursor on top");
        if (frame.last == 1) {
            break;
        }
    }
    captureRelease(spool);
    return frames;
}

// replaceAll as the plain string operation it stands for.
inline std::string replacedNaively(const std::string& text, const std::string& key,
                                   const std::string& value) {
    std::string out;
    size_t at = 0;
    for (;;) {
        const size_t hit = text.find(key, at);
        if (hit == std::string::npos) {
            break;
        }
        out.append(text, at, hit - at);
        out += value;
        at = hit + key.size();
    }
    out.append(text, at, std::string::npos);
    return out;
}

// Undoes escapeJavaScript; false for anything it could not have produced.
inline bool unescapeJavaScript(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (i + 3 < text.size() && text[i + 1] == 'x') {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            return false;
        }
    }
    return true;
}

// Page filling input: up to three NUL-separated texts (the template, the output path,
// the thumbnail path), then the output size in the last bytes. The first fifth also
// serves as a key and value for replaceAll on its own.
inline int pageFilling(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts;
    size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        const size_t nul = input.find('\0', at);
        if (nul == std::string::npos || i == 2) {
            parts.push_back(
                input.substr(at, nul == std::string::npos ? std::string::npos : nul - at));
            break;
        }
        parts.push_back(input.substr(at, nul - at));
        at = nul + 1;
    }
    parts.resize(3);

    // replaceAll against the string operation, with key and value cut from the input.
    {
        const std::string& text = parts[0];
        const size_t keyLength = text.empty() ? 0 : 1 + static_cast<size_t>(data[0]) % 4;
        const std::string key = text.substr(0, keyLength);
        const std::string value = parts[1].substr(0, 64);
        char* buffer = static_cast<char*>(std::malloc(text.size() + 1));
        std::memcpy(buffer, text.data(), text.size());
        size_t length = text.size();
        int replaced = -1;
        const int result = replaceAll(buffer, length, key.c_str(), value.c_str(), &replaced);
        check(result == 0, "replaceAll succeeds with memory to spare");
        const std::string got(buffer, length);
        std::free(buffer);
        if (!key.empty() && key.find('\0') == std::string::npos) {
            check(got == replacedNaively(text, key, value), "replaceAll replaces every match");
            check(replaced >= 1, "the key at the start is counted");
        } else {
            check(got == text && replaced == 0, "an empty key changes nothing");
        }
    }

    // The page: values escaped for where they land, then the template filled in order.
    const int width = size >= 2 ? static_cast<int>(data[size - 2]) * 16 : 0;
    const int height = size >= 1 ? static_cast<int>(data[size - 1]) * 16 : 0;
    PreviewPageValues values;
    makePreviewPageValues(values, width, height, parts[1].c_str(), parts[2].c_str());
    const std::string path = parts[1].substr(0, parts[1].find('\0'));
    const std::string bmp = parts[2].substr(0, parts[2].find('\0'));
    std::string back;
    check(unescapeJavaScript(values.escFile, back) && back == path,
          "the script string of the output path reads back as the path");
    check(unescapeJavaScript(values.bmp, back) && back == bmp,
          "the script string of the thumbnail path reads back as the path");
    for (const std::string* v : {&values.escFile, &values.bmp, &values.file}) {
        check(v->find_first_of("\"'<>&#\r\n") == std::string::npos,
              "no escaped value can end its string, tag or placeholder");
    }
    std::string decoded;
    for (std::size_t i = 0; i < values.file.size(); ++i) {
        const auto c = static_cast<unsigned char>(values.file[i]);
        check(c >= 0x20 && c != 0x7F && c != '+', "the query path holds no control or plus");
        if (c == '%') {
            if (values.file.size() - i <= 2) {
                check(false, "an escape is whole");
                break;
            }
            decoded += static_cast<char>(std::stoi(values.file.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded += static_cast<char>(c);
        }
    }
    check(decoded == path, "the query path decodes back to the path");

    const char* pairs[kPreviewPairEntries];
    previewPagePairs(values, pairs);
    testing::MemoryFile page;
    const int written =
        writeFilledResource(page, parts[0].data(), parts[0].size(), pairs, kPreviewPairEntries);
    check(written == 1, "the page is written");
    std::string expected = parts[0];
    for (int i = 0; i < kPreviewPairEntries; i += 2) {
        expected = replacedNaively(expected, pairs[i], pairs[i + 1]);
    }
    check(std::string(page.bytes.begin(), page.bytes.end()) == expected,
          "the page is the template with every placeholder filled in order");
    return 0;
}

}  // namespace pemlo::fuzz
