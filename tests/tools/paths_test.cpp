// The tools against hostile output names: an output that is one of the inputs (under
// any name), links planted where the scratch spools used to be made, and outputs that
// are devices or links. Nothing they point at may change.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "tests/tools/tool_run.h"

namespace pemlo {
namespace {

using testing::kFlvEncode;
using testing::kReplay;
using testing::namesIn;
using testing::quote;
using testing::readBytes;
using testing::runTool;
using testing::Scratch;
using testing::writeBytes;

// Two 8 x 8 BGR frames for pemlo-flvencode.
const std::string kEncodeFrames = testing::noise(2 * 8 * 8 * 3, 1);
// Two 8 x 6 BGRA screens for pemlo-replay, and what goes with them.
const std::string kScreens = testing::noise(2 * 8 * 6 * 4, 2);
const std::string kReplayShape = " --screen 8x6 --capture 0,0,8,6 --output 8,6";

struct Inputs {
    explicit Inputs(const Scratch& folder) : dir(folder) {
        writeBytes(folder / "in.raw", kEncodeFrames);
        writeBytes(folder / "d.txt", "40\n40\n");
        writeBytes(folder / "screens.raw", kScreens);
        writeBytes(folder / "cursor.txt", "1 1\n-\n");
        writeBytes(folder / "sound.raw", testing::noise(4410, 3));
        before = namesIn(folder.path());
    }
    // Every input still holds what it held and nothing was added.
    void expectUntouched(const std::string& context) const {
        EXPECT_EQ(readBytes(dir / "in.raw"), kEncodeFrames) << context;
        EXPECT_EQ(readBytes(dir / "d.txt"), "40\n40\n") << context;
        EXPECT_EQ(readBytes(dir / "screens.raw"), kScreens) << context;
        EXPECT_EQ(readBytes(dir / "cursor.txt"), "1 1\n-\n") << context;
        EXPECT_EQ(readBytes(dir / "sound.raw"), testing::noise(4410, 3)) << context;
        EXPECT_EQ(namesIn(dir.path()), before) << context;
    }
    const Scratch& dir;
    std::set<std::string> before;
};

// An output that is an input is refused before anything is written.
TEST(ToolPaths, AnOutputThatIsAnInputIsRefused) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    Inputs inputs(dir);
    ASSERT_EQ(::link((dir / "in.raw").c_str(), (dir / "hard.raw").c_str()), 0);
    inputs.before.insert("hard.raw");
    const std::string in = quote(dir / "in.raw");
    const std::vector<std::pair<std::string, std::string>> encodes = {
        {"--size 8x8 --duration 40 -i " + in + " -o " + in, "in.raw"},
        {"--size 8x8 --duration 40 -i " + in + " -o " + quote(dir / "hard.raw"), "in.raw"},
        {"--size 8x8 --durations " + quote(dir / "d.txt") + " -i " + in + " -o " +
             quote(dir.path() + "/./d.txt"),
         "d.txt"},
        {"--size 8x8 --duration 40 -i - -o " + quote(dir / "in.raw") + " <" + in, "standard input"},
    };
    for (const auto& [args, input] : encodes) {
        const auto r = runTool(dir, kFlvEncode, args);
        EXPECT_NE(r.status, 0) << args;
        EXPECT_TRUE(testing::oneLineWith(r, kFlvEncode, {"it is the input", input})) << args;
        inputs.expectUntouched(args);
    }
    const std::string screens = " --frames " + quote(dir / "screens.raw");
    const std::vector<std::pair<std::string, std::string>> replays = {
        {screens + " --fps 5 -o " + quote(dir / "screens.raw"), "screens.raw"},
        {screens + " --fps 5 --sound " + quote(dir / "sound.raw") + " -o " +
             quote(dir / "sound.raw"),
         "sound.raw"},
        {screens + " --durations " + quote(dir / "d.txt") + " -o " + quote(dir / "d.txt"), "d.txt"},
        {screens + " --fps 5 --cursor " + quote(dir / "cursor.txt") + " -o " +
             quote(dir / "cursor.txt"),
         "cursor.txt"},
        // The thumbnail of screens.flv would be screens.bmp: the frames, here.
        {" --frames " + quote(dir / "screens.bmp") + " --fps 5 -o " + quote(dir / "screens.flv"),
         "screens.bmp"},
    };
    ASSERT_EQ(::symlink("screens.raw", (dir / "screens.bmp").c_str()), 0);
    inputs.before.insert("screens.bmp");
    for (const auto& [args, input] : replays) {
        const auto r = runTool(dir, kReplay, args + kReplayShape);
        EXPECT_NE(r.status, 0) << args;
        EXPECT_TRUE(testing::oneLineWith(r, kReplay, {input})) << args;
        inputs.expectUntouched(args);
    }
}

// Links planted at the names the scratch spools once had (the output's name,
// the process id, ".vid.tmp" and ".snd.tmp") and at the new files' prefix lead nowhere.
TEST(ToolPaths, LinksPlantedForTheSpoolsAreNeverFollowed) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    Inputs inputs(dir);
    writeBytes(dir / "victim1", "victim one");
    writeBytes(dir / "victim2", "victim two");
    const std::string out = dir / "out.flv";
    const std::string args[] = {
        kReplay,   "--screen",        "8x6",       "--frames", dir / "screens.raw", "--fps", "5",
        "--sound", dir / "sound.raw", "--capture", "0,0,8,6",  "--output",          "8,6",   "-o",
        out};
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        char go = 0;
        ::close(gate[1]);
        if (::read(gate[0], &go, 1) == 1) {
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 2);
            ::execv(argv[0], argv.data());
        }
        ::_exit(127);
    }
    ::close(gate[0]);
    const std::string id = std::to_string(pid);
    const std::vector<std::string> planted = {out + "." + id + ".vid.tmp",
                                              out + "." + id + ".snd.tmp"};
    for (size_t i = 0; i < planted.size(); ++i) {
        EXPECT_EQ(::symlink((dir / ("victim" + std::to_string(i + 1))).c_str(), planted[i].c_str()),
                  0);
    }
    ASSERT_EQ(::write(gate[1], "g", 1), 1);
    ::close(gate[1]);
    const int status = testing::finish(pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << testing::describe(status);
    EXPECT_EQ(readBytes(dir / "victim1"), "victim one");
    EXPECT_EQ(readBytes(dir / "victim2"), "victim two");
    auto expected = inputs.before;
    expected.insert({"victim1", "victim2", "out.flv", "out.bmp", "out.flv." + id + ".vid.tmp",
                     "out.flv." + id + ".snd.tmp"});
    EXPECT_EQ(namesIn(dir.path()), expected);
    EXPECT_EQ(readBytes(out).substr(0, 3), "FLV");
}

