#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/file.h"

namespace {

std::string scratchPath(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/pemlo_" + std::to_string(getpid()) + "_" + name;
}

TEST(PosixFile, WritesSeeksAndReportsOffsetsBeyond4GiB) {
    const std::string path = scratchPath("big.bin");
    pemlo::FilePtr f = pemlo::createFile(path);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->write("abcdef", 6), 6u);
    EXPECT_EQ(f->tell(), 6);
    ASSERT_TRUE(f->seek(2));
    EXPECT_EQ(f->write("XY", 2), 2u);
    ASSERT_TRUE(f->seekEnd());
    EXPECT_EQ(f->tell(), 6);
    // A sparse jump past 4 GiB: offsets must not be cut to 32 bits.
    const uint64_t far = (uint64_t{1} << 32) + 5;
    ASSERT_TRUE(f->seek(far));
    EXPECT_EQ(f->write("Z", 1), 1u);
    EXPECT_EQ(f->tell(), static_cast<int64_t>(far + 1));
    ASSERT_TRUE(f->seek(0));
    char buf[6] = {};
    EXPECT_EQ(f->read(buf, 6), 6);
    EXPECT_EQ(std::string(buf, 6), "abXYef");
    EXPECT_TRUE(f->close());
    EXPECT_FALSE(f->isOpen());
    EXPECT_EQ(f->write("a", 1), 0u);
    EXPECT_EQ(f->read(buf, 1), -1);
    EXPECT_TRUE(pemlo::deleteFile(path));
}

TEST(PosixFile, TemporaryFileVanishesButStaysUsable) {
    const std::string path = scratchPath("temp.dat");
    pemlo::FilePtr f = pemlo::createTemporaryFile(path);
    ASSERT_TRUE(f);
    EXPECT_NE(access(path.c_str(), F_OK), 0) << "the scratch file must not stay behind";
    EXPECT_EQ(f->write("hello", 5), 5u);
    ASSERT_TRUE(f->seek(0));
    char buf[5];
    EXPECT_EQ(f->read(buf, 5), 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_EQ(f->read(buf, 5), 0);
}

TEST(PosixFile, MissingFolderFailsCleanly) {
    EXPECT_EQ(pemlo::createFile("/nonexistent-folder/x.flv"), nullptr);
    EXPECT_EQ(pemlo::openFileForReading("/nonexistent-folder/x.flv"), nullptr);
    EXPECT_FALSE(pemlo::deleteFile("/nonexistent-folder/x.flv"));
}

TEST(PosixFile, AKeptFileStaysInItsFolderAndASecondHandleOutlivesTheFirst) {
    const std::string folder = scratchPath("kept");
    ASSERT_TRUE(pemlo::makeFolder(folder));
    EXPECT_TRUE(pemlo::makeFolder(folder));  // already there
    const std::string path = folder + "/spool.dat";
    pemlo::FilePtr f = pemlo::createKeptFile(path);
    ASSERT_TRUE(f);
    pemlo::FilePtr second = f->duplicate();
    ASSERT_TRUE(second);
    EXPECT_EQ(f->write("spooled", 7), 7u);
    EXPECT_TRUE(second->flush());
    EXPECT_TRUE(f->close());
    EXPECT_FALSE(f->flush());
    EXPECT_TRUE(second->flush());
    ASSERT_TRUE(second->seek(0));
    char back[8] = {};
    EXPECT_EQ(second->read(back, 7), 7);
    EXPECT_STREQ(back, "spooled");
    second.reset();
    pemlo::FilePtr again = pemlo::openFileForReading(path);
    ASSERT_TRUE(again);  // still there after both handles closed
    again.reset();
    EXPECT_FALSE(pemlo::removeFolder(folder));  // not empty
    EXPECT_TRUE(pemlo::deleteFile(path));
    EXPECT_TRUE(pemlo::removeFolder(folder));
    EXPECT_FALSE(pemlo::makeFolder(folder + "/no/such"));
}

}  // namespace
