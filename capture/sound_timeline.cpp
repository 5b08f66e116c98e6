#include "capture/sound_timeline.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace pemlo {

namespace {

double lowest(const std::vector<double>& start, size_t from, size_t to) {
    return *std::min_element(start.begin() + static_cast<std::ptrdiff_t>(from),
                             start.begin() + static_cast<std::ptrdiff_t>(to));
}

// Where the envelope steps: a note from which on the lowest apparent start differs by
// more than a packet from the lowest over the notes before it (both over up to
// kSoundEnvelopeNotes, and at least kSoundStepNotes, notes of the same stretch).
std::vector<size_t> steps(const std::vector<double>& start) {
    const size_t n = start.size();
    const size_t w = kSoundEnvelopeNotes;
    const size_t k = kSoundStepNotes;
    const double packetMs = static_cast<double>(kSoundPacketSamples) / kSoundSamplesPerMs;
    std::vector<size_t> at;
    size_t from = 0;
    for (size_t j = from + k; j + k <= n; ++j) {
        if (j - from < k) {
            continue;
        }
        const double before = lowest(start, std::max(from, j - std::min(j, w)), j);
        const double after = lowest(start, j, std::min(n, j + w + 1));
        if (std::abs(after - before) > packetMs) {
            at.push_back(j);
            from = j;
        }
    }
    return at;
}

// The lower envelope at each note, in ms against the video origin: the earliest
// apparent start over this note and the ones that follow within its stretch (between
// two steps). Near a stretch's end, where fewer notes follow, the window keeps its
// length by reaching back within the stretch.
std::vector<double> envelope(const std::vector<double>& start) {
    const size_t n = start.size();
    const size_t w = kSoundEnvelopeNotes;
    std::vector<size_t> bounds = steps(start);
    bounds.push_back(n);
    std::vector<double> out(n);
    size_t first = 0;
    for (size_t end : bounds) {
        for (size_t j = first; j < end; ++j) {
            const size_t hi = std::min(end - 1, j + w);
            size_t lo = j;
            if (hi - j < w) {
                lo = std::min(j, std::max(first, end - 1 >= w ? end - 1 - w : 0));
            }
            out[j] = lowest(start, lo, hi + 1);
        }
        first = end;
    }
    return out;
}

}  // namespace

std::vector<SoundEdit> planSoundEdits(const std::vector<SoundNote>& notes, uint32_t videoOriginMs) {
    std::vector<SoundEdit> edits;
    if (notes.empty()) {
        return edits;
    }
    // Apparent start of the sound at each note: when sample 0 would have been captured
    // had the device lost nothing and kept the nominal rate.
    std::vector<double> start(notes.size());
    for (size_t j = 0; j < notes.size(); ++j) {
        const auto since = static_cast<int32_t>(notes[j].clockMs - videoOriginMs);
        start[j] = since - static_cast<double>(notes[j].samples) / kSoundSamplesPerMs;
    }
    const std::vector<double> level = envelope(start);

    const auto drift = static_cast<int64_t>(kSoundDriftStartMs * kSoundSamplesPerMs);
    const auto settled = static_cast<int64_t>(kSoundDriftStopMs * kSoundSamplesPerMs);
    int64_t shift = 0;  // samples inserted minus samples left out so far
    bool mending = false;
    bool owing = false;  // a cut went beyond its buffer: the next ones go on with it
    uint64_t begin = 0;
    for (size_t j = 0; j < notes.size(); ++j) {
        const uint64_t end = std::max(notes[j].samples, begin);
        const auto length = static_cast<int64_t>(end - begin);
        const auto want = static_cast<int64_t>(std::llround(level[j] * kSoundSamplesPerMs));
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
