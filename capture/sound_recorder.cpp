// The sound recorder's bookkeeping: which buffers the device holds, appending what comes
// back, and knowing when the last buffer of a stop is in the spool.
#include "capture/sound_recorder.h"

#include <zlib.h>

#include "capture/edited_sound_file.h"
#include "capture/file_prefix.h"
#include "capture/sound_notes_file.h"

namespace pemlo {
namespace {

void releaseIfPrepared(SoundRecorder& recorder, int i) {
    if (recorder.prepared[i] != 0 && recorder.device != nullptr) {
        recorder.device->releaseBuffer(i);
    }
    recorder.prepared[i] = 0;
}

}  // namespace

// Writes the note of a buffer that added `bytes` bytes from `data` to the notes file.
bool writeNote(SoundRecorder& recorder, uint32_t clockMs, const unsigned char* data,
               uint32_t bytes) {
    if (recorder.notesFile == nullptr) {
        return true;
    }
    unsigned char note[kSoundNoteBytes];
    soundEncodeNote(clockMs, recorder.stopping == 0 ? 1 : 0, recorder.bytesAppended / 2,
                    static_cast<uint32_t>(crc32(0, bytes > 0 ? data : nullptr, bytes)), note);
    return recorder.notesFile->write(note, kSoundNoteBytes) == kSoundNoteBytes;
}

int startSoundRecording(SoundRecorder& recorder, SoundDevice& device, FilePtr spool,
                        FilePtr notes) {
    recorder.device = &device;
    recorder.spool = std::move(spool);
    recorder.notesFile = std::move(notes);
    recorder.bytesAppended = 0;
    recorder.notes.clear();
    recorder.pauses.clear();
    recorder.sealed = 0;
    if (recorder.notesFile != nullptr && recorder.notesFile->write(kSoundNotesMagic, 8) != 8) {
        return 0;
    }
    if (!device.open()) {
        return 0;
    }
    for (int i = 0; i < kSoundBufferCount; ++i) {
        if (!device.prepare(i)) {
            return 0;
        }
        recorder.prepared[i] = 1;
        if (!device.queue(i)) {
            return 0;
        }
        recorder.queued[i] = 1;
    }
    recorder.stopping = 0;
    recorder.startMs = device.nowMs();
    return device.start() ? 1 : 0;
}

int onSoundBufferDone(SoundRecorder& recorder, const void* notice) {
    if (recorder.device == nullptr) {
        return 0;
    }
    SoundDevice& device = *recorder.device;
    const int i = device.bufferOf(notice);
    if (i < 0 || i >= kSoundBufferCount) {
        return 0;
    }
    if (recorder.queued[i] == 0) {
        // Not ours to handle any more (already appended and released): appending it
        // again would duplicate its sound.
        return 1;
    }
    recorder.queued[i] = 0;
    if (recorder.sealed != 0) {
        // Back after the output phase gave up waiting for it: its sound is not used.
        releaseIfPrepared(recorder, i);
        return 1;
    }

    uint32_t bytes = device.bytesRecorded(i);
    if (bytes > kSoundBufferBytes) {
        bytes = kSoundBufferBytes;
    }
    int ok = 1;
    if (bytes > 0) {
        const unsigned char* data = device.bufferData(i);
        if (recorder.spool == nullptr || data == nullptr ||
            recorder.spool->write(data, bytes) != bytes) {
            ok = 0;
        } else {
            recorder.bytesAppended += bytes;
        }
    }
    if (ok && (recorder.stopping == 0 || bytes > 0)) {
        const uint32_t now = device.nowMs();
        if (!writeNote(recorder, now, device.bufferData(i), bytes)) {
            ok = 0;
        } else if (recorder.stopping == 0) {
            // The buffers the stop hands back come back at once, whatever they hold:
            // their notices tell nothing about when their sound was captured.
            recorder.notes.push_back({now, recorder.bytesAppended / 2});
        }
    }
    if (recorder.stopping != 0) {
        releaseIfPrepared(recorder, i);
        return ok;
    }
    if (!ok) {
        return 0;
    }
    if (!device.queue(i)) {
        return 0;
    }
    recorder.queued[i] = 1;
    return 1;
}

int stopSoundRecording(SoundRecorder& recorder) {
    recorder.stopping = 1;
    if (recorder.device == nullptr || !recorder.device->isOpen()) {
        return 1;
    }
    SoundDevice& device = *recorder.device;
    if (!device.reset() || !device.stop() || !device.close()) {
        return 0;
    }
    return 1;
}

int soundAllAppended(const SoundRecorder& recorder) {
    if (recorder.stopping == 0) {
        return 0;
    }
    for (int i = 0; i < kSoundBufferCount; ++i) {
        if (recorder.queued[i] != 0) {
            return 0;
        }
    }
    return 1;
}

void soundSetVideoOrigin(SoundRecorder& recorder, uint32_t clockMs) {
    recorder.hasVideoOrigin = 1;
    recorder.videoOriginMs = clockMs;
}

void soundSetPauses(SoundRecorder& recorder, std::vector<PauseSpan> pauses) {
    recorder.pauses = std::move(pauses);
}

int soundReadyForOutput(SoundRecorder& recorder, uint32_t waitedMs) {
    if (recorder.sealed != 0) {
        return 1;
    }
    if (recorder.stopping == 0 || (!soundAllAppended(recorder) && waitedMs < kSoundStopWaitMs)) {
        return 0;
    }
    recorder.sealed = 1;
    recorder.edits.clear();
    recorder.cuts.clear();
    recorder.edited.reset();
    if (recorder.hasVideoOrigin != 0 && recorder.spool != nullptr) {
        recorder.edits = planSoundEdits(recorder.notes, recorder.videoOriginMs);
        recorder.cuts = planSoundCuts(recorder.notes, recorder.videoOriginMs, recorder.pauses);
        if (!recorder.edits.empty() || !recorder.cuts.empty()) {
            recorder.edited =
                std::make_unique<EditedSoundFile>(*recorder.spool, recorder.edits, recorder.cuts);
        }
    }
    return 1;
}

File* soundSpoolFile(SoundRecorder& recorder) {
    if (recorder.edited != nullptr) {
        return recorder.edited.get();
    }
    return recorder.spool.get();
}

int soundOpenRecorded(SoundRecorder& recorder, FilePtr spool, File& notes) {
    RecoveredSound sound;
    if (spool == nullptr || soundReadNotes(*spool, notes, sound) != 1 || !spool->seek(0)) {
        return 0;
    }
    closeSoundSpool(recorder);
    recorder.device = nullptr;
    recorder.spool = std::make_unique<FilePrefix>(std::move(spool), sound.bytes);
    recorder.bytesAppended = sound.bytes;
    recorder.notes = std::move(sound.notes);
    recorder.stopping = 1;
    recorder.sealed = 0;
    return 1;
}

int soundDuplicateFiles(SoundRecorder& recorder, std::vector<FilePtr>& out) {
    return duplicateFiles({recorder.spool.get(), recorder.notesFile.get()}, out);
}

int closeSoundSpool(SoundRecorder& recorder) {
    recorder.edited.reset();
    if (recorder.notesFile != nullptr) {
        recorder.notesFile->close();
        recorder.notesFile.reset();
    }
    if (recorder.spool != nullptr) {
        recorder.spool->close();
        recorder.spool.reset();
    }
    // Buffers may be freed only once the device can no longer write into them.
    if (recorder.device != nullptr && !recorder.device->isOpen()) {
        for (int i = 0; i < kSoundBufferCount; ++i) {
            recorder.queued[i] = 0;
            releaseIfPrepared(recorder, i);
        }
    }
    recorder.stopping = 1;
    return 1;
}

}  // namespace pemlo
