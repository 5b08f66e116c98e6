// A file that only counts what is written to it, so that a benchmark measures the
// encoder and not the disk.
#pragma once

#include <cstdint>

#include "platform/file.h"

namespace pemlo::bench {

class SinkFile final : public File {
  public:
    uint64_t size = 0;
    uint64_t pos = 0;
    uint32_t write(const void*, uint32_t count) override {
        pos += count;
        if (pos > size) {
            size = pos;
        }
        return count;
    }
    int64_t read(void*, uint32_t) override { return -1; }
    bool seek(uint64_t offset) override {
        pos = offset;
        return true;
    }
    bool seekEnd() override {
        pos = size;
        return true;
    }
    int64_t tell() override { return static_cast<int64_t>(pos); }
    bool close() override { return true; }
    bool isOpen() const override { return true; }
};

}  // namespace pemlo::bench
