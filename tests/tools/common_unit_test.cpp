// The tools' shared parts on their own: new files that replace a target only when
// committed, scratch files without a name, links never followed, same-file checks,
// bounded lines, failure reasons, standard descriptors, removal on signals and the
// command line.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>

#include "tests/tools/tool_test_support.h"
#include "tools/common/descriptor_file.h"
#include "tools/common/input_file.h"
#include "tools/common/line_reader.h"
#include "tools/common/new_file.h"
#include "tools/common/options.h"
#include "tools/common/output_file.h"
#include "tools/common/removal.h"
#include "tools/common/same_file.h"
#include "tools/common/scratch_file.h"
#include "tools/common/standard_descriptors.h"

namespace pemlo {
namespace {

using testing::namesIn;
using testing::newFilesIn;
using testing::readBytes;
using testing::Scratch;
using testing::writeBytes;

void put(int fd, const std::string& text) {
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

TEST(ToolOutputFile, ReplacesTheTargetOnlyWhenCommitted) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    writeBytes(dir / "out.flv", "old");
    {
        tools::OutputFile out;
        std::string error;
        ASSERT_EQ(out.create(dir / "out.flv", error), 1) << error;
        put(out.descriptor(), "new");
        EXPECT_EQ(readBytes(dir / "out.flv"), "old");
        EXPECT_EQ(newFilesIn(dir.path()).size(), 1u);
        // Dropped without a commit (a failure): only the new file goes.
    }
    EXPECT_EQ(readBytes(dir / "out.flv"), "old");
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"out.flv"}));

    tools::OutputFile out;
    std::string error;
    ASSERT_EQ(out.create(dir / "out.flv", error), 1) << error;
    const std::string created = out.newPath();
    EXPECT_EQ(created.rfind(dir.path() + "/.pemlo-", 0), 0u) << created;
    put(out.descriptor(), "new");
    ASSERT_EQ(out.commit(error), 1) << error;
    EXPECT_EQ(readBytes(dir / "out.flv"), "new");
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"out.flv"}));
    out.discard();  // after a commit there is nothing of ours left to remove
    EXPECT_EQ(readBytes(dir / "out.flv"), "new");
}

TEST(ToolOutputFile, RefusesEverythingButARegularFileAndLeavesItAlone) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    writeBytes(dir / "victim", "victim");
    ASSERT_EQ(::symlink((dir / "victim").c_str(), (dir / "link.flv").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "nowhere").c_str(), (dir / "dangling.flv").c_str()), 0);
    ASSERT_EQ(::mkdir((dir / "folder.flv").c_str(), 0755), 0);
    ASSERT_EQ(::mkfifo((dir / "pipe.flv").c_str(), 0644), 0);
    const bool device = ::mknod((dir / "dev.flv").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"link.flv", "symbolic link"},
        {"dangling.flv", "symbolic link"},
        {"folder.flv", "folder"},
        {"pipe.flv", "pipe"},
        {std::string(256, 'n'), "File name too long"},
    };
    for (const auto& [name, why] : cases) {
        tools::OutputFile out;
        std::string error;
        EXPECT_EQ(out.create(dir / name, error), 0) << name;
        EXPECT_NE(error.find(why), std::string::npos) << error;
        EXPECT_NE(error.find(name), std::string::npos) << error;
    }
    if (device) {
        tools::OutputFile out;
        std::string error;
        EXPECT_EQ(out.create(dir / "dev.flv", error), 0);
        EXPECT_NE(error.find("a device"), std::string::npos) << error;
        struct stat st = {};
        ASSERT_EQ(::lstat((dir / "dev.flv").c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
    } else {
        std::fprintf(stderr, "mknod is not allowed here (%s): device case skipped\n",
                     std::strerror(errno));
    }
    EXPECT_EQ(readBytes(dir / "victim"), "victim");
    EXPECT_FALSE(std::ifstream(dir / "nowhere").good());
    EXPECT_TRUE(newFilesIn(dir.path()).empty());
    EXPECT_EQ(tools::OutputFile::check(dir / "victim"), "");
    EXPECT_EQ(tools::OutputFile::check(dir / "absent.flv"), "");
}

TEST(ToolNewFile, NeverOpensWhatIsAlreadyThereAndNamesAreUnpredictable) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    writeBytes(dir / "victim", "victim");
    ASSERT_EQ(::symlink((dir / "victim").c_str(), (dir / "link").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "created").c_str(), (dir / "dangling").c_str()), 0);
    EXPECT_EQ(tools::openNewFileAt(dir / "link", 0644), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(tools::openNewFileAt(dir / "dangling", 0644), -1);
    EXPECT_EQ(tools::openNewFileAt(dir / "victim", 0644), -1);
    EXPECT_EQ(readBytes(dir / "victim"), "victim");
    EXPECT_FALSE(std::ifstream(dir / "created").good());

    std::set<std::string> seen;
    for (int i = 0; i < 20; ++i) {
        std::string path;
        int slot = -1;
        const int fd = tools::createNewFile(dir.path(), 0600, path, slot);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        ::close(fd);
        tools::removeRegistered(slot);
        EXPECT_LE(path.size() - dir.path().size() - 1, 40u) << path;
        seen.insert(path);
    }
    EXPECT_EQ(seen.size(), 20u);
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"victim", "link", "dangling"}));
    EXPECT_EQ(tools::folderOf("a.flv"), ".");
    EXPECT_EQ(tools::folderOf("/a.flv"), "/");
    EXPECT_EQ(tools::folderOf("x//y/a.flv"), "x//y");
}

