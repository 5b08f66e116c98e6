#include "capture/sound_timeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "capture/edited_sound_file.h"
#include "tests/support/memory_file.h"
#include "tests/support/scripted_sound.h"

namespace pemlo {
namespace {

using testing::lastBeepOffsetMs;
using testing::MemoryFile;
using testing::recordScript;
using testing::SoundScript;
using testing::SoundTake;
using testing::worstBeepOffsetMs;

std::vector<SoundEdit> plan(const SoundScript& script, const SoundTake& take) {
    return planSoundEdits(take.notes, script.originMs);
}

TEST(SoundTimeline, ADeviceThatKeepsTimeGetsNoEditDespiteJitterAndAStallThatLosesNothing) {
    SoundScript script;
    script.lengthMs = 600000;
    for (double jitter : {0.0, 60.0}) {
        SCOPED_TRACE(jitter);
        script.jitterMs = jitter;
        // Notices held back 1.5 s (a busy interface thread) arrive in a burst: the
        // device had buffers enough, so no sound was lost.
        script.stalls = {{200000, 1500}, {410000, 1500}, {590000, 1500}};
        const SoundTake take = recordScript(script);
        EXPECT_TRUE(plan(script, take).empty());
        EXPECT_LT(worstBeepOffsetMs(take, {}), 1.0);
    }
    // The same with the interface thread's clock far from zero, across its wrap.
    script.originMs = 0xFFFFFFFFu - 30000;
    const SoundTake take = recordScript(script);
    EXPECT_TRUE(plan(script, take).empty());
}

TEST(SoundTimeline, DropoutsAreFilledWithSilenceWhereTheyHappened) {
    SoundScript script;
    script.lengthMs = 600000;
    script.jitterMs = 20;
    // The last one 15 s before the stop.
    script.dropouts = {{150000, 1000}, {300500, 1000}, {585200, 1000}};
    const SoundTake take = recordScript(script);
    // Without edits every beep after the first dropout is 1 s early, and 3 s after the
    // last.
    EXPECT_NEAR(lastBeepOffsetMs(take, {}), -3000, 2);

    const std::vector<SoundEdit> edits = plan(script, take);
    ASSERT_EQ(edits.size(), 3u);
    for (size_t i = 0; i < edits.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(edits[i].kind, SoundEditKind::Silence);
        EXPECT_NEAR(static_cast<double>(edits[i].count), 22050, 2 * kSoundPacketSamples);
        // At the start of the buffer that was being filled when the sound was lost.
        const double lostAt =
            script.dropouts[i].first * kSoundSamplesPerMs - static_cast<double>(i) * 22050;
        EXPECT_LE(static_cast<double>(edits[i].at), lostAt);
        EXPECT_GE(static_cast<double>(edits[i].at), lostAt - 5120);
    }
    EXPECT_LE(worstBeepOffsetMs(take, edits), 50.0);

    // Short losses close together, as a busy machine gives under Wine, with much jitter:
    // each is mended where it happened (a loss may be filled in two pieces).
    script.lengthMs = 60000;
    script.jitterMs = 60;
    script.dropouts = {{15100, 80}, {16300, 110}, {33000, 220}};
    const SoundTake shorter = recordScript(script);
    const std::vector<SoundEdit> mended = plan(script, shorter);
    double early = 0;
    double late = 0;
    for (const SoundEdit& e : mended) {
        if (e.kind == SoundEditKind::Silence) {
            const double ms = static_cast<double>(e.count) / kSoundSamplesPerMs;
            const double at = static_cast<double>(e.at) / kSoundSamplesPerMs;
            EXPECT_TRUE((at > 14500 && at < 16400) || (at > 32500 && at < 33000)) << at;
            (at < 20000 ? early : late) += ms;
        }
    }
    EXPECT_NEAR(early, 190, 40);
    EXPECT_NEAR(late, 220, 40);
    EXPECT_LE(worstBeepOffsetMs(shorter, mended, 17000), 50.0);
}

TEST(SoundTimeline, ADeviceClockRunningFastOrSlowIsFollowedSampleBySample) {
    for (double rate : {1.001, 0.999}) {
        SCOPED_TRACE(rate);
        SoundScript script;
        script.lengthMs = 3600000;
        script.rate = rate;
        script.jitterMs = 30;
        const SoundTake take = recordScript(script);
        // Uncorrected, the sound is 3.6 s off the picture after an hour.
        EXPECT_NEAR(std::abs(lastBeepOffsetMs(take, {})), 3600, 10);

        const std::vector<SoundEdit> edits = plan(script, take);
        int64_t net = 0;
        for (const SoundEdit& e : edits) {
            ASSERT_EQ(e.count, 1);
            ASSERT_EQ(e.kind, rate > 1 ? SoundEditKind::Skip : SoundEditKind::Repeat);
            net += e.kind == SoundEditKind::Repeat ? 1 : -1;
        }
        EXPECT_NEAR(static_cast<double>(std::llabs(net)), 3600 * kSoundSamplesPerMs, 50 * 22.05);
        EXPECT_LE(worstBeepOffsetMs(take, edits), 50.0);
        EXPECT_LE(std::abs(lastBeepOffsetMs(take, edits)), 50.0);
        // Spread out: never more than a few in one buffer.
        for (size_t i = kSoundDriftSamplesPerBuffer; i < edits.size(); ++i) {
            ASSERT_GE(edits[i].at - edits[i - kSoundDriftSamplesPerBuffer].at, 5000u) << i;
        }
    }
}

TEST(SoundTimeline, AnEarlyStartKeepsItsPlaceAndALateStartIsFilled) {
    SoundScript script;
    script.lengthMs = 20000;
    // The notices come 10 ms after the buffers' last samples: by that much a late start
    // is placed late, as nothing tells how long that delay is.
    script.latencyMs = 10;
    // The device began a timer period before the first frame, as it does in the program:
    // its first sample goes with the first frame, as it always did, and nothing is edited.
    script.startMs = -250;
    SoundTake take = recordScript(script);
    std::vector<SoundEdit> edits = plan(script, take);
    EXPECT_TRUE(edits.empty());

    // A dropout later on is still mended against that start.
    script.dropouts = {{8000, 1000}};
    take = recordScript(script);
    edits = plan(script, take);
    ASSERT_EQ(edits.size(), 1u);
    EXPECT_EQ(edits[0].kind, SoundEditKind::Silence);
    EXPECT_NEAR(static_cast<double>(edits[0].count), 1000 * kSoundSamplesPerMs, 30);
    script.dropouts.clear();

    script.startMs = 1400;  // it took 1.4 s to begin capturing (seen under Wine)
    take = recordScript(script);
    edits = plan(script, take);
    ASSERT_EQ(edits.size(), 1u);
    EXPECT_EQ(edits[0].kind, SoundEditKind::Silence);
    EXPECT_EQ(edits[0].at, 0u);
    EXPECT_NEAR(static_cast<double>(edits[0].count), 1410 * kSoundSamplesPerMs, 30);
    EXPECT_LE(worstBeepOffsetMs(take, edits), 11.0);

    EXPECT_TRUE(planSoundEdits({}, 0).empty());
}

// Reads everything from `file` in reads of `chunk` bytes.
std::vector<unsigned char> readAll(File& file, uint32_t chunk) {
    std::vector<unsigned char> out;
    std::vector<unsigned char> buffer(chunk);
    for (;;) {
        const int64_t n = file.read(buffer.data(), chunk);
        if (n <= 0) {
            EXPECT_EQ(n, 0);
            return out;
        }
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
}

TEST(EditedSoundFile, AppliesSilenceRepeatsAndSkipsAndStartsAgainAtARewind) {
    MemoryFile spool;
    std::vector<int16_t> recorded(20000);
    for (size_t i = 0; i < recorded.size(); ++i) {
        recorded[i] = static_cast<int16_t>(i * 3 - 30000);
    }
    spool.bytes.resize(recorded.size() * 2);
    std::memcpy(spool.bytes.data(), recorded.data(), spool.bytes.size());

    const std::vector<SoundEdit> edits{{0, SoundEditKind::Silence, 3},
                                       {10, SoundEditKind::Repeat, 2},
                                       {11, SoundEditKind::Skip, 4},
                                       {9000, SoundEditKind::Skip, 8192},
                                       {19999, SoundEditKind::Repeat, 1}};
    std::vector<int16_t> want(3, 0);
    for (size_t i = 0; i < recorded.size(); ++i) {
        if ((i >= 11 && i < 15) || (i >= 9000 && i < 9000 + 8192)) {
            continue;
        }
        want.push_back(recorded[i]);
        if (i == 10) {
            want.insert(want.end(), 2, recorded[i]);
        }
        if (i == 19999) {
            want.push_back(recorded[i]);
        }
    }
    EditedSoundFile edited(spool, edits);
    for (uint32_t chunk : {2048u, 2u, 7u, 30000u}) {
        SCOPED_TRACE(chunk);
        ASSERT_TRUE(edited.seek(0));
        const std::vector<unsigned char> got = readAll(edited, chunk);
        ASSERT_EQ(got.size(), want.size() * 2);
        EXPECT_EQ(std::memcmp(got.data(), want.data(), got.size()), 0);
        EXPECT_EQ(edited.tell(), static_cast<int64_t>(got.size()));
    }
    EXPECT_EQ(editedPosition(edits, 0), 3);
    EXPECT_EQ(editedPosition(edits, 10), 15);  // after its two copies
    EXPECT_EQ(editedPosition(edits, 15), 16);
    EXPECT_EQ(want[16], recorded[15]);
    EXPECT_EQ(editedPosition(edits, 9000 + 8192), 9000 + 8192 + 3 + 2 - 4 - 8192);

    EXPECT_FALSE(edited.seek(10));
    EXPECT_FALSE(edited.seekEnd());
    EXPECT_EQ(edited.write("ab", 2), 0u);
    // A failing read of the spool fails the read.
    ASSERT_TRUE(edited.seek(0));
    spool.readBudget = spool.readTotal + 100;
    std::vector<unsigned char> buffer(20000);
    EXPECT_EQ(edited.read(buffer.data(), 20000), -1);
}

TEST(EditedSoundFile, WithoutEditsItReadsTheSpoolAsItIs) {
    MemoryFile spool;
    spool.bytes = {1, 2, 3, 4, 5};
    EditedSoundFile edited(spool, {});
    ASSERT_TRUE(edited.seek(0));
    EXPECT_EQ(readAll(edited, 3), (std::vector<unsigned char>{1, 2, 3, 4, 5}));
}

// Samples the cuts before edited position `at` leave out.
uint64_t cutBefore(const std::vector<SoundCut>& cuts, int64_t at) {
    uint64_t sum = 0;
    for (const SoundCut& c : cuts) {
        if (c.at + c.count <= static_cast<uint64_t>(at)) {
            sum += c.count;
        }
    }
    return sum;
}

TEST(SoundCuts, HundredPausesAreCutExactlyAsThePictureIsDespiteALateFastDeviceAndADropout) {
    // 100 cycles of a recorded stretch and a pause of uneven lengths, on a device that
    // begins 300 ms late, runs 0.1 % fast, and loses 700 ms across the 40th resume.
    SoundScript script;
    script.startMs = 300;
    script.rate = 1.001;
    script.jitterMs = 20;
    script.beepEveryMs = 250;
    std::vector<PauseSpan> pauses;
    uint32_t clock = 0;  // against the first frame
    for (int k = 0; k < 100; ++k) {
        clock += 2000 + static_cast<uint32_t>(k * 37 % 501);
        const uint32_t length = 1500 + static_cast<uint32_t>(k * 53 % 997);
        pauses.push_back({script.originMs + clock, script.originMs + clock + length, 1});
        if (k == 40) {
            script.dropouts = {{clock + length - 300.0, 700.0}};
        }
        clock += length;
    }
    script.lengthMs = clock + 3000.0;
    const SoundTake take = recordScript(script);
    const std::vector<SoundEdit> edits = plan(script, take);
    const std::vector<SoundCut> cuts = planSoundCuts(take.notes, script.originMs, pauses);
    ASSERT_EQ(cuts.size(), pauses.size());

    // Each cut begins where its pause does and leaves out, with those before it, the
    // time paused so far to the sample: the running total, not a sum of rounded parts.
    int64_t pausedMs = 0;
    uint64_t cutSoFar = 0;
    for (size_t k = 0; k < cuts.size(); ++k) {
        const double beginMs = pauses[k].beginMs - script.originMs;
        EXPECT_EQ(cuts[k].at, static_cast<uint64_t>(std::llround(beginMs * kSoundSamplesPerMs)))
            << k;
        pausedMs += pauses[k].endMs - pauses[k].beginMs;
        cutSoFar += cuts[k].count;
        ASSERT_EQ(cutSoFar, static_cast<uint64_t>(std::llround(pausedMs * kSoundSamplesPerMs)))
            << k;
        if (k > 0) {
            EXPECT_GE(cuts[k].at, cuts[k - 1].at + cuts[k - 1].count);
        }
    }

    // Every beep captured while paused is cut; every other one is heard with its frame
    // (at its time less the time paused before it), the last stretch as the first.
    double firstError = 0;
    double lastError = 0;
    int heard = 0;
    for (const auto& [ms, sample] : take.beeps) {
        const int64_t at = editedPosition(edits, sample);
        int64_t pausedBefore = 0;
        bool inPause = false;
        // Beeps at a join, and those the device's loss moves within its buffer (the
        // timeline places a loss at a buffer's edge), are left out of the count.
        bool unsure = std::abs(ms - script.dropouts[0].first) < 500;
        for (const PauseSpan& p : pauses) {
            const double begin = p.beginMs - script.originMs;
            const double end = p.endMs - script.originMs;
            inPause = inPause || (ms >= begin && ms < end);
            unsure = unsure || std::abs(ms - begin) < 100 || std::abs(ms - end) < 100;
            pausedBefore += ms >= end ? static_cast<int64_t>(end - begin) : 0;
        }
        if (unsure) {
            continue;
        }
        bool cut = false;
        for (const SoundCut& c : cuts) {
            cut = cut ||
                  (static_cast<uint64_t>(at) >= c.at && static_cast<uint64_t>(at) < c.at + c.count);
        }
        EXPECT_EQ(cut, inPause) << ms;
        if (cut) {
            continue;
        }
        const double error = static_cast<double>(at - static_cast<int64_t>(cutBefore(cuts, at))) /
                                 kSoundSamplesPerMs -
                             (ms - static_cast<double>(pausedBefore));
        if (ms > 1000 && heard++ == 0) {
            firstError = error;
        }
        if (ms > 1000) {
            lastError = error;
            EXPECT_LE(std::abs(error), 50.0) << ms;
        }
    }
    EXPECT_GT(heard, 500);
    EXPECT_LE(std::abs(lastError - firstError), 30.0);

    // Stopped while paused: everything from that pause on goes.
    pauses.push_back({script.originMs + clock + 1000, 0, 0});
    const std::vector<SoundCut> open = planSoundCuts(take.notes, script.originMs, pauses);
    ASSERT_EQ(open.size(), pauses.size());
    EXPECT_EQ(open.back().at,
              static_cast<uint64_t>(std::llround((clock + 1000) * kSoundSamplesPerMs)));
    EXPECT_GT(open.back().count, uint64_t{1} << 62);
    EXPECT_TRUE(planSoundCuts(take.notes, script.originMs, {}).empty());
}

TEST(EditedSoundFile, CutsThePausesOutWithAFadeAtEachJoin) {
    MemoryFile spool;
    const size_t n = 20000;
    spool.bytes.resize(n * 2);
    for (size_t i = 0; i < n; ++i) {
        const auto v = static_cast<uint16_t>(static_cast<int16_t>(20000));
        spool.bytes[2 * i] = static_cast<unsigned char>(v & 0xFF);
        spool.bytes[2 * i + 1] = static_cast<unsigned char>(v >> 8);
    }
    // A silence edit before the first cut, so the cuts count edited positions.
    const std::vector<SoundEdit> edits{{100, SoundEditKind::Silence, 50}};
    const std::vector<SoundCut> cuts{{1000, 3000}, {4100, 1}, {9000, UINT64_MAX - 9000}};
    EditedSoundFile edited(spool, edits, cuts);
    for (uint32_t chunk : {2u, 7u, 4096u, 60000u}) {
        SCOPED_TRACE(chunk);
        ASSERT_TRUE(edited.seek(0));
        const std::vector<unsigned char> bytes = readAll(edited, chunk);
        ASSERT_EQ(bytes.size(), size_t{9000 - 3000 - 1} * 2);
        EXPECT_EQ(edited.tell(), static_cast<int64_t>(bytes.size()));
        std::vector<int> got(bytes.size() / 2);
        for (size_t i = 0; i < got.size(); ++i) {
            got[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        }
        EXPECT_EQ(got[99], 20000);
        EXPECT_EQ(got[100], 0);  // the silence edit
        EXPECT_EQ(got[500], 20000);
        // Faded down into each join and up out of it: no step larger than a fade's.
        const int step = 20000 / static_cast<int>(kSoundCutFadeSamples) + 2;
        for (size_t i = 151; i < got.size(); ++i) {
            ASSERT_LE(std::abs(got[i] - got[i - 1]), step) << i;
        }
        EXPECT_LT(std::abs(got[999]), step);   // the last sample before the first cut
        EXPECT_LT(std::abs(got[1000]), step);  // the first after it
        EXPECT_EQ(got[2000], 20000);
        EXPECT_LT(std::abs(got.back()), step);  // faded out before the open cut
    }
}

}  // namespace
}  // namespace pemlo
