// The recorded sound as the output phase reads it: the sound spool with the timeline's
// edits (silence inserted, samples repeated or left out) applied on the fly, so that the
// spool itself is never rewritten, and then the pauses cut out of it, with
// kSoundCutFadeSamples faded out before and in after each cut.
//
// Read-only: read, seek(0) and tell work on the edited sound; reads deliver whole
// 16-bit samples only; write, seeks elsewhere and seekEnd fail. A read of the spool that
// fails makes the read fail. The spool is not owned and must outlive this file.
#pragma once

#include <cstdint>
#include <vector>

#include "capture/sound_timeline.h"
#include "platform/file.h"

namespace pemlo {

class EditedSoundFile final : public File {
  public:
    EditedSoundFile(File& spool, std::vector<SoundEdit> edits, std::vector<SoundCut> cuts = {});

    uint32_t write(const void* data, uint32_t count) override;
    int64_t read(void* data, uint32_t count) override;
    bool seek(uint64_t offset) override;
    bool seekEnd() override;
    int64_t tell() override;
    bool close() override;
    bool isOpen() const override;

  private:
    // Reads recorded samples into the staging buffer; false on a failed read.
    bool fill();
    // Reads the edited sound before the cuts.
    int64_t readEdited(void* data, uint32_t count);
    // The gain (0 to 1) of the edited sound's sample `position` next to the cuts.
    double fadeGain(uint64_t position) const;

    File& spool_;
    std::vector<SoundEdit> edits_;
    size_t nextEdit_ = 0;
    uint64_t sample_ = 0;  // next recorded sample to hand out
    int64_t pending_ = 0;  // copies of sample_ (Repeat) or zeros (Silence) still due
    bool pendingZero_ = false;
    int64_t skipping_ = 0;               // recorded samples still to leave out
    uint64_t delivered_ = 0;             // bytes handed out since the start
    std::vector<unsigned char> staged_;  // recorded bytes read ahead, from staged sample on
    size_t stagedAt_ = 0;
    bool atEnd_ = false;
    bool open_ = true;
    std::vector<SoundCut> cuts_;
    size_t nextCut_ = 0;     // the first cut not yet passed
    uint64_t timeline_ = 0;  // samples of the edited sound read so far, cut ones included
    std::vector<unsigned char> discard_;
};

}  // namespace pemlo
