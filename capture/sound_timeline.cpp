#include "capture/sound_timeline.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace pemlo {

namespace {

double lowest(const std::vector<double>& start, size_t from, size_t to) {
    return *std::min_element(start.begin() + static_cast<std::ptrdiff_t>(from),
                             start.begin() + static_cast<std::ptrdiff_t>(to));
}

// The lowest apparent start over each note and the kSoundEnvelopeNotes that follow it.
std::vector<double> lookahead(const std::vector<double>& start) {
    const size_t n = start.size();
    std::vector<double> out(n);
    for (size_t j = 0; j < n; ++j) {
        out[j] = lowest(start, j, std::min(n, j + kSoundEnvelopeNotes + 1));
    }
    return out;
}

// The lower envelope at each note, in ms against the video origin: the lowest apparent
// start over the note and the ones that follow. It steps where that changes by more than
// a packet from one note to the next (sound lost, or a surplus), provided at least
// kSoundStepNotes notes follow. Near the end the window shrinks down to kSoundStepNotes
// notes, then reaches back (but not across the last step).
std::vector<double> envelope(const std::vector<double>& start) {
    const size_t n = start.size();
    const double packetMs = static_cast<double>(kSoundPacketSamples) / kSoundSamplesPerMs;
    std::vector<double> out = lookahead(start);
    size_t stretch = 0;  // the first note after the last step
    for (size_t j = 1; j < n && j + kSoundStepNotes <= n; ++j) {
        if (std::abs(out[j] - out[j - 1]) > packetMs) {
            stretch = j;
        }
    }
    // The last notes: the window may not shrink below kSoundStepNotes, nor reach back
    // across the last step.
    const size_t k = kSoundStepNotes;
    if (n > k) {
        for (size_t j = std::max(stretch, n - k); j < n; ++j) {
            out[j] = lowest(start, std::max(stretch, n - k), n);
        }
    }
    return out;
}

// Apparent start of the sound at each note: when sample 0 would have been captured had
// the device lost nothing and kept the nominal rate, in ms against the video origin.
std::vector<double> apparentStarts(const std::vector<SoundNote>& notes, uint32_t videoOriginMs) {
    std::vector<double> start(notes.size());
    for (size_t j = 0; j < notes.size(); ++j) {
        const auto since = static_cast<int32_t>(notes[j].clockMs - videoOriginMs);
        start[j] = since - static_cast<double>(notes[j].samples) / kSoundSamplesPerMs;
    }
    return start;
}

// Sound captured before the first frame keeps its place from the first frame on; only a
// late start is moved. The edited sound heard at t ms was captured at t + base.
double baseOf(const std::vector<double>& level) {
    return std::min(level[0], 0.0);
}

}  // namespace

std::vector<SoundCut> planSoundCuts(const std::vector<SoundNote>& notes, uint32_t videoOriginMs,
                                    const std::vector<PauseSpan>& pauses) {
    std::vector<SoundCut> cuts;
    const double base =
        notes.empty() ? 0.0 : baseOf(envelope(apparentStarts(notes, videoOriginMs)));
    int64_t pausedMs = 0;  // the running total of the time paused, exact
    int64_t cutSoFar = 0;  // samples cut so far: always that total in samples, rounded
    for (const PauseSpan& pause : pauses) {
        const auto beginMs = static_cast<int32_t>(pause.beginMs - videoOriginMs);
        int64_t at = std::max<int64_t>(0, std::llround((beginMs - base) * kSoundSamplesPerMs));
        // A pause that begins the very moment the one before ended (within the rounding)
        // goes on from where that one's cut ends.
        if (!cuts.empty()) {
            at = std::max<int64_t>(at, static_cast<int64_t>(cuts.back().at + cuts.back().count));
        }
        if (pause.ended == 0) {
            cuts.push_back({static_cast<uint64_t>(at),
                            std::numeric_limits<uint64_t>::max() - static_cast<uint64_t>(at)});
            break;
        }
        pausedMs += static_cast<int32_t>(pause.endMs - pause.beginMs);
        const int64_t total = std::llround(static_cast<double>(pausedMs) * kSoundSamplesPerMs);
        if (total > cutSoFar) {
            cuts.push_back({static_cast<uint64_t>(at), static_cast<uint64_t>(total - cutSoFar)});
        }
        cutSoFar = std::max(cutSoFar, total);
    }
    return cuts;
}

std::vector<SoundEdit> planSoundEdits(const std::vector<SoundNote>& notes, uint32_t videoOriginMs) {
    std::vector<SoundEdit> edits;
    if (notes.empty()) {
        return edits;
    }
    const std::vector<double> start = apparentStarts(notes, videoOriginMs);
    const std::vector<double> level = envelope(start);
    const double base = baseOf(level);

    const auto drift = static_cast<int64_t>(kSoundDriftStartMs * kSoundSamplesPerMs);
    const auto settled = static_cast<int64_t>(kSoundDriftStopMs * kSoundSamplesPerMs);
    int64_t shift = 0;  // samples inserted minus samples left out so far
    bool mending = false;
    bool owing = false;  // a cut went beyond its buffer: the next ones go on with it
    uint64_t begin = 0;
    for (size_t j = 0; j < notes.size(); ++j) {
        const uint64_t end = std::max(notes[j].samples, begin);
        const auto length = static_cast<int64_t>(end - begin);
        const auto want =
            static_cast<int64_t>(std::llround((level[j] - base) * kSoundSamplesPerMs));
        const int64_t gap = want - shift;
        const bool carry = owing && length > 0;
        if (length > 0) {
            owing = false;
        }
        if (length > 0 && (std::llabs(gap) > kSoundPacketSamples || (carry && gap < 0))) {
            if (gap > 0) {
                edits.push_back({begin, SoundEditKind::Silence, gap});
                shift += gap;
            } else {
                // What this buffer cannot give up is left out of the next ones.
                const int64_t cut = std::min(-gap, length);
                edits.push_back({begin, SoundEditKind::Skip, cut});
                shift -= cut;
                owing = cut < -gap;
            }
            mending = false;
        } else if (length > 0 &&
                   (std::llabs(gap) > drift || (mending && std::llabs(gap) > settled))) {
            mending = true;
            const int64_t k =
                std::min<int64_t>({std::llabs(gap), kSoundDriftSamplesPerBuffer, length});
            for (int64_t i = 0; i < k; ++i) {
                const uint64_t at = begin + static_cast<uint64_t>((2 * i + 1) * length / (2 * k));
                edits.push_back({at, gap > 0 ? SoundEditKind::Repeat : SoundEditKind::Skip, 1});
            }
            shift += gap > 0 ? k : -k;
        } else if (length > 0) {
            mending = false;
        }
        begin = end;
    }
    return edits;
}

int64_t editedPosition(const std::vector<SoundEdit>& edits, uint64_t sample) {
    int64_t shift = 0;
    for (const SoundEdit& e : edits) {
        if (e.kind == SoundEditKind::Skip) {
            if (e.at >= sample) {
                break;
            }
            shift -= std::min<int64_t>(e.count, static_cast<int64_t>(sample - e.at));
            continue;
        }
        if (e.at > sample) {
            break;
        }
        shift += e.count;
    }
    return static_cast<int64_t>(sample) + shift;
}

}  // namespace pemlo
