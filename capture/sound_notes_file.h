// The sound spool's notes on disk: the file beside the sound spool that says how much
// of the spool is whole and when each buffer came back, so that a later start of the
// program can put a recording that was never finished in step with its picture.
//
// Layout, little-endian: "PEMLOSN1", then one record of kSoundNoteBytes for every buffer
// appended to the spool (and every empty one noted while recording), written after its
// sound: the clock reading when the buffer came back, 1 when it came back while
// recording (its clock is a note of the sound timeline) or 0 when the stop handed it
// back, the samples in the spool up to its end (64 bits), the crc32 of the sound bytes
// it added, and the crc32 of the 20 bytes before it. A record that is cut short, whose
// own crc32 fails, whose sample count goes back or grows by more than one buffer, or
// whose sound does not match its crc32 ends what can be read: the sound before it is
// whole.
#pragma once

#include <cstdint>
#include <vector>

#include "capture/sound_timeline.h"
#include "platform/file.h"

namespace pemlo {

inline constexpr const char kSoundNotesMagic[8] = {'P', 'E', 'M', 'L', 'O', 'S', 'N', '1'};
constexpr uint32_t kSoundNoteBytes = 24;

// The note of one buffer: `samples` is the spool's length in samples after it, `soundCrc`
// the crc32 of the bytes it added.
void soundEncodeNote(uint32_t clockMs, int whileRecording, uint64_t samples, uint32_t soundCrc,
                     unsigned char out[kSoundNoteBytes]);

struct RecoveredSound {
    std::vector<SoundNote> notes;  // the notes taken while recording, in order
    uint64_t bytes = 0;            // the whole part of the spool, from its start
};

// Reads `notes` from its start, checking each record against the sound in `spool` (read
// from its start), and stops at the first that fails, never skipping ahead. 1 when
// `notes` starts with the magic (`out` then holds what is whole), 0 otherwise.
int soundReadNotes(File& spool, File& notes, RecoveredSound& out);

}  // namespace pemlo
