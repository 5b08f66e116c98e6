// A wave-input device whose buffers live in memory, for running the sound recorder
// where there is no sound hardware (the replay tool, tests): the caller fills buffer i,
// sets recorded[i] (and clockMs, the time the buffer comes back) and hands notice(i) to
// onSoundBufferDone, as the device would.
#pragma once

#include <cstdint>
#include <vector>

#include "capture/sound_recorder.h"

namespace pemlo {

class MemorySoundDevice final : public SoundDevice {
  public:
    std::vector<unsigned char> buffers[kSoundBufferCount];
    uint32_t recorded[kSoundBufferCount] = {};
    uint32_t clockMs = 0;
    bool opened = false;

    // The token the device passes in its completion notice for buffer i.
    const void* notice(int i) const { return &buffers[i]; }

    int open() override {
        opened = true;
        return 1;
    }
    int isOpen() const override { return opened ? 1 : 0; }
    int prepare(int i) override {
        buffers[i].assign(kSoundBufferBytes, 0);
        return 1;
    }
    // A queued buffer starts empty again.
    int queue(int i) override {
        recorded[i] = 0;
        return 1;
    }
    int start() override { return 1; }
    int reset() override { return 1; }
    int stop() override { return 1; }
    int close() override {
        opened = false;
        return 1;
    }
    void releaseBuffer(int i) override { buffers[i].clear(); }
    int bufferOf(const void* token) const override {
        for (int i = 0; i < kSoundBufferCount; ++i) {
            if (token == &buffers[i]) {
                return i;
            }
        }
        return -1;
    }
    const unsigned char* bufferData(int i) const override { return buffers[i].data(); }
    uint32_t bytesRecorded(int i) const override { return recorded[i]; }
    uint32_t nowMs() override { return clockMs; }
};

}  // namespace pemlo
