// The sound recorder: 22,050 Hz mono 16-bit sound arrives from the wave-input device in
// two alternating buffers of 10,240 bytes and is appended to the sound spool, a
// temporary file that the output phase reads from its start.
//
// The device is reached through SoundDevice (WinMM on Windows, a fake in the tests).
// After stopSoundRecording the device hands back the buffers it still held; each is
// appended (only the bytes recorded into it) and released. soundAllAppended reports when
// the last of them is in the spool, so the output phase waits for it before reading.
#pragma once

#include <cstdint>

#include "platform/file.h"

namespace pemlo {

inline constexpr const char* kSoundSpoolName = "temp_snd.dat";
constexpr uint32_t kSoundBufferBytes = 10240;
constexpr int kSoundBufferCount = 2;
constexpr uint32_t kSoundSampleRate = 22050;

class SoundDevice {
  public:
    virtual ~SoundDevice() = default;

    // Opens the device for 22,050 Hz mono 16-bit PCM. 1 on success.
    virtual int open() = 0;
    virtual int isOpen() const = 0;
    // Allocates buffer `i` (kSoundBufferBytes) and prepares it for the device. 1 on success.
    virtual int prepare(int i) = 0;
    // Hands buffer `i` to the device to be filled. 1 on success.
    virtual int queue(int i) = 0;
    virtual int start() = 0;
    // Stops capturing and hands every queued buffer back at once. 1 on success.
    virtual int reset() = 0;
    virtual int stop() = 0;
    virtual int close() = 0;
    // Undoes prepare and frees buffer `i`.
    virtual void releaseBuffer(int i) = 0;
    // Which buffer a completion notice refers to (0 or 1), -1 for none of ours.
    virtual int bufferOf(const void* notice) const = 0;
    // The data of buffer `i` and how many bytes the device recorded into it.
    virtual const unsigned char* bufferData(int i) const = 0;
    virtual uint32_t bytesRecorded(int i) const = 0;
};

struct SoundRecorder {
    SoundDevice* device = nullptr;           // not owned
    FilePtr spool;                           // the sound spool, open until closeSoundSpool
    int stopping = 1;                        // 0 while recording: returned buffers are queued again
    int queued[kSoundBufferCount] = {0, 0};  // buffer is with the device
    int prepared[kSoundBufferCount] = {0, 0};  // buffer is allocated
    uint64_t bytesAppended = 0;
};

// Opens `device`, prepares and queues both buffers, takes `spool` (a null spool makes
// the first append fail) and starts capturing. 1 on success, 0 on failure.
int startSoundRecording(SoundRecorder& recorder, SoundDevice& device, FilePtr spool);
// Handles the completion notice of one buffer: appends its recorded bytes, then queues
// it again while recording, or releases it once stopping. 1 on success, 0 on failure.
int onSoundBufferDone(SoundRecorder& recorder, const void* notice);
// Stops the device (reset, stop, close); the buffers it returns still arrive through
// onSoundBufferDone. 1 on success (also when the device was never opened), 0 on failure.
int stopSoundRecording(SoundRecorder& recorder);
// 1 once the recording has stopped and every buffer handed back has been appended.
int soundAllAppended(const SoundRecorder& recorder);
// The spool for the output phase (null when there is none).
File* soundSpoolFile(SoundRecorder& recorder);
// Closes (and so deletes) the sound spool and frees any buffer still held. Returns 1.
int closeSoundSpool(SoundRecorder& recorder);

}  // namespace pemlo
