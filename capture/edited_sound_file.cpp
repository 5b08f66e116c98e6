#include "capture/edited_sound_file.h"

#include <utility>

namespace pemlo {

namespace {
constexpr uint32_t kStageBytes = 8192;
}

EditedSoundFile::EditedSoundFile(File& spool, std::vector<SoundEdit> edits)
    : spool_(spool), edits_(std::move(edits)) {}

uint32_t EditedSoundFile::write(const void* /*data*/, uint32_t /*count*/) {
    return 0;
}

bool EditedSoundFile::fill() {
    // Keep the part of a sample not yet handed out.
    staged_.erase(staged_.begin(), staged_.begin() + static_cast<std::ptrdiff_t>(stagedAt_));
    stagedAt_ = 0;
    const size_t kept = staged_.size();
    staged_.resize(kept + kStageBytes);
    const int64_t n = spool_.read(staged_.data() + kept, kStageBytes);
    if (n < 0) {
        staged_.resize(kept);
        return false;
    }
    staged_.resize(kept + static_cast<size_t>(n));
    if (n == 0) {
        atEnd_ = true;
    }
    return true;
}

int64_t EditedSoundFile::read(void* data, uint32_t count) {
    if (!open_) {
        return -1;
    }
    if (edits_.empty()) {
        const int64_t n = spool_.read(data, count);
        if (n > 0) {
            delivered_ += static_cast<uint64_t>(n);
        }
        return n;
    }
    auto* out = static_cast<unsigned char*>(data);
    const uint32_t want = count / 2;
    uint32_t done = 0;
    while (done < want) {
        if (pending_ > 0 && pendingZero_) {
            out[2 * done] = 0;
            out[2 * done + 1] = 0;
            ++done;
            --pending_;
            continue;
        }
        if (nextEdit_ < edits_.size() && edits_[nextEdit_].at == sample_ && pending_ == 0 &&
            skipping_ == 0) {
            const SoundEdit& e = edits_[nextEdit_++];
            if (e.kind == SoundEditKind::Skip) {
                skipping_ = e.count;
            } else {
                pending_ = e.count;
                pendingZero_ = e.kind == SoundEditKind::Silence;
            }
            continue;
        }
        while (staged_.size() - stagedAt_ < 2 && !atEnd_) {
            if (!fill()) {
                return -1;
            }
        }
        if (staged_.size() - stagedAt_ < 2) {
            break;  // the end of the recorded sound
        }
        if (skipping_ > 0) {
            stagedAt_ += 2;
            ++sample_;
            --skipping_;
            continue;
        }
        out[2 * done] = staged_[stagedAt_];
        out[2 * done + 1] = staged_[stagedAt_ + 1];
        ++done;
        if (pending_ > 0) {
            --pending_;  // a repeat: the same sample once more
        } else {
            stagedAt_ += 2;
            ++sample_;
        }
    }
    delivered_ += 2ULL * done;
    return 2 * static_cast<int64_t>(done);
}

bool EditedSoundFile::seek(uint64_t offset) {
    if (!open_ || offset != 0 || !spool_.seek(0)) {
        return false;
    }
    nextEdit_ = 0;
    sample_ = 0;
    pending_ = 0;
    pendingZero_ = false;
    skipping_ = 0;
    delivered_ = 0;
    staged_.clear();
    stagedAt_ = 0;
    atEnd_ = false;
    return true;
}

bool EditedSoundFile::seekEnd() {
    return false;
}

int64_t EditedSoundFile::tell() {
    return open_ ? static_cast<int64_t>(delivered_) : -1;
}

bool EditedSoundFile::close() {
    open_ = false;
    return true;
}

bool EditedSoundFile::isOpen() const {
    return open_ && spool_.isOpen();
}

}  // namespace pemlo