TEST(ToolScratchFile, LeavesNoNameEitherWay) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    for (auto way : {tools::Unnamed::Try, tools::Unnamed::Skip}) {
        std::string error;
        const int fd = tools::createScratchFile(dir.path(), error, way);
        ASSERT_GE(fd, 0) << error;
        EXPECT_TRUE(namesIn(dir.path()).empty());
        put(fd, "spooled");
        char back[7] = {};
        EXPECT_EQ(::pread(fd, back, sizeof back, 0), 7);
        EXPECT_EQ(std::string(back, 7), "spooled");
        ::close(fd);
    }
    std::string error;
    EXPECT_EQ(tools::createScratchFile(dir / "missing", error), -1);
    EXPECT_NE(error.find(dir / "missing"), std::string::npos) << error;
    EXPECT_NE(error.find(std::strerror(ENOENT)), std::string::npos) << error;
}

TEST(ToolSameFile, FindsAnInputUnderAnyOfItsNames) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    writeBytes(dir / "in.raw", "frames");
    writeBytes(dir / "other.raw", "frames");
    ASSERT_EQ(::link((dir / "in.raw").c_str(), (dir / "hard.flv").c_str()), 0);
    ASSERT_EQ(::symlink("in.raw", (dir / "soft.flv").c_str()), 0);
    const std::vector<std::string> inputs = {"", dir / "other.raw", dir / "in.raw"};
    EXPECT_EQ(tools::sameFileAs(dir / "hard.flv", inputs), dir / "in.raw");
    EXPECT_EQ(tools::sameFileAs(dir / "soft.flv", inputs), dir / "in.raw");
    EXPECT_EQ(tools::sameFileAs(dir.path() + "/./in.raw", inputs), dir / "in.raw");
    EXPECT_EQ(tools::sameFileAs(dir / "other.raw", {dir / "in.raw"}), "");
    EXPECT_EQ(tools::sameFileAs(dir / "new.flv", inputs), "");
}

TEST(ToolInputFile, RefusesWhatCannotServeAndSaysWhy) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    std::string error;
    EXPECT_EQ(tools::openInput(dir.path(), tools::InputKind::Stream, error), -1);
    EXPECT_NE(error.find("is a folder"), std::string::npos) << error;
    EXPECT_EQ(tools::openInput(dir / "missing", tools::InputKind::Stream, error), -1);
    EXPECT_NE(error.find(dir / "missing"), std::string::npos) << error;
    EXPECT_NE(error.find(std::strerror(ENOENT)), std::string::npos) << error;
    EXPECT_EQ(tools::openInput("/dev/zero", tools::InputKind::Regular, error), -1);
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    const int fd = tools::openInput("/dev/zero", tools::InputKind::Stream, error);
    EXPECT_GE(fd, 3);
    ::close(fd);

    // A pipe without a writer where a regular file is needed: refused at once, not
    // waited on (the child is ended by SIGALRM if it waits).
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0644), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(5);
        std::string message;
        const int got = tools::openInput(dir / "pipe", tools::InputKind::Regular, message);
        ::_exit(got == -1 && message.find("not a regular file") != std::string::npos ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << testing::describe(status);
}

