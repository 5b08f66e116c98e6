// Scripted stand-ins for the screen and the sound device.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "capture/screen_source.h"
#include "capture/sound_recorder.h"
#include "tests/support/memory_file.h"

namespace pemlo::testing {

// Hands a test-owned MemoryFile to code that takes ownership of its file, so the test
// can still look at the bytes after the code has closed and dropped it. A test that
// watches or holds the writes derives from it and overrides write.
class FileView : public File {
  public:
    explicit FileView(MemoryFile& target) : target_(target) {}
    uint32_t write(const void* data, uint32_t count) override { return target_.write(data, count); }
    int64_t read(void* data, uint32_t count) override { return target_.read(data, count); }
    bool seek(uint64_t offset) override { return target_.seek(offset); }
    bool seekEnd() override { return target_.seekEnd(); }
    int64_t tell() override { return target_.tell(); }
    bool close() override { return target_.close(); }
    bool isOpen() const override { return target_.isOpen(); }

  private:
    MemoryFile& target_;
};

inline FilePtr viewOf(MemoryFile& file) {
    return std::make_unique<FileView>(file);
}

// A display of `width` x `height` pixels with `pitch` bytes per row whose content
// changes with every grab, a cursor and a clock that hands out scripted times.
class FakeScreen final : public ScreenSource {
  public:
    FakeScreen(uint32_t width, uint32_t height, uint32_t pitch)
        : width_(width), height_(height), pitch_(pitch), pixels_(size_t{pitch} * height) {
        std::memset(cursorImage.data(), 0, cursorImage.size());
    }

    // Scripted state.
    std::deque<uint32_t> times;  // one is taken per grab and one at the first read
    // When not empty, each grab takes the next of these (pitch x height bytes) instead
    // of the generated content.
    std::deque<std::vector<unsigned char>> scripted;
    CursorState cursor{1, 100, 50};
    int hotspotKnown = 1;
    int32_t hotspotX = 0;
    int32_t hotspotY = 0;
    std::vector<unsigned char> cursorImage = std::vector<unsigned char>(kCursorImageBytes);
    bool failLock = false;
    bool failUnlock = false;
    bool failCursorQuery = false;
    bool failCursorDraw = false;

    // What happened.
    int grabs = 0;
    int unlocks = 0;
    int releases = 0;
    int framesDone = 0;
    bool locked = false;
    // Each grab's content, so reads can be compared with what was recorded.
    std::vector<std::vector<unsigned char>> grabbed;

    int lockFrame(ScreenImage& image) override {
        if (failLock) {
            return 0;
        }
        ++grabs;
        if (!scripted.empty()) {
            pixels_ = scripted.front();
            pixels_.resize(size_t{pitch_} * height_);
            scripted.pop_front();
        } else {
            for (size_t i = 0; i < pixels_.size(); ++i) {
                // Every byte changes from grab to grab.
                pixels_[i] =
                    static_cast<unsigned char>((i / 97 + static_cast<size_t>(grabs) * 7) & 0xFF);
            }
        }
        grabbed.push_back(pixels_);
        image.pixels = pixels_.data();
        image.pitch = pitch_;
        image.width = width_;
        image.height = height_;
        locked = true;
        return 1;
    }
    int unlockFrame() override {
        ++unlocks;
        locked = false;
        return failUnlock ? 0 : 1;
    }
    int queryCursor(CursorState& state) override {
        if (failCursorQuery) {
            return 0;
        }
        state = cursor;
        return 1;
    }
    const unsigned char* drawCursor() override {
        return failCursorDraw ? nullptr : cursorImage.data();
    }
    int cursorHotspot(int32_t& x, int32_t& y) override {
        x = hotspotX;
        y = hotspotY;
        return hotspotKnown;
    }
    uint32_t nowMs() override {
        if (times.empty()) {
            return 0;
        }
        const uint32_t t = times.front();
        times.pop_front();
        return t;
    }
    void frameDone() override { ++framesDone; }
    void release() override { ++releases; }

  private:
    uint32_t width_;
    uint32_t height_;
    uint32_t pitch_;
    std::vector<unsigned char> pixels_;
};

// A wave-input device that records the calls made to it; the test plays the driver by
// filling buffers and handing their notices to onSoundBufferDone.
class FakeSoundDevice final : public SoundDevice {
  public:
    bool failOpen = false;
    int failPrepareAt = -1;
    int failQueueAfter = -1;  // the n-th queue call (counting from 0) fails
    bool failStart = false;
    bool failReset = false;

    std::vector<std::string> calls;
    int queueCalls = 0;
    int releaseCount[kSoundBufferCount] = {};
    bool allocated[kSoundBufferCount] = {};
    std::vector<unsigned char> data[kSoundBufferCount];
    uint32_t recorded[kSoundBufferCount] = {};
    uint32_t clockMs = 0;
    bool opened = false;

    // The token the device would pass in a completion notice for buffer i.
    const void* notice(int i) const { return &data[i]; }

    // Fills buffer i with `bytes` bytes of a counting pattern starting at `first`.
    void fill(int i, uint32_t bytes, unsigned char first) {
        for (uint32_t k = 0; k < bytes && k < data[i].size(); ++k) {
            data[i][k] = static_cast<unsigned char>(first + k);
        }
        recorded[i] = bytes;
    }

    int open() override {
        calls.emplace_back("open");
        if (failOpen) {
            return 0;
        }
        opened = true;
        return 1;
    }
    int isOpen() const override { return opened ? 1 : 0; }
    int prepare(int i) override {
        calls.push_back("prepare" + std::to_string(i));
        if (i == failPrepareAt) {
            return 0;
        }
        data[i].assign(kSoundBufferBytes, 0);
        allocated[i] = true;
        return 1;
    }
    int queue(int i) override {
        calls.push_back("queue" + std::to_string(i));
        return queueCalls++ == failQueueAfter ? 0 : 1;
    }
    int start() override {
        calls.emplace_back("start");
        return failStart ? 0 : 1;
    }
    int reset() override {
        calls.emplace_back("reset");
        return failReset ? 0 : 1;
    }
    int stop() override {
        calls.emplace_back("stop");
        return 1;
    }
    int close() override {
        calls.emplace_back("close");
        opened = false;
        return 1;
    }
    void releaseBuffer(int i) override {
        ++releaseCount[i];
        allocated[i] = false;
    }
    int bufferOf(const void* token) const override {
        for (int i = 0; i < kSoundBufferCount; ++i) {
            if (token == &data[i]) {
                return i;
            }
        }
        return -1;
    }
    const unsigned char* bufferData(int i) const override { return data[i].data(); }
    uint32_t bytesRecorded(int i) const override { return recorded[i]; }
    uint32_t nowMs() override { return clockMs; }
};

}  // namespace pemlo::testing
