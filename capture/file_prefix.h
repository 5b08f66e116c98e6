// The first `length` bytes of a file, read-only: what the output phase reads of a sound
// spool recovered after a crash, whose tail past its last whole buffer is not to be
// trusted. Reads end at the limit; write and seekEnd fail.
#pragma once

#include <cstdint>

#include "platform/file.h"

namespace pemlo {

class FilePrefix final : public File {
  public:
    FilePrefix(FilePtr file, uint64_t length) : file_(std::move(file)), length_(length) {}

    uint32_t write(const void* /*data*/, uint32_t /*count*/) override { return 0; }
    int64_t read(void* data, uint32_t count) override {
        if (file_ == nullptr || at_ >= length_) {
            return file_ == nullptr ? -1 : 0;
        }
        const uint64_t left = length_ - at_;
        const auto want = static_cast<uint32_t>(left < count ? left : count);
        const int64_t got = file_->read(data, want);
        if (got > 0) {
            at_ += static_cast<uint64_t>(got);
        }
        return got;
    }
    bool seek(uint64_t offset) override {
        if (file_ == nullptr || offset > length_ || !file_->seek(offset)) {
            return false;
        }
        at_ = offset;
        return true;
    }
    bool seekEnd() override { return false; }
    int64_t tell() override { return file_ == nullptr ? -1 : static_cast<int64_t>(at_); }
    bool close() override {
        const bool ok = file_ != nullptr && file_->close();
        file_.reset();
        return ok;
    }
    bool isOpen() const override { return file_ != nullptr && file_->isOpen(); }

  private:
    FilePtr file_;
    uint64_t length_;
    uint64_t at_ = 0;
};

}  // namespace pemlo