TEST(ToolLineReader, KeepsLinesBoundedAndNamesFileAndLine) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    writeBytes(dir / "ok.txt", "10\r\n\n" + std::string(tools::kMaxLineBytes, '7') + "\n20");
    tools::LineReader ok;
    std::string error;
    ASSERT_EQ(ok.open(dir / "ok.txt", error), 1) << error;
    std::vector<std::string> lines;
    std::string line;
    int got = 0;
    while ((got = ok.next(line, error)) == 1) {
        lines.push_back(line);
    }
    EXPECT_EQ(got, 0) << error;
    EXPECT_EQ(lines,
              (std::vector<std::string>{"10", "", std::string(tools::kMaxLineBytes, '7'), "20"}));

    writeBytes(dir / "long.txt", "1\n2\n" + std::string(3 * tools::kMaxLineBytes, '3'));
    tools::LineReader bad;
    ASSERT_EQ(bad.open(dir / "long.txt", error), 1);
    EXPECT_EQ(bad.next(line, error), 1);
    EXPECT_EQ(bad.next(line, error), 1);
    EXPECT_EQ(bad.next(line, error), -1);
    EXPECT_NE(error.find(dir / "long.txt"), std::string::npos) << error;
    EXPECT_NE(error.find("line 3"), std::string::npos) << error;

    // A device without line ends stops at the bound instead of filling the memory.
    tools::LineReader zero;
    ASSERT_EQ(zero.open("/dev/zero", error), 1);
    EXPECT_EQ(zero.next(line, error), -1);
    EXPECT_NE(error.find("line 1 is longer"), std::string::npos) << error;
    EXPECT_LE(line.capacity(), 4 * tools::kMaxLineBytes);
}

TEST(ToolDescriptorFile, KeepsTheReasonOfTheFirstFailure) {
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (full < 0) {
        GTEST_SKIP() << "no /dev/full here";
    }
    auto failure = std::make_shared<tools::Failure>();
    {
        FilePtr file = tools::descriptorFile(full, failure);
        EXPECT_EQ(file->write("abcd", 4), 0u);
        EXPECT_EQ(file->read(nullptr, 0), 0);  // a later call does not overwrite the reason
    }
    EXPECT_EQ(failure->err, ENOSPC);
    EXPECT_TRUE(failure->writing);

    Scratch dir;
    ASSERT_TRUE(dir.ok());
    auto readFailure = std::make_shared<tools::Failure>();
    FilePtr folder = tools::descriptorFile(::open(dir.path().c_str(), O_RDONLY), readFailure);
    char byte = 0;
    EXPECT_EQ(folder->read(&byte, 1), -1);
    EXPECT_EQ(readFailure->err, EISDIR);
    EXPECT_FALSE(readFailure->writing);
}

// Runs `body` in a child process; its wait status.
template <typename Body>
int inChild(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

TEST(ToolStandardDescriptors, ClosedOnesAreTakenBeforeAnyFileIsOpened) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    const std::string file = dir / "f";
    const int status = inChild([&] {
        ::close(1);
        ::close(2);
        if (tools::makeStandardDescriptorsValid() != 1) {
            return 10;
        }
        const int fd = ::open(file.c_str(), O_RDWR | O_CREAT, 0644);
        if (fd <= 2) {
            return 11;  // a file took a standard number
        }
        return ::write(1, "x", 1) == 1 && ::write(2, "x", 1) == 1 ? 0 : 12;
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readBytes(file), "");
}

TEST(ToolRemoval, ASignalRemovesTheRegisteredNamesOnlyAndEndsTheProcess) {
    Scratch dir;
    ASSERT_TRUE(dir.ok());
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        writeBytes(dir / "mine", "1");
        writeBytes(dir / "handed-over", "2");
        writeBytes(dir / "theirs", "3");
        const int status = inChild([&] {
            // Its line goes to a pipe nobody reads; that must not change how it ends.
            int broken[2];
            if (::pipe(broken) != 0) {
                return 22;
            }
            ::close(broken[0]);
            ::dup2(broken[1], 2);
            tools::installRemovalOnSignals("test");
            tools::registerForRemoval(dir / "mine");
            tools::forgetRegistered(tools::registerForRemoval(dir / "handed-over"));
            {
                tools::SignalsHeld held;
                ::raise(sig);
                if (::access((dir / "mine").c_str(), F_OK) != 0) {
                    return 20;  // held back signals must wait
                }
            }
            return 21;  // the signal should have ended the process
        });
        ASSERT_TRUE(WIFSIGNALED(status)) << sig << " " << testing::describe(status);
        EXPECT_EQ(WTERMSIG(status), sig);
        EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"handed-over", "theirs"})) << sig;
    }
}

