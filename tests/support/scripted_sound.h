// A scripted wave-input device against the recording's clock: when it captures each
// sample (its own clock may run fast or slow), what it loses (dropouts), when each full
// buffer's notice is handled (latency, jitter, a busy interface thread), and where the
// beeps of a flash-and-beep scene fall in what it recorded.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "capture/sound_recorder.h"
#include "capture/sound_timeline.h"

namespace pemlo::testing {

struct SoundScript {
    uint32_t originMs = 10000;  // the clock of the first frame
    double startMs = 0;         // the device's first sample, against the first frame
    double rate = 1.0;          // the device's samples per clock second over 22,050
    double lengthMs = 60000;    // the stop, against the first frame
    // Sound the device loses: (from, length) in ms against the first frame.
    std::vector<std::pair<double, double>> dropouts;
    // From a buffer's last sample to its notice being handled: at least latencyMs, and
    // jittering evenly by jitterMs either way around latencyMs + jitterMs.
    double latencyMs = 10;
    double jitterMs = 0;
    // The interface thread is busy: notices due in (from, length) wait until its end.
    std::vector<std::pair<double, double>> stalls;
    double beepEveryMs = 2000;  // a beep starts at every multiple of this
    bool keepSamples = false;
    uint32_t seed = 7;
};

struct SoundTake {
    std::vector<SoundNote> notes;       // as the recorder notes them (none after the stop)
    std::vector<uint32_t> bufferBytes;  // bytes of each buffer, in the order handed back
    std::vector<unsigned char> bytes;   // the recorded sound, when kept
    // Each beep that was captured: its time against the first frame and the recorded
    // sample it starts at.
    std::vector<std::pair<double, uint64_t>> beeps;
    uint64_t samples = 0;
    uint32_t startClockMs = 0;  // when the device was started
    uint32_t stopClockMs = 0;
};

// A 1 kHz beep of 100 ms after each beep time, quiet noise otherwise.
inline int16_t scriptedSample(double ms, double beepEveryMs, uint64_t k) {
    const double since =
        ms - beepEveryMs * static_cast<double>(static_cast<int64_t>(ms / beepEveryMs));
    if (since < 100) {
        return static_cast<int16_t>(12000.0 * std::sin(since * 2 * 3.14159265358979 * 1.0));
    }
    return static_cast<int16_t>(static_cast<int64_t>(k * 2654435761ULL % 401) - 200);
}

inline SoundTake recordScript(const SoundScript& s) {
    SoundTake take;
    take.startClockMs = s.originMs + static_cast<uint32_t>(static_cast<int64_t>(s.startMs));
    std::mt19937 random(s.seed);
    std::uniform_real_distribution<double> jitter(-s.jitterMs, s.jitterMs);
    const double perMs = kSoundSamplesPerMs * s.rate;
    const uint64_t bufferSamples = kSoundBufferBytes / 2;
    double lastArrival = -1e18;
    uint64_t inBuffer = 0;
    double nextBeep = 0;
    while (nextBeep < s.startMs) {
        nextBeep += s.beepEveryMs;
    }
    for (uint64_t k = 0;; ++k) {
        const double t = s.startMs + static_cast<double>(k) / perMs;
        if (t >= s.lengthMs) {
            break;
        }
        bool lost = false;
        for (const auto& [from, length] : s.dropouts) {
            lost = lost || (t >= from && t < from + length);
        }
        if (t >= nextBeep) {
            if (!lost) {
                take.beeps.emplace_back(nextBeep, take.samples);
            }
            nextBeep += s.beepEveryMs;
        }
        if (lost) {
            continue;
        }
        if (s.keepSamples) {
            const int16_t v = scriptedSample(t, s.beepEveryMs, k);
            take.bytes.push_back(static_cast<unsigned char>(static_cast<uint16_t>(v) & 0xFF));
            take.bytes.push_back(static_cast<unsigned char>(static_cast<uint16_t>(v) >> 8));
        }
        ++take.samples;
        if (++inBuffer == bufferSamples) {
            double arrival = t + s.latencyMs + s.jitterMs + jitter(random);
            for (const auto& [from, length] : s.stalls) {
                if (arrival >= from && arrival < from + length) {
                    arrival = from + length;
                }
            }
            arrival = std::max(arrival, lastArrival);  // notices come in order
            lastArrival = arrival;
            take.notes.push_back(
                {s.originMs + static_cast<uint32_t>(static_cast<int64_t>(arrival)), take.samples});
            take.bufferBytes.push_back(kSoundBufferBytes);
            inBuffer = 0;
        }
    }
    // The stop hands back the buffer being filled with what it holds (the recorder
    // notes nothing for it).
    take.stopClockMs = s.originMs + static_cast<uint32_t>(static_cast<int64_t>(s.lengthMs));
    if (inBuffer > 0) {
        take.bufferBytes.push_back(static_cast<uint32_t>(inBuffer * 2));
    }
    return take;
}

// How far the beeps land from their frames in the edited sound: the largest distance in
// ms over the beeps from `fromMs` on (a frame is shown at its time against the first
// frame, a sample at its position / 22.05).
inline double worstBeepOffsetMs(const SoundTake& take, const std::vector<SoundEdit>& edits,
                                double fromMs = 0) {
    double worst = 0;
    for (const auto& [ms, sample] : take.beeps) {
        if (ms < fromMs) {
            continue;
        }
        const double heard =
            static_cast<double>(editedPosition(edits, sample)) / kSoundSamplesPerMs;
        worst = std::max(worst, std::abs(heard - ms));
    }
    return worst;
}

inline double lastBeepOffsetMs(const SoundTake& take, const std::vector<SoundEdit>& edits) {
    const auto& [ms, sample] = take.beeps.back();
    return static_cast<double>(editedPosition(edits, sample)) / kSoundSamplesPerMs - ms;
}

}  // namespace pemlo::testing
