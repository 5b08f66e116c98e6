// How the tools end when the world is unkind: started with standard output and error
// closed, stopped by a signal in the middle of writing, or out of disk space. Each time
// an existing output stays as it was, nothing of the run is left, and the exit says so.
#include <gtest/gtest.h>

#include "tests/support/flv_tags.h"
#include "tests/tools/tool_run.h"

namespace pemlo {
namespace {

using testing::kClosed;
using testing::kFlvEncode;
using testing::kNull;
using testing::kReplay;
using testing::namesIn;
using testing::newFilesIn;
using testing::quote;
using testing::readBytes;
using testing::Scratch;
using testing::writeBytes;

int videoTags(const std::string& flv) {
    std::vector<testing::FlvTag> tags;
    uint8_t flags = 0;
    if (!testing::readFlvTags(std::vector<uint8_t>(flv.begin(), flv.end()), tags, flags)) {
        return -1;
    }
    int n = 0;
    for (const auto& tag : tags) {
        n += tag.type == 9 ? 1 : 0;
    }
    return n;
}

std::vector<std::string> replayArgs(const std::string& frames, int side, const std::string& out) {
    const std::string s = std::to_string(side);
    return {kReplay,     "--screen",           s + "x" + s, "--frames",  frames, "--fps", "10",
            "--capture", "0,0," + s + "," + s, "--output",  s + "," + s, "-o",   out};
}

// With descriptors 1 and 2 closed, no file takes their numbers, so neither
// the progress bar nor a message lands in the FLV.
TEST(ToolEndings, ClosedOutputAndErrorDescriptorsStayOutOfTheFiles) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    writeBytes(dir / "screens.raw", testing::noise(5 * 64 * 64 * 4, 4));
    const pid_t replay = testing::start(replayArgs(dir / "screens.raw", 64, dir / "out.flv"),
                                        {kNull, kClosed, kClosed});
    const int status = testing::finish(replay);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << testing::describe(status);
    const std::string flv = readBytes(dir / "out.flv");
    EXPECT_EQ(videoTags(flv), 5);
    EXPECT_EQ(flv.find("[#"), std::string::npos);
    EXPECT_EQ(flv.find("successfully"), std::string::npos);
    EXPECT_EQ(readBytes(dir / "out.bmp").substr(0, 2), "BM");

    writeBytes(dir / "frames.raw", testing::noise(3 * 16 * 16 * 3, 5));
    const pid_t encode = testing::start({kFlvEncode, "--size", "16x16", "--duration", "40", "-i",
                                         dir / "frames.raw", "-o", dir / "enc.flv"},
                                        {kClosed, kClosed, kClosed});
    const int encoded = testing::finish(encode);
    EXPECT_TRUE(WIFEXITED(encoded) && WEXITSTATUS(encoded) == 0) << testing::describe(encoded);
    EXPECT_EQ(videoTags(readBytes(dir / "enc.flv")), 3);
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"screens.raw", "out.flv", "out.bmp",
                                                          "frames.raw", "enc.flv"}));
}

// SIGTERM, SIGHUP and SIGINT while pemlo-replay writes the FLV and the
// thumbnail. The run is stopped (SIGSTOP) once both new files exist, so the signal
// lands inside the output phase however fast the machine is.
TEST(ToolEndings, ReplayStoppedBySignalsInTheOutputPhaseLeavesNothing) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    writeBytes(dir / "screens.raw", testing::noise(size_t{8} * 640 * 640 * 4, 6));
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
        writeBytes(dir / "out.flv", "old flv");
        writeBytes(dir / "out.bmp", "old bmp");
        const auto before = namesIn(dir.path());
        bool caught = false;
        for (int attempt = 0; attempt < 3 && !caught; ++attempt) {
            const pid_t pid = testing::start(replayArgs(dir / "screens.raw", 640, dir / "out.flv"),
                                             {kNull, kNull, kNull});
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (newFilesIn(dir.path()).size() < 2 && std::chrono::steady_clock::now() < end &&
                   ::waitpid(pid, nullptr, WNOHANG) == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            ::kill(pid, SIGSTOP);
            int stopped = 0;
            ASSERT_EQ(::waitpid(pid, &stopped, WUNTRACED), pid);
            if (!WIFSTOPPED(stopped)) {
                continue;  // it ended before it could be stopped: try again
            }
            caught = newFilesIn(dir.path()).size() == 2;
            ::kill(pid, caught ? sig : SIGKILL);
            ::kill(pid, SIGCONT);
            const int status = testing::finish(pid);
            if (caught) {
                EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig)
                    << sig << ": " << testing::describe(status);
            }
        }
        ASSERT_TRUE(caught) << "never caught the output phase";
        EXPECT_EQ(namesIn(dir.path()), before) << sig;
        EXPECT_EQ(readBytes(dir / "out.flv"), "old flv") << sig;
        EXPECT_EQ(readBytes(dir / "out.bmp"), "old bmp") << sig;
    }
}

// SIGPIPE from a progress bar written into a pipe nobody reads any more.
TEST(ToolEndings, ReplayBrokenPipeInTheOutputPhaseLeavesNothing) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    writeBytes(dir / "screens.raw", testing::noise(5 * 64 * 64 * 4, 7));
    writeBytes(dir / "out.flv", "old flv");
    const auto before = namesIn(dir.path());
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
    ::close(pipe[0]);
    const pid_t pid = testing::start(replayArgs(dir / "screens.raw", 64, dir / "out.flv"),
                                     {kNull, kNull, pipe[1]});
    ::close(pipe[1]);
    const int status = testing::finish(pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << testing::describe(status);
    EXPECT_EQ(namesIn(dir.path()), before);
    EXPECT_EQ(readBytes(dir / "out.flv"), "old flv");
}

