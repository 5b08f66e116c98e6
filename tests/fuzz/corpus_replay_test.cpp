// The fuzz targets' seeds and every input a fuzzing run found to break them, replayed in
// the ordinary suites (and so under the sanitizers too).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_bodies.h"

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

}  // namespace
}  // namespace pemlo
