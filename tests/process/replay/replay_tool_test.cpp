#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/process/replay/replay_support.h"
#include "tools/replay/inputs.h"
#include "tools/replay/options.h"

namespace pemlo {
namespace {

using testing::quoted;
using testing::ScratchFolder;

int parse(const std::vector<std::string>& args, replay::Options& o, std::string& error) {
    std::vector<const char*> argv = {"pemlo-replay"};
    for (const auto& a : args) {
        argv.push_back(a.c_str());
    }
    return replay::parseOptions(static_cast<int>(argv.size()), argv.data(), o, error);
}

TEST(ReplayOptions, ReadsACompleteCommandLine) {
    replay::Options o;
    std::string error;
    ASSERT_EQ(parse({"--screen", "640x480", "--frames", "-", "--fps", "10", "--capture",
                     "-0,20,300,200", "--output", "150,100", "-o", "x.flv"},
                    o, error),
              1)
        << error;
    EXPECT_EQ(o.screenWidth, 640);
    EXPECT_EQ(o.pitch, 2560u);
    EXPECT_EQ(o.captureTop, 20);
    EXPECT_EQ(o.captureHeight, 200);
    EXPECT_EQ(o.outputWidth, 150);
    EXPECT_EQ(o.fps, 10);
    o = replay::Options{};
    ASSERT_EQ(parse({"--screen", "64x48", "--frames", "f", "--pitch", "300", "--durations", "d",
                     "--cursor", "c", "--capture", "0,0,64,48", "--output", "64,48", "--sound",
                     "s.wav", "-o", "y.flv"},
                    o, error),
              1)
        << error;
    EXPECT_EQ(o.pitch, 300u);
    EXPECT_EQ(o.durationsPath, "d");
    EXPECT_EQ(o.soundPath, "s.wav");
}

TEST(ReplayOptions, RefusesWhatTheProgramCouldNotRecord) {
    const std::vector<std::string> base = {"--screen", "64x48", "--frames", "f", "-o", "x.flv"};
    const std::vector<std::vector<std::string>> bad = {
        {"--fps", "10", "--capture", "0,0,65,48", "--output", "10,10"},
        {"--fps", "10", "--capture", "-1,0,10,10", "--output", "10,10"},
        {"--fps", "10", "--capture", "0,0,10,10", "--output", "11,10"},
        {"--fps", "10", "--capture", "0,0,10,10", "--output", "0,10"},
        {"--fps", "10", "--durations", "d", "--capture", "0,0,10,10", "--output", "5,5"},
        {"--capture", "0,0,10,10", "--output", "5,5"},
        {"--fps", "0", "--capture", "0,0,10,10", "--output", "5,5"},
        {"--fps", "10", "--pitch", "200", "--capture", "0,0,10,10", "--output", "5,5"},
        {"--fps", "10", "--capture", "0,0,10", "--output", "5,5"},
        {"--fps", "10", "--capture", "0,0,10,10", "--output", "5,5", "--bogus", "1"},
        {"--fps", "10", "--capture", "0,0,10,10", "--output", "5x5"},
        {"--fps", "10", "--capture", "0,0,10,10", "--output"},
    };
    for (const auto& extra : bad) {
        std::vector<std::string> args = base;
        args.insert(args.end(), extra.begin(), extra.end());
        replay::Options o;
        std::string error;
        EXPECT_EQ(parse(args, o, error), 0) << extra[extra.size() > 2 ? 3 : 0];
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}

TEST(ReplayOptions, ReadsDurationAndCursorLines) {
    uint16_t ms = 0;
    EXPECT_EQ(replay::parseDuration("65535", ms), 1);
    EXPECT_EQ(ms, 65535);
    EXPECT_EQ(replay::parseDuration("65536", ms), 0);
    EXPECT_EQ(replay::parseDuration("-1", ms), 0);
    EXPECT_EQ(replay::parseDuration("1x", ms), 0);
    EXPECT_EQ(replay::parseDuration("", ms), 0);
    bool shown = true;
    int32_t x = 0;
    int32_t y = 0;
    EXPECT_EQ(replay::parseCursor("-", shown, x, y), 1);
    EXPECT_FALSE(shown);
    EXPECT_EQ(replay::parseCursor("-11 7", shown, x, y), 1);
    EXPECT_TRUE(shown);
    EXPECT_EQ(x, -11);
    EXPECT_EQ(y, 7);
    EXPECT_EQ(replay::parseCursor("3", shown, x, y), 0);
    EXPECT_EQ(replay::parseCursor("3 y", shown, x, y), 0);
    EXPECT_EQ(replay::parseCursor("3 40000", shown, x, y), 0);
}

// Runs the tool; returns its exit status and the lines it printed on stderr.
int replayTool(const ScratchFolder& dir, const std::string& args, std::vector<std::string>& lines) {
    const std::string errors = dir / "stderr.txt";
    const int status = testing::runShell(std::string(PEMLO_REPLAY_BIN) + " " + args + " 2>" +
                                         quoted(errors) + " </dev/null");
    lines.clear();
    std::ifstream in(errors);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return status;
}

TEST(ReplayTool, BadInputGivesOneLineAndLeavesNoOutput) {
    ScratchFolder dir("bad");
    // Two good frames of 8 x 6, one frame and a half, and the side files.
    testing::writeFile(dir / "two.raw", std::vector<uint8_t>(2 * 8 * 6 * 4, 50));
    testing::writeFile(dir / "half.raw", std::vector<uint8_t>(8 * 6 * 4 * 3 / 2, 50));
    testing::writeText(dir / "one.txt", "100\n");
    testing::writeText(dir / "cursor.txt", "1 2\nnonsense\n");
    std::vector<uint8_t> stereo = testing::wavHeader(44100, 2, 16, 8);
    stereo.resize(stereo.size() + 8);
    testing::writeFile(dir / "stereo.wav", stereo);
    const std::string out = dir / "out.flv";
    const std::string common = " --screen 8x6 --capture 0,0,8,6 --output 8,6 -o " + quoted(out);
    const std::vector<std::string> cases = {
        "--frames " + quoted(dir / "half.raw") + " --fps 5" + common,
        "--frames " + quoted(dir / "missing.raw") + " --fps 5" + common,
        "--frames " + quoted(dir / "two.raw") + " --durations " + quoted(dir / "one.txt") + common,
        "--frames " + quoted(dir / "two.raw") + " --fps 5 --cursor " + quoted(dir / "cursor.txt") +
            common,
        "--frames " + quoted(dir / "two.raw") + " --fps 5 --sound " + quoted(dir / "stereo.wav") +
            common,
        "--frames " + quoted(dir / "two.raw") + " --fps 5 --screen 8x6 -o " + quoted(out),
        "--frames - --fps 5" + common,  // standard input is empty: no frame at all
    };
    for (const auto& args : cases) {
        std::vector<std::string> lines;
        EXPECT_NE(replayTool(dir, args, lines), 0) << args;
        ASSERT_EQ(lines.size(), 1u) << args;
        EXPECT_EQ(lines[0].rfind("pemlo-replay: ", 0), 0u) << lines[0];
        EXPECT_FALSE(std::filesystem::exists(out)) << args;
        EXPECT_FALSE(std::filesystem::exists(dir / "out.bmp")) << args;
    }
    std::vector<std::string> lines;
    replayTool(dir,
               "--frames " + quoted(dir / "two.raw") + " --fps 5 --sound " +
                   quoted(dir / "stereo.wav") + common,
               lines);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("22,050 Hz mono 16-bit"), std::string::npos) << lines[0];

    // The same input made whole is accepted; nothing is left beside the output but the
    // thumbnail.
    ASSERT_EQ(replayTool(dir, "--frames " + quoted(dir / "two.raw") + " --fps 5" + common, lines),
              0);
    EXPECT_TRUE(std::filesystem::exists(out));
    EXPECT_EQ(std::filesystem::file_size(dir / "out.bmp"), 54u + 8u * 6u * 3u);
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir / "")) {
        ++files;
    }
    EXPECT_EQ(files, 8u);  // the 5 inputs, stderr.txt, out.flv and out.bmp
}

}  // namespace
}  // namespace pemlo
