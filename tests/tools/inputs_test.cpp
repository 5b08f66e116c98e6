// The tools' inputs and command lines: lines without end, folders where files
// belong, reasons in the spool messages, long output names, --help, --fps and a word
// while frames are spooled.
#include <gtest/gtest.h>

#include "tests/tools/tool_run.h"

namespace pemlo {
namespace {

using testing::kFlvEncode;
using testing::kReplay;
using testing::namesIn;
using testing::oneLineWith;
using testing::quote;
using testing::runTool;
using testing::Scratch;
using testing::writeBytes;

const std::string kShape = " --screen 8x6 --capture 0,0,8,6 --output 8,6";

// An input without line ends costs no more than one bounded line: the tools stop at
// the first line with a message, never holding more than 256 MiB on the way (a tool
// that grows past that is ended and fails the test).
TEST(ToolInputs, LinesWithoutEndAreBounded) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    writeBytes(dir / "screens.raw", testing::noise(2 * 8 * 6 * 4, 12));
    writeBytes(dir / "frames.raw", testing::noise(2 * 8 * 8 * 3, 13));
    const std::vector<std::string> replay = {
        kReplay, "--screen", "8x6",         "--capture", "0,0,8,6",          "--output",
        "8,6",   "-o",       dir / "a.flv", "--frames",  dir / "screens.raw"};
    std::vector<std::vector<std::string>> cases = {
        replay,
        replay,
        {kFlvEncode, "--size", "8x8", "--durations", "/dev/zero", "-i", dir / "frames.raw", "-o",
         dir / "a.flv"}};
    cases[0].insert(cases[0].end(), {"--durations", "/dev/zero"});
    cases[1].insert(cases[1].end(), {"--fps", "5", "--cursor", "/dev/zero"});
    for (const auto& argv : cases) {
        const int err =
            ::open((dir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(err, 0);
        const pid_t pid = testing::start(argv, {testing::kNull, testing::kNull, err});
        ::close(err);
        long peakKb = 0;
        const int status = testing::finishWithin(pid, 256 * 1024, peakKb);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0)
            << argv.back() << ": " << testing::describe(status) << ", peak " << peakKb << " KiB";
        testing::ToolResult r;
        r.err = testing::readBytes(dir / "err");
        EXPECT_TRUE(oneLineWith(r, argv[0], {"'/dev/zero' line 1 is longer than 4096 bytes"}));
    }
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"screens.raw", "frames.raw", "err"}));
}

// Folders where a file belongs are named as folders, the sound included (it was once
// taken as silence).
TEST(ToolInputs, FoldersAreRefusedAsFolders) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    writeBytes(dir / "screens.raw", testing::noise(2 * 8 * 6 * 4, 14));
    writeBytes(dir / "frames.raw", testing::noise(2 * 8 * 8 * 3, 15));
    const std::string folder = quote(dir.path());
    const std::string frames = " --frames " + quote(dir / "screens.raw");
    const std::string out = " -o " + quote(dir / "a.flv");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {kReplay, " --frames " + folder + " --fps 5" + out + kShape},
        {kReplay, frames + " --durations " + folder + out + kShape},
        {kReplay, frames + " --fps 5 --cursor " + folder + out + kShape},
        {kReplay, frames + " --fps 5 --sound " + folder + out + kShape},
        {kFlvEncode, "--size 8x8 --duration 40 -i " + folder + out},
        {kFlvEncode, "--size 8x8 --durations " + folder + " -i " + quote(dir / "frames.raw") + out},
    };
    for (const auto& [tool, args] : cases) {
        const auto r = runTool(dir, tool, args);
        EXPECT_NE(r.status, 0) << args;
        EXPECT_TRUE(oneLineWith(r, tool, {"'" + dir.path() + "' is a folder"})) << args;
    }
    // A sound that is no regular file (here a device) is refused too.
    const auto r = runTool(dir, kReplay,
                           frames + " --fps 5 --sound /dev/stdin" + out + kShape + " </dev/zero");
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(oneLineWith(r, kReplay, {"--sound", "not a regular file"}));
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"screens.raw", "frames.raw"}));
}

// Spool messages say where and why; an output name of 249 bytes (the scratch names
// once passed 255) works, sound and thumbnail included.
TEST(ToolInputs, SpoolsGiveReasonsAndFitAnyOutputName) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    writeBytes(dir / "screens.raw", testing::noise(3 * 8 * 6 * 4, 16));
    writeBytes(dir / "sound.raw", testing::noise(22050, 17));
    const std::string frames = " --frames " + quote(dir / "screens.raw") + " --fps 5";
    const auto missing =
        runTool(dir, kReplay, frames + " -o " + quote(dir / "gone/a.flv") + kShape);
    EXPECT_NE(missing.status, 0);
    EXPECT_TRUE(oneLineWith(missing, kReplay,
                            {"frame spool", "'" + dir / "gone" + "'", std::strerror(ENOENT)}));

    const std::string stem(245, 'n');
    const auto r = runTool(dir, kReplay,
                           frames + " --sound " + quote(dir / "sound.raw") + " -o " +
                               quote(dir / (stem + ".flv")) + kShape);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(namesIn(dir.path()),
              (std::set<std::string>{"screens.raw", "sound.raw", stem + ".flv", stem + ".bmp"}));
}

TEST(ToolInputs, HelpAndFramesPerSecondAsTheProgramOffers) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    for (const std::string& tool : {kReplay, kFlvEncode}) {
        for (const char* ask : {"--help", "-h"}) {
            const auto r = runTool(dir, tool, ask);
            EXPECT_EQ(r.status, 0) << tool << " " << ask;
            EXPECT_EQ(r.out.rfind("usage: ", 0), 0u) << r.out;
            EXPECT_NE(r.out.find("What is left on disk"), std::string::npos) << r.out;
            EXPECT_NE(r.out.find("SIGTERM"), std::string::npos) << r.out;
            EXPECT_EQ(r.err, "");
        }
    }
    writeBytes(dir / "screens.raw", testing::noise(2 * 8 * 6 * 4, 18));
    const std::string frames =
        " --frames " + quote(dir / "screens.raw") + " -o " + quote(dir / "a.flv") + kShape;
    for (const std::string fps : {"11", "0", "1000"}) {
        const auto r = runTool(dir, kReplay, "--fps " + fps + frames);
        EXPECT_NE(r.status, 0) << fps;
        EXPECT_TRUE(oneLineWith(r, kReplay, {"--fps", "1 to 10"})) << fps;
    }
    EXPECT_EQ(runTool(dir, kReplay, "--fps 10" + frames).status, 0);
    EXPECT_EQ(runTool(dir, kReplay, "--fps 1" + frames).status, 0);
}

// Frames that take their time to arrive are counted on the terminal while they are
// spooled (after the first half second).
TEST(ToolInputs, ProgressIsShownWhileFramesAreSpooled) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    writeBytes(dir / "screen.raw", testing::noise(8 * 6 * 4, 19));
    const std::string screen = quote(dir / "screen.raw");
    const std::string feed =
        "{ cat " + screen + "; sleep 0.8; cat " + screen + " " + screen + "; }";
    const int status = testing::shell(feed + " | " + quote(kReplay) + " --frames - --fps 5 -o " +
                                      quote(dir / "a.flv") + kShape + " 2>" + quote(dir / "err"));
    EXPECT_EQ(status, 0);
    const std::string err = testing::readBytes(dir / "err");
    EXPECT_NE(err.find("spooling frames: 2"), std::string::npos) << err;
    EXPECT_NE(err.find("File successfully created."), std::string::npos) << err;
}

}  // namespace
}  // namespace pemlo
