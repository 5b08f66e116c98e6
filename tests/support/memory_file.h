// An in-memory file for tests, with an optional fault: after a given number of bytes
// written (or read) every further write (or read) comes up short or fails.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/file.h"

namespace pemlo::testing {

class MemoryFile final : public File {
  public:
    std::vector<unsigned char> bytes;
    uint64_t pos = 0;
    bool open = true;
    // Writing stops once this many bytes have been written in all (a short write).
    uint64_t writeBudget = std::numeric_limits<uint64_t>::max();
    // Reading fails (-1) once this many bytes have been read in all.
    uint64_t readBudget = std::numeric_limits<uint64_t>::max();
    // Every seek fails when set.
    bool failSeeks = false;
    uint64_t written = 0;
    uint64_t readTotal = 0;
    int writeCalls = 0;

    uint32_t write(const void* data, uint32_t count) override {
        ++writeCalls;
        if (!open) {
            return 0;
        }
        const uint64_t left = writeBudget > written ? writeBudget - written : 0;
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(count, left));
        if (pos + n > bytes.size()) {
            bytes.resize(pos + n);
        }
        if (n > 0) {
            std::memcpy(bytes.data() + pos, data, n);
        }
        pos += n;
        written += n;
        return n;
    }
    int64_t read(void* data, uint32_t count) override {
        if (!open) {
            return -1;
        }
        const uint64_t avail = pos < bytes.size() ? bytes.size() - pos : 0;
        auto n = static_cast<uint32_t>(std::min<uint64_t>(count, avail));
        if (readTotal + n > readBudget) {
            return -1;
        }
        if (n > 0) {
            std::memcpy(data, bytes.data() + pos, n);
        }
        pos += n;
        readTotal += n;
        return n;
    }
    bool seek(uint64_t offset) override {
        if (!open || failSeeks) {
            return false;
        }
        pos = offset;
        return true;
    }
    bool seekEnd() override {
        if (!open || failSeeks) {
            return false;
        }
        pos = bytes.size();
        return true;
    }
    int64_t tell() override { return open ? static_cast<int64_t>(pos) : -1; }
    bool close() override {
        const bool was = open;
        open = false;
        return was;
    }
    bool isOpen() const override { return open; }
};

}  // namespace pemlo::testing
