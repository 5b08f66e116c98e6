// The sound recorder: 22,050 Hz mono 16-bit sound arrives from the wave-input device in
// kSoundBufferCount buffers of 10,240 bytes (about 1.9 s in flight, each queued again as
// soon as it comes back) and is appended to the sound spool, a temporary file that the
// output phase reads from its start.
//
// The device is reached through SoundDevice (WinMM on Windows, a fake in the tests).
// Every buffer that comes back also gives the sound timeline a note (the device's clock
// and the samples so far; see capture/sound_timeline.h). After stopSoundRecording the
// device hands back the buffers it still held; each is appended (only the bytes recorded
// into it) and released. soundReadyForOutput reports when the output phase may read:
// once the last of them is in the spool, or once the wait has lasted kSoundStopWaitMs,
// after which buffers still out are ignored and the recording goes on with the sound so
// far. soundSpoolFile then gives the sound with the timeline's edits applied.
//
// With a notes file (the program's recordings), every appended buffer's note also goes
// to disk after its sound, with crc32s (capture/sound_notes_file.h), and
// soundOpenRecorded takes up a recording that was never finished from the two files.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "capture/sound_timeline.h"
#include "platform/file.h"

namespace pemlo {

inline constexpr const char* kSoundSpoolName = "temp_snd.dat";
inline constexpr const char* kSoundNotesName = "temp_snd.idx";
constexpr uint32_t kSoundBufferBytes = 10240;
constexpr int kSoundBufferCount = 8;
constexpr uint32_t kSoundSampleRate = 22050;
// How long the output phase waits after the stop for buffers the device still holds.
constexpr uint32_t kSoundStopWaitMs = 3000;

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
    // Which buffer a completion notice refers to (0 to kSoundBufferCount - 1), -1 for
    // none of ours.
    virtual int bufferOf(const void* notice) const = 0;
    // The data of buffer `i` and how many bytes the device recorded into it.
    virtual const unsigned char* bufferData(int i) const = 0;
    virtual uint32_t bytesRecorded(int i) const = 0;
    // The recording's millisecond clock (the one the frames are timed with).
    virtual uint32_t nowMs() = 0;
};

struct SoundRecorder {
    SoundDevice* device = nullptr;         // not owned
    FilePtr spool;                         // the sound spool, open until closeSoundSpool
    FilePtr notesFile;                     // the notes on disk; null for none
    int stopping = 1;                      // 0 while recording: returned buffers are queued again
    int queued[kSoundBufferCount] = {};    // buffer is with the device
    int prepared[kSoundBufferCount] = {};  // buffer is allocated
    uint64_t bytesAppended = 0;
    std::vector<SoundNote> notes;  // one per buffer appended while recording
    uint32_t startMs = 0;          // the clock when the device was started (for reports)
    int hasVideoOrigin = 0;        // the first frame's clock is known
    uint32_t videoOriginMs = 0;
    int sealed = 0;                 // the output phase may read: nothing more is appended
    std::vector<PauseSpan> pauses;  // cut from the sound, on the frames' clock
    std::vector<SoundEdit> edits;
    std::vector<SoundCut> cuts;
    std::unique_ptr<File> edited;  // the spool with the edits applied, when there are any
};

// Opens `device`, prepares and queues both buffers, takes `spool` (a null spool makes
// the first append fail) and `notes` (null: the notes stay in memory; otherwise its
// magic is written first, and a failed write fails the start) and starts capturing.
// 1 on success, 0 on failure.
int startSoundRecording(SoundRecorder& recorder, SoundDevice& device, FilePtr spool,
                        FilePtr notes = nullptr);
// Takes up the sound of a recording that was never finished: the whole part of `spool`
// as `notes` vouches for it (soundReadNotes), with the notes taken while recording, as
// after a stop whose buffers have all come back. 1 on success, 0 when `notes` is not a
// notes file. `notes` is not kept.
int soundOpenRecorded(SoundRecorder& recorder, FilePtr spool, File& notes);
// Second handles on the sound spool and its notes, appended to `out` (as
// spoolDuplicateFiles). 1 when every open file could be duplicated.
int soundDuplicateFiles(SoundRecorder& recorder, std::vector<FilePtr>& out);
// Handles the completion notice of one buffer: appends its recorded bytes, then queues
// it again while recording, or releases it once stopping. 1 on success, 0 on failure.
int onSoundBufferDone(SoundRecorder& recorder, const void* notice);
// Stops the device (reset, stop, close); the buffers it returns still arrive through
// onSoundBufferDone. 1 on success (also when the device was never opened), 0 on failure.
int stopSoundRecording(SoundRecorder& recorder);
// 1 once the recording has stopped and every buffer handed back has been appended.
int soundAllAppended(const SoundRecorder& recorder);
// The clock reading of the first frame, the moment the video starts; the sound is put in
// step with it. Without it the sound is used as recorded.
void soundSetVideoOrigin(SoundRecorder& recorder, uint32_t clockMs);
// The recording's pauses (on the clock of the frames, as the frame spool keeps them):
// the sound captured while paused is cut out, at the same instants as the picture.
void soundSetPauses(SoundRecorder& recorder, std::vector<PauseSpan> pauses);
// After the stop, `waitedMs` after the wait for the last buffers began: 1 once the output
// phase may read the sound (every buffer is back, or the wait has reached
// kSoundStopWaitMs and buffers still out will be ignored), with the timeline's edits
// planned; 0 while the wait goes on.
int soundReadyForOutput(SoundRecorder& recorder, uint32_t waitedMs);
// The sound for the output phase (null when there is none): the spool, with the
// timeline's edits and the pauses' cuts applied once soundReadyForOutput has planned
// some.
File* soundSpoolFile(SoundRecorder& recorder);
// Closes the sound spool and its notes (they stay on disk) and frees any buffer still
// held. Returns 1.
int closeSoundSpool(SoundRecorder& recorder);

}  // namespace pemlo
