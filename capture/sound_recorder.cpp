// The sound recorder's bookkeeping: which buffers the device holds, appending what comes
// back, and knowing when the last buffer of a stop is in the spool.
#include "capture/sound_recorder.h"

namespace pemlo {
namespace {

void releaseIfPrepared(SoundRecorder& recorder, int i) {
    if (recorder.prepared[i] != 0 && recorder.device != nullptr) {
        recorder.device->releaseBuffer(i);
    }
    recorder.prepared[i] = 0;
}

}  // namespace

int startSoundRecording(SoundRecorder& recorder, SoundDevice& device, FilePtr spool) {
    recorder.device = &device;
    recorder.spool = std::move(spool);
    recorder.bytesAppended = 0;
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

File* soundSpoolFile(SoundRecorder& recorder) {
    return recorder.spool.get();
}

int closeSoundSpool(SoundRecorder& recorder) {
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
