// The fuzz targets' seeds and every input a fuzzing run found to break them, replayed in
// the ordinary suites (and so under the sanitizers too).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_bodies.h"
#include "tests/fuzz/recovered_recording_body.h"

namespace pemlo {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<fs::path> inputsOf(const std::string& target) {
    std::vector<fs::path> paths;
    const fs::path root = fs::path(PEMLO_SOURCE_DIR) / "tests" / "fuzz";
    for (const char* kind : {"corpus", "regressions"}) {
        const fs::path folder = root / kind / target;
        if (!fs::is_directory(folder)) {
            continue;
        }
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.is_regular_file()) {
                paths.push_back(entry.path());
            }
        }
    }
    return paths;
}

void failTest(const char* what) {
    ADD_FAILURE() << what;
}

class FuzzInputs : public ::testing::Test {
  protected:
    void SetUp() override { fuzz::failureHook() = failTest; }
    void TearDown() override { fuzz::failureHook() = fuzz::abortOnFailure; }
};

TEST_F(FuzzInputs, SpoolReaderKeepsItsPromisesOnEveryStoredInput) {
    const auto inputs = inputsOf("spool_reader");
    ASSERT_GE(inputs.size(), 3u);
    for (const fs::path& path : inputs) {
        SCOPED_TRACE(path.string());
        const auto data = readAll(path);
        const int frames = fuzz::spoolReader(data.data(), data.size());
        // The seeds are whole recordings: every frame reads back.
        if (path.parent_path().filename() == "spool_reader" &&
            path.parent_path().parent_path().filename() == "corpus") {
            EXPECT_EQ(frames, data.empty() ? 0 : data[0] % 9);
        }
    }
}

TEST_F(FuzzInputs, SpoolReaderFailsCleanlyOnDamagedRecordings) {
    const auto data =
        readAll(fs::path(PEMLO_SOURCE_DIR) / "tests/fuzz/corpus/spool_reader/three_frames_cursor");
    ASSERT_GT(data.size(), 200u);
    // Cut short, a byte flipped inside a block, a record claiming one byte more.
    auto cut = data;
    cut.resize(cut.size() - 10);
    EXPECT_EQ(fuzz::spoolReader(cut.data(), cut.size()), 2);
    auto flipped = data;
    flipped[flipped.size() - 40] ^= 0x5A;
    EXPECT_LT(fuzz::spoolReader(flipped.data(), flipped.size()), 3);
    auto bigger = data;
    bigger[1] += 1;  // the first record's raw size
    EXPECT_EQ(fuzz::spoolReader(bigger.data(), bigger.size()), 0);
    EXPECT_EQ(fuzz::spoolReader(nullptr, 0), 0);
}

TEST_F(FuzzInputs, PageFillingKeepsItsPromisesOnEveryStoredInput) {
    const auto inputs = inputsOf("page_filling");
    ASSERT_GE(inputs.size(), 3u);
    for (const fs::path& path : inputs) {
        SCOPED_TRACE(path.string());
        const auto data = readAll(path);
        fuzz::pageFilling(data.data(), data.size());
    }
}

TEST_F(FuzzInputs, RecoveredRecordingKeepsItsPromisesOnEveryStoredInput) {
    const auto inputs = inputsOf("recovered_recording");
    ASSERT_GE(inputs.size(), 3u);
    for (const fs::path& path : inputs) {
        SCOPED_TRACE(path.string());
        const auto data = readAll(path);
        fuzz::recoveredRecording(data.data(), data.size());
    }
}

// The seeds are recordings left behind as the recorder leaves them: each becomes a
// video of its whole frames, and damage ends the readable part rather than the run.
TEST_F(FuzzInputs, RecoveredRecordingsBecomeVideosOfTheirWholeFrames) {
    const fs::path seeds = fs::path(PEMLO_SOURCE_DIR) / "tests/fuzz/corpus/recovered_recording";
    const auto sound = readAll(seeds / "sound_and_cursor");
    EXPECT_EQ(fuzz::recoveredRecording(sound.data(), sound.size()), 6);
    const auto silent = readAll(seeds / "no_sound_some_tiles");
    EXPECT_EQ(fuzz::recoveredRecording(silent.data(), silent.size()), 4);
    const auto torn = readAll(seeds / "torn_last_record");
    EXPECT_EQ(fuzz::recoveredRecording(torn.data(), torn.size()), 2);

    // After the flags, the lengths of the index, the notes and the sound; the spool last.
    const size_t indexLength = sound[1] | sound[2] << 8;
    const size_t spoolStart =
        7 + indexLength + (sound[3] | sound[4] << 8) + (sound[5] | sound[6] << 8);
    auto flipped = sound;
    flipped[spoolStart + 10] ^= 0x40;  // inside the first frame's cursor block
    EXPECT_EQ(fuzz::recoveredRecording(flipped.data(), flipped.size()), -1);
    flipped[0] = fuzz::kMendFrameCrcs;  // the same damage behind a matching crc32
    EXPECT_EQ(fuzz::recoveredRecording(flipped.data(), flipped.size()), 0);
    auto header = sound;
    header[7 + 12] ^= 1;  // the index's rectangle moves a pixel
    EXPECT_EQ(fuzz::recoveredRecording(header.data(), header.size()), -1);
    header[0] = fuzz::kMendFrameCrcs;  // and no longer matches the description
    EXPECT_EQ(fuzz::recoveredRecording(header.data(), header.size()), -1);
    auto noSound = sound;
    noSound[7 + indexLength] ^= 1;  // the notes' magic
    EXPECT_EQ(fuzz::recoveredRecording(noSound.data(), noSound.size()), 6);
}

}  // namespace
}  // namespace pemlo