// Pemlo-flvencode ended by each signal while it writes; it waits for frames
// on a pipe, so the signal comes while the new file is half written.
TEST(ToolEndings, FlvEncodeStoppedBySignalsLeavesNothing) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    writeBytes(dir / "out.flv", "old flv");
    const auto before = namesIn(dir.path());
    const std::string frame = testing::noise(64 * 64 * 3, 8);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        int pipe[2];
        ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
        const pid_t pid = testing::start(
            {kFlvEncode, "--size", "64x64", "--duration", "40", "-i", "-", "-o", dir / "out.flv"},
            {pipe[0], kNull, kNull});
        ::close(pipe[0]);
        ASSERT_EQ(::write(pipe[1], frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
        // Wait until the first frame is in the new file.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        size_t written = 0;
        while (written < frame.size() / 2 && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            for (const auto& name : newFilesIn(dir.path())) {
                written = readBytes(dir / name).size();
            }
        }
        EXPECT_GE(written, frame.size() / 2) << "the first frame never reached the new file";
        ::kill(pid, sig);
        ::close(pipe[1]);  // a tool that outlived the signal sees the end of its input
        const int status = testing::finish(pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig)
            << sig << ": " << testing::describe(status);
        EXPECT_EQ(namesIn(dir.path()), before) << sig;
        EXPECT_EQ(readBytes(dir / "out.flv"), "old flv") << sig;
    }
}

// Runs `script` as root in a mount namespace of its own, after mounting a 2 MB tmpfs on
// $1; $2 is a folder outside it, where "mounted" is left once the mount worked. False
// when no way to mount was allowed.
bool inSmallDisk(const std::string& script, const std::vector<std::string>& args) {
    std::string quoted;
    for (const auto& a : args) {
        quoted += ' ';  // not " " + quote(a): GCC 12 at -O3 reports a false -Wrestrict
        quoted += quote(a);
    }
    const std::string body =
        "mount -t tmpfs -o size=2m tmpfs \"$1\" 2>/dev/null || exit 77\n: >\"$2/mounted\"\n" +
        script;
    for (const char* how : {"unshare -m", "unshare -rm"}) {
        testing::shell(std::string(how) + " sh -c " + quote(body) + " sh" + quoted +
                       " 2>/dev/null");
        if (::access((args.at(1) + "/mounted").c_str(), F_OK) == 0) {
            return true;
        }
    }
    return false;
}

// A full disk while the FLV is written, while
// the frame spool is written, and under pemlo-flvencode. Each says which file and why,
// exits non-zero, and leaves the disk holding only what was there.
TEST(ToolEndings, AFullDiskNamesTheFileAndTheReasonAndLeavesNothing) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    ASSERT_EQ(::mkdir((dir / "disk").c_str(), 0755), 0);
    // The spool of six noisy 256 x 256 screens fits in 2 MB; the FLV beside it does not.
    writeBytes(dir / "six.raw", testing::noise(6 * 256 * 256 * 4, 9));
    // Three 512 x 512 screens do not fit even in the spool.
    writeBytes(dir / "three.raw", testing::noise(3 * 512 * 512 * 4, 10));
    writeBytes(dir / "enc.raw", testing::noise(60 * 128 * 128 * 3, 11));
    const std::string script = R"(
M=$1 D=$2 R=$3 F=$4
run() { name=$1; shift
    printf 'old flv' >"$M/out.flv"; printf 'old bmp' >"$M/out.bmp"
    "$@" >/dev/null 2>"$D/$name.err"; echo $? >"$D/$name.rc"
    ls -A "$M" >"$D/$name.ls"; cat "$M/out.flv" "$M/out.bmp" >"$D/$name.old"
}
shape() { echo --screen $1x$1 --fps 10 --capture 0,0,$1,$1 --output $1,$1; }
run output "$R" $(shape 256) --frames "$D/six.raw" -o "$M/out.flv"
run spool "$R" $(shape 512) --frames "$D/three.raw" -o "$M/out.flv"
run encode "$F" --size 128x128 --duration 40 -i "$D/enc.raw" -o "$M/out.flv"
)";
    if (!inSmallDisk(script, {dir / "disk", dir.path(), kReplay, kFlvEncode})) {
        GTEST_SKIP() << "cannot mount a 2 MB tmpfs here (needs root or user namespaces)";
    }
    const std::string out = dir / "disk/out.flv";
    const std::string full = std::strerror(ENOSPC);
    const std::vector<std::pair<std::string, std::vector<std::string>>> runs = {
        {"output", {"cannot write '" + out + "': " + full, "left as they were"}},
        {"spool", {"cannot write the frame spool in '" + dir / "disk" + "': " + full}},
        {"encode", {"cannot write '" + out + "': " + full, "left as it was"}},
    };
    for (const auto& [name, parts] : runs) {
        EXPECT_EQ(readBytes(dir / (name + ".rc")), "1\n") << name;
        const std::string err = readBytes(dir / (name + ".err"));
        for (const auto& part : parts) {
            EXPECT_NE(err.find(part), std::string::npos) << name << ": " << err;
        }
        EXPECT_EQ(err.find("internal error"), std::string::npos) << err;
        EXPECT_EQ(readBytes(dir / (name + ".ls")), "out.bmp\nout.flv\n") << name;
        EXPECT_EQ(readBytes(dir / (name + ".old")), "old flvold bmp") << name;
    }
}

}  // namespace
}  // namespace pemlo