// An output named by a device or a link is refused, whether the run would
// have worked or failed, and the device, the link and the link's target stay as they were.
TEST(ToolPaths, DevicesAndLinksAsOutputsAreLeftAlone) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    Inputs inputs(dir);
    writeBytes(dir / "victim", "victim");
    ASSERT_EQ(::symlink((dir / "victim").c_str(), (dir / "link.flv").c_str()), 0);
    std::vector<std::string> targets = {"link.flv"};
    if (::mknod((dir / "null.flv").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        targets.push_back("null.flv");
    } else {
        std::fprintf(stderr, "mknod is not allowed here (%s): the device cases are skipped\n",
                     std::strerror(errno));
    }
    inputs.before = namesIn(dir.path());
    auto unchanged = [&](const std::string& context) {
        struct stat st = {};
        ASSERT_EQ(::lstat((dir / "link.flv").c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << context;
        EXPECT_EQ(readBytes(dir / "victim"), "victim") << context;
        if (targets.size() > 1) {
            ASSERT_EQ(::lstat((dir / "null.flv").c_str(), &st), 0) << context;
            EXPECT_TRUE(S_ISCHR(st.st_mode)) << context;
            EXPECT_EQ(st.st_rdev, makedev(1, 3)) << context;
        }
        inputs.expectUntouched(context);
    };
    for (const std::string& target : targets) {
        const std::string o = " -o " + quote(dir / target);
        for (const std::string& frames : {dir / "in.raw", dir / "missing.raw"}) {
            const std::string args = "--size 8x8 --duration 40 -i " + quote(frames) + o;
            const auto r = runTool(dir, kFlvEncode, args);
            EXPECT_NE(r.status, 0) << args;
            EXPECT_TRUE(testing::oneLineWith(r, kFlvEncode, {target})) << args;
            unchanged(args);
        }
        const std::string args = "--frames " + quote(dir / "screens.raw") + " --fps 5" + o;
        const auto r = runTool(dir, kReplay, args + kReplayShape);
        EXPECT_NE(r.status, 0);
        EXPECT_TRUE(testing::oneLineWith(r, kReplay, {target})) << args;
        unchanged(args);
    }
    // The thumbnail's name is an output too.
    ASSERT_EQ(::symlink((dir / "victim").c_str(), (dir / "shot.bmp").c_str()), 0);
    inputs.before.insert("shot.bmp");
    const auto r = runTool(dir, kReplay,
                           "--frames " + quote(dir / "screens.raw") + " --fps 5 -o " +
                               quote(dir / "shot.flv") + kReplayShape);
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(testing::oneLineWith(r, kReplay, {"shot.bmp", "symbolic link"}));
    unchanged("thumbnail");

    // A failure after the output was begun leaves an existing output as it was.
    writeBytes(dir / "old.flv", "old");
    inputs.before.insert("old.flv");
    writeBytes(dir / "cut.raw", kEncodeFrames.substr(0, 8 * 8 * 3 + 10));
    inputs.before.insert("cut.raw");
    const auto cut = runTool(
        dir, kFlvEncode,
        "--size 8x8 --duration 40 -i " + quote(dir / "cut.raw") + " -o " + quote(dir / "old.flv"));
    EXPECT_NE(cut.status, 0);
    EXPECT_TRUE(testing::oneLineWith(cut, kFlvEncode, {"inside frame 2", "old.flv"}));
    EXPECT_EQ(readBytes(dir / "old.flv"), "old");
    unchanged("cut short");
}

// A picture too small for a preview gets no thumbnail: the run succeeds, the thumbnail's
// new file goes and an existing thumbnail stays as it was.
TEST(ToolPaths, NoThumbnailForATinyPictureLeavesNoNewFile) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    Inputs inputs(dir);
    writeBytes(dir / "out.bmp", "old bmp");
    const auto r = runTool(dir, kReplay,
                           "--frames " + quote(dir / "screens.raw") +
                               " --fps 5 --screen 8x6 --capture 0,0,1,1 --output 1,1 -o " +
                               quote(dir / "out.flv"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readBytes(dir / "out.flv").substr(0, 3), "FLV");
    EXPECT_EQ(readBytes(dir / "out.bmp"), "old bmp");
    auto expected = inputs.before;
    expected.insert({"out.flv", "out.bmp"});
    EXPECT_EQ(namesIn(dir.path()), expected);
}

}  // namespace
}  // namespace pemlo
