// Encoding and checking of the sound spool's notes on disk.
#include "capture/sound_notes_file.h"

#include <zlib.h>

#include <cstring>

#include "capture/sound_recorder.h"
#include "capture/spool_index.h"
#include "platform/byte_order.h"

namespace pemlo {

void soundEncodeNote(uint32_t clockMs, int whileRecording, uint64_t samples, uint32_t soundCrc,
                     unsigned char out[kSoundNoteBytes]) {
    putLe32(out, clockMs);
    putLe32(out + 4, whileRecording != 0 ? 1 : 0);
    putLe32(out + 8, static_cast<uint32_t>(samples));
    putLe32(out + 12, static_cast<uint32_t>(samples >> 32));
    putLe32(out + 16, soundCrc);
    putLe32(out + 20, static_cast<uint32_t>(crc32(0, out, 20)));
}

int soundReadNotes(File& spool, File& notes, RecoveredSound& out) {
    out = RecoveredSound{};
    unsigned char magic[8];
    if (!notes.seek(0) || !spool.seek(0) || notes.read(magic, 8) != 8 ||
        std::memcmp(magic, kSoundNotesMagic, 8) != 0) {
        return 0;
    }
    std::vector<unsigned char> sound(kSoundBufferBytes);
    for (;;) {
        unsigned char note[kSoundNoteBytes];
        if (notes.read(note, kSoundNoteBytes) != int64_t{kSoundNoteBytes} ||
            getLe32(note + 20) != static_cast<uint32_t>(crc32(0, note, 20))) {
            break;
        }
        const uint64_t samples = getLe32(note + 8) | uint64_t{getLe32(note + 12)} << 32;
        if (samples * 2 < out.bytes || samples * 2 - out.bytes > kSoundBufferBytes) {
            break;
        }
        const auto added = static_cast<uint32_t>(samples * 2 - out.bytes);
        if (added > 0 && spool.read(sound.data(), added) != int64_t{added}) {
            break;
        }
        if (static_cast<uint32_t>(crc32(0, added > 0 ? sound.data() : nullptr, added)) !=
            getLe32(note + 16)) {
            break;
        }
        out.bytes = samples * 2;
        if (getLe32(note + 4) == 1) {
            out.notes.push_back({getLe32(note), samples});
        }
    }
    return 1;
}

}  // namespace pemlo