// Every form getopt_long offers is read alike; each kind of mistake gets its own line;
// a refusal by the tool stops the reading.
TEST(ToolOptions, ReadsEachFormAndNamesEachMistake) {
    const std::vector<tools::OptionSpec> table = {
        {"size", 0, true}, {"o", 'o', true}, {"help", 'h', false}};
    const auto read = [&](std::vector<const char*> words, std::string& seen, std::string& error) {
        words.insert(words.begin(), "tool");
        seen.clear();
        const tools::OptionTaker take = [&](size_t option, const std::string& value,
                                            std::string& why) {
            if (value == "no") {
                why = "refused";
                return false;
            }
            seen += std::to_string(option) + "=" + value + ";";
            return true;
        };
        return tools::readOptions(static_cast<int>(words.size()), words.data(), table, take, error);
    };
    std::string seen;
    std::string error;
    ASSERT_EQ(read({"--size", "-3", "--size=4x4", "-o", "a", "-ob", "-h"}, seen, error), 1)
        << error;
    EXPECT_EQ(seen, "0=-3;0=4x4;1=a;1=b;2=;");
    // Read again from the start, as a second command line of the same process.
    ASSERT_EQ(read({"-o", "c"}, seen, error), 1) << error;
    EXPECT_EQ(seen, "1=c;");
    const std::pair<std::vector<const char*>, std::string> wrong[] = {
        {{"--bogus", "1"}, "unknown option --bogus"},
        {{"-x"}, "unknown option -x"},
        {{"-o", "a", "stray"}, "unknown option stray"},
        {{"--size"}, "missing value after --size"},
        {{"-o"}, "missing value after -o"},
        {{"--size", "no", "-o", "a"}, "refused"}};
    for (const auto& [words, message] : wrong) {
        EXPECT_EQ(read(words, seen, error), 0) << message;
        EXPECT_EQ(error, message);
    }
    EXPECT_EQ(seen, "");
}

TEST(ToolOptions, WholeNumbersInOneFormOnly) {
    long v = 7;
    EXPECT_TRUE(tools::parseWhole("65535", 0, 65535, v));
    EXPECT_EQ(v, 65535);
    EXPECT_TRUE(tools::parseWhole("-32768", -32768, 32767, v));
    EXPECT_EQ(v, -32768);
    EXPECT_FALSE(tools::parseWhole("65536", 0, 65535, v));
    for (const char* bad : {"", "-", "-1", "-0", "+1", " 1", "1 ", "1x", "0x10", "1234567890"}) {
        EXPECT_FALSE(tools::parseWhole(bad, 0, 2000000000, v)) << bad;
    }
    EXPECT_EQ(v, -32768) << "a refused number leaves the value alone";
    std::vector<long> values;
    EXPECT_TRUE(tools::parseWholes("-1,2,3,4", ',', 4, -5, 5, values));
    EXPECT_EQ(values, (std::vector<long>{-1, 2, 3, 4}));
    for (const char* bad : {"1,2,3", "1,2,3,4,5", "1,,3,4", "1,2,3,9", "1x2,3,4,5"}) {
        EXPECT_FALSE(tools::parseWholes(bad, ',', 4, -5, 5, values)) << bad;
    }
}

}  // namespace
}  // namespace pemlo
