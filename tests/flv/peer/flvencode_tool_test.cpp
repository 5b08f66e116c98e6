// The pemlo-flvencode tool: good input becomes a decodable FLV; bad input is refused
// with one line on standard error and no output file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/flv/peer/peer_support.h"

namespace pemlo {
namespace {

using testing::lines;
using testing::readAll;
using testing::readText;
using testing::run;
using testing::ScratchDir;
using testing::writeAll;

const std::string tool = std::string(PEMLO_BINARY_DIR) + "/tools/pemlo-flvencode";

TEST(FlvEncodeTool, EncodesFramesFromAFileOrStandardInput) {
    ScratchDir dir;
    ASSERT_TRUE(dir.ok());
    std::vector<uint8_t> frames(3 * 40 * 30 * 3);
    for (size_t i = 0; i < frames.size(); ++i) {
        frames[i] = static_cast<uint8_t>(i * 13 / 7);
    }
    writeAll(dir / "f.raw", frames);
    writeAll(dir / "d.txt", {'5', '0', '\n', '0', '\n', '7', '0', '0', '\n'});
    ASSERT_EQ(run(tool + " --size 40x30 --durations " + (dir / "d.txt") + " -i - -o " +
                  (dir / "a.flv") + " < " + (dir / "f.raw")),
              0);
    ASSERT_EQ(
        run(tool + " --size 40x30 --duration 100 -i " + (dir / "f.raw") + " -o " + (dir / "b.flv")),
        0);
    std::string pts;
    ASSERT_EQ(run("ffprobe -v error -show_entries packet=pts -of csv=p=0 " + (dir / "a.flv"), &pts),
              0);
    EXPECT_EQ(lines(pts), (std::vector<std::string>{"0", "50", "50"}));
    ASSERT_EQ(
        run("ffprobe -v error -show_entries format=duration -of csv=p=0 " + (dir / "b.flv"), &pts),
        0);
    ASSERT_EQ(run("ffmpeg -v error -i " + (dir / "b.flv") +
                  " -fps_mode passthrough -f rawvideo -pix_fmt bgr24 -y " + (dir / "b.raw")),
              0);
    EXPECT_EQ(readAll(dir / "b.raw").size(), frames.size());
}

TEST(FlvEncodeTool, RefusesBadInputWithOneLine) {
    ScratchDir dir;
    ASSERT_TRUE(dir.ok());
    writeAll(dir / "f.raw", std::vector<uint8_t>(2 * 8 * 8 * 3 + 5));
    writeAll(dir / "two.raw", std::vector<uint8_t>(2 * 8 * 8 * 3));
    writeAll(dir / "d1.txt", {'1', '0', '\n'});
    writeAll(dir / "bad.txt", {'1', '0', '\n', 'x', '\n'});
    const std::string out = dir / "o.flv";
    const std::string cases[] = {
        "--size 4096x8 --duration 10 -i " + (dir / "two.raw") + " -o " + out,
        "--size 0x8 --duration 10 -i " + (dir / "two.raw") + " -o " + out,
        "--size 8 --duration 10 -i " + (dir / "two.raw") + " -o " + out,
        "--size 8x8 --duration 10 -i " + (dir / "f.raw") + " -o " + out,
        "--size 8x8 --durations " + (dir / "d1.txt") + " -i " + (dir / "two.raw") + " -o " + out,
        "--size 8x8 --durations " + (dir / "bad.txt") + " -i " + (dir / "two.raw") + " -o " + out,
        "--size 8x8 --duration 70000 -i " + (dir / "two.raw") + " -o " + out,
        "--size 8x8 -i " + (dir / "two.raw") + " -o " + out,
        "--size 8x8 --duration 10 -i " + (dir / "missing.raw") + " -o " + out,
    };
    for (const auto& args : cases) {
        const int status = run(tool + " " + args + " 2>" + (dir / "err.txt"));
        EXPECT_NE(status, 0) << args;
        const auto err = readText(dir / "err.txt");
        EXPECT_EQ(lines(err).size(), 1u) << args << ": " << err;
        EXPECT_EQ(err.rfind("pemlo-flvencode: ", 0), 0u) << err;
        EXPECT_FALSE(std::filesystem::exists(out)) << args;
    }
}

}  // namespace
}  // namespace pemlo
