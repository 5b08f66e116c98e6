#include "capture/edited_sound_file.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace pemlo {

namespace {
constexpr uint32_t kStageBytes = 8192;
}

EditedSoundFile::EditedSoundFile(File& spool, std::vector<SoundEdit> edits,
                                 std::vector<SoundCut> cuts)
    : spool_(spool), edits_(std::move(edits)), cuts_(std::move(cuts)) {}

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

double EditedSoundFile::fadeGain(uint64_t position) const {
    constexpr auto fade = static_cast<uint64_t>(kSoundCutFadeSamples);
    double gain = 1.0;
    if (nextCut_ < cuts_.size()) {
        const uint64_t at = cuts_[nextCut_].at;
        if (position < at && at - position <= fade) {
            gain *= static_cast<double>(at - position) / static_cast<double>(fade + 1);
        }
    }
    if (nextCut_ > 0) {
        const SoundCut& cut = cuts_[nextCut_ - 1];
        const uint64_t end = cut.at + cut.count;
        if (position >= end && position - end < fade) {
            gain *= static_cast<double>(position - end + 1) / static_cast<double>(fade + 1);
        }
    }
    return gain;
}

int64_t EditedSoundFile::read(void* data, uint32_t count) {
    if (!open_) {
        return -1;
    }
    if (cuts_.empty()) {
        const int64_t n = readEdited(data, count);
        if (n > 0) {
            delivered_ += static_cast<uint64_t>(n);
        }
        return n;
    }
    auto* out = static_cast<unsigned char*>(data);
    const uint32_t want = count / 2;
    uint32_t done = 0;
    while (done < want) {
        if (nextCut_ < cuts_.size() && timeline_ >= cuts_[nextCut_].at) {
            const SoundCut& cut = cuts_[nextCut_];
            const uint64_t left = cut.count - (timeline_ - cut.at);
            if (left == 0) {
                ++nextCut_;
                continue;
            }
            discard_.resize(kStageBytes);
            const uint64_t chunk = std::min<uint64_t>(left, kStageBytes / 2);
            const int64_t n = readEdited(discard_.data(), static_cast<uint32_t>(chunk * 2));
            if (n < 0) {
                return -1;
            }
            if (n < 2) {
                break;  // the end of the sound
            }
            timeline_ += static_cast<uint64_t>(n) / 2;
            continue;
        }
        uint64_t room = want - done;
        if (nextCut_ < cuts_.size()) {
            room = std::min<uint64_t>(room, cuts_[nextCut_].at - timeline_);
        }
        const int64_t n = readEdited(out + 2 * size_t{done}, static_cast<uint32_t>(room * 2));
        if (n < 0) {
            return -1;
        }
        if (n < 2) {
            break;
        }
        const auto got = static_cast<uint32_t>(n / 2);
        for (uint32_t i = 0; i < got; ++i) {
            const double gain = fadeGain(timeline_ + i);
            if (gain < 1.0) {
                unsigned char* at = out + 2 * size_t{done + i};
                const auto sample = static_cast<int16_t>(at[0] | (at[1] << 8));
                const auto faded = static_cast<int16_t>(std::lround(sample * gain));
                at[0] = static_cast<unsigned char>(static_cast<uint16_t>(faded));
                at[1] = static_cast<unsigned char>(static_cast<uint16_t>(faded) >> 8);
            }
        }
        timeline_ += got;
        done += got;
    }
    delivered_ += 2ULL * done;
    return 2 * static_cast<int64_t>(done);
}

int64_t EditedSoundFile::readEdited(void* data, uint32_t count) {
    if (edits_.empty()) {
        return spool_.read(data, count);
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
    nextCut_ = 0;
    timeline_ = 0;
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
