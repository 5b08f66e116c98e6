// The sound timeline: where the recorded sound belongs on the recording's own
// millisecond clock (the clock the frame durations come from), and the edits that put
// it there.
//
// While recording, every buffer the device hands back gives one note: the clock reading
// when it came back and the number of samples recorded up to its end. A buffer comes
// back only after its last sample was captured, so a note is a latest possible capture
// time; a late notice (a busy interface thread, a slow driver) makes a note later, never
// earlier. The lower envelope of the notes is therefore the device's own timeline. A step
// up in it is sound the device lost (a dropout, a stall); a slow slope is a device clock
// running fast or slow against the recording's clock; scattered late notices (arrival
// jitter, even a stall of a few buffers that loses nothing) leave it where it is.
//
// The envelope, taken as the time each sample was captured, says where it belongs in the
// video: the sample captured at clock t is heard at t - videoOriginMs (the clock of the
// first frame). The first sample is heard with the first frame, as it always was, when
// the device began capturing before that frame (it is started a timer period before the
// first grab): a device that keeps time gives the very same sound. A device that began
// capturing after the first frame (under Wine that can be more than a second) has lost
// the sound in between, and that start is placed by the envelope like any other loss.
// What the envelope cannot see is the shortest delay between a buffer's last sample and
// its notice (the driver's period, some milliseconds): by that much such a start may
// come late.
// planSoundEdits turns this into edits of the recorded sound:
//   - a difference of more than one audio packet (1,024 samples, 46 ms) is mended at once
//     where it appears: a shortfall with silence, a surplus by skipping samples;
//   - a smaller one beyond kSoundDriftStartMs is mended by repeating or dropping single
//     samples spread over the buffers (at most kSoundDriftSamplesPerBuffer each) until
//     it is within kSoundDriftStopMs;
//   - anything within kSoundDriftStartMs is left alone: a device that keeps time gives no
//     edit at all, and its sound is used exactly as recorded.
// Edits are sorted by position and never overlap.
//
// Pauses (the device keeps running through them, so the notes stay whole) are cut from
// the edited sound by planSoundCuts at the instants the picture is cut: the sound
// captured while paused goes. Each cut's place and length come from the clock readings
// and the running total of the time paused, never from adding rounded parts, so the
// error stays within a sample however many pauses there are.
#pragma once

#include <cstdint>
#include <vector>

#include "capture/pause_span.h"

namespace pemlo {

inline constexpr double kSoundSamplesPerMs = 22.05;
inline constexpr int64_t kSoundPacketSamples = 1024;
inline constexpr double kSoundDriftStartMs = 30.0;
inline constexpr double kSoundDriftStopMs = 5.0;
inline constexpr int64_t kSoundDriftSamplesPerBuffer = 20;
// Notes looked ahead for the envelope: about 19 s of 10,240-byte buffers.
inline constexpr int kSoundEnvelopeNotes = 80;
// Notes a step of the envelope needs on either side: about 5.6 s. A dropout in the last
// seconds of a recording is not mended.
inline constexpr int kSoundStepNotes = 24;

struct SoundNote {
    uint32_t clockMs = 0;  // when the buffer came back (wraps at 32 bits)
    uint64_t samples = 0;  // samples recorded up to the end of that buffer
};

enum class SoundEditKind {
    Silence,  // `count` zero samples inserted before sample `at`
    Repeat,   // sample `at` given `count` more times
    Skip,     // `count` samples from `at` on left out
};

struct SoundEdit {
    uint64_t at = 0;  // position in the recorded sound, in samples
    SoundEditKind kind = SoundEditKind::Silence;
    int64_t count = 0;

    bool operator==(const SoundEdit&) const = default;
};

// The edits for `notes` (in the order the buffers came back) against a first frame at
// clock `videoOriginMs`. No notes, no edits.
std::vector<SoundEdit> planSoundEdits(const std::vector<SoundNote>& notes, uint32_t videoOriginMs);

// One cut of the edited sound: `count` samples from position `at` on (positions in the
// edited sound before any cut) are left out.
struct SoundCut {
    uint64_t at = 0;
    uint64_t count = 0;

    bool operator==(const SoundCut&) const = default;
};
// Samples faded out before and in after each cut, so that no join clicks (3 ms).
inline constexpr int64_t kSoundCutFadeSamples = 66;

// The cuts for `pauses` (in order, on the clock of `notes`) of the sound that
// planSoundEdits(notes, videoOriginMs) edits: the sound captured from each pause's
// beginning to its end, everything after an open pause. Sorted, never overlapping.
std::vector<SoundCut> planSoundCuts(const std::vector<SoundNote>& notes, uint32_t videoOriginMs,
                                    const std::vector<PauseSpan>& pauses);

// Where recorded sample `sample` ends up in the edited sound (the samples inserted and
// left out before it counted). A skipped sample reports the position it would have had.
int64_t editedPosition(const std::vector<SoundEdit>& edits, uint64_t sample);

}  // namespace pemlo
