// The recording written beside the page as data scripts: the chunks decode back to the
// FLV, the index comes last and only after every chunk, and every fault of a create,
// write, read or close leaves no index behind.
#include "app/preview_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/support/memory_file.h"

namespace {

using pemlo::PreviewDataResult;
using pemlo::testing::MemoryFile;

// A file handed out by MemoryFolder: the bytes stay in the folder after it is closed.
class SharedFile final : public pemlo::File {
  public:
    SharedFile(std::shared_ptr<MemoryFile> file, uint32_t* largestRead)
        : file_(std::move(file)), largestRead_(largestRead) {}
    uint32_t write(const void* data, uint32_t count) override { return file_->write(data, count); }
    int64_t read(void* data, uint32_t count) override {
        *largestRead_ = std::max(*largestRead_, count);
        return file_->read(data, count);
    }
    bool seek(uint64_t offset) override { return file_->seek(offset); }
    bool seekEnd() override { return file_->seekEnd(); }
    int64_t tell() override { return file_->tell(); }
    bool close() override { return file_->close() && !failClose; }
    bool isOpen() const override { return file_->isOpen(); }
    bool failClose = false;

  private:
    std::shared_ptr<MemoryFile> file_;
    uint32_t* largestRead_;
};

// A folder in memory with one fault at a time: the n-th create fails, the n-th created
// file takes only so many bytes, the n-th created file fails to close, or the FLV fails
// to read past a point.
class MemoryFolder final : public pemlo::PreviewFiles {
  public:
    std::map<std::string, std::shared_ptr<MemoryFile>> files;
    std::vector<std::string> log;
    int creates = 0;
    int failCreate = -1;
    int shortFile = -1;
    uint64_t shortBudget = 0;
    int badClose = -1;
    uint64_t flvReadBudget = UINT64_MAX;
    uint32_t largestRead = 0;

    pemlo::FilePtr createFile(const std::string& path) override {
        const int n = creates++;
        log.push_back("create " + path);
        if (n == failCreate) {
            return nullptr;
        }
        auto file = std::make_shared<MemoryFile>();
        if (n == shortFile) {
            file->writeBudget = shortBudget;
        }
        files[path] = file;
        auto shared = std::make_unique<SharedFile>(file, &largestRead);
        shared->failClose = n == badClose;
        return shared;
    }
    pemlo::FilePtr openForReading(const std::string& path) override {
        const auto found = files.find(path);
        if (found == files.end()) {
            return nullptr;
        }
        found->second->open = true;
        found->second->pos = 0;
        found->second->readTotal = 0;
        found->second->readBudget = flvReadBudget;
        return std::make_unique<SharedFile>(found->second, &largestRead);
    }
    bool removeFile(const std::string& path) override {
        log.push_back("remove " + path);
        return files.erase(path) == 1;
    }
    std::string text(const std::string& path) const {
        const auto found = files.find(path);
        return found == files.end()
                   ? "<none>"
                   : std::string(found->second->bytes.begin(), found->second->bytes.end());
    }
    bool has(const std::string& path) const { return files.count(path) == 1; }
};

std::string decodeBase64(const std::string& text) {
    std::string out;
    uint32_t acc = 0;
    int bits = 0;
    for (const char c : text) {
        int v = -1;
        if (c >= 'A' && c <= 'Z') {
            v = c - 'A';
        } else if (c >= 'a' && c <= 'z') {
            v = c - 'a' + 26;
        } else if (c >= '0' && c <= '9') {
            v = c - '0' + 52;
        } else if (c == '+') {
            v = 62;
        } else if (c == '/') {
            v = 63;
        } else if (c == '=') {
            break;
        } else {
            return "<bad character>";
        }
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xFF);
        }
    }
    return out;
}

std::string base64(const std::string& s) {
    std::string out;
    pemlo::appendBase64(out, reinterpret_cast<const unsigned char*>(s.data()), s.size());
    return out;
}

TEST(PreviewData, Base64OfEveryTailLength) {
    EXPECT_EQ(base64(""), "");
    EXPECT_EQ(base64("f"), "Zg==");
    EXPECT_EQ(base64("fo"), "Zm8=");
    EXPECT_EQ(base64("foo"), "Zm9v");
    EXPECT_EQ(base64("foobar"), "Zm9vYmFy");
    EXPECT_EQ(base64(std::string("\xFF\xFE\x00\x3E\x3F", 5)), "//4APj8=");
}

class PreviewDataWriting : public ::testing::Test {
  protected:
    MemoryFolder folder;
    std::string flv;
    const std::string flvPath = "D:/rec.flv";
    const std::string index = "T/PemloPreviewData.js";

    void SetUp() override {
        // Two whole chunks and a few bytes more.
        std::mt19937 random(7);
        flv.resize(2 * pemlo::kPreviewChunkBytes + 5);
        for (char& c : flv) {
            c = static_cast<char>(random());
        }
        auto file = std::make_shared<MemoryFile>();
        file->bytes.assign(flv.begin(), flv.end());
        folder.files[flvPath] = file;
    }
    PreviewDataResult write(uint64_t limit = pemlo::kPreviewDataLimit) {
        return pemlo::writePreviewData(folder, "T/", flvPath, "D:\\\\rec.flv", "0123abcd", limit);
    }
    // The bytes a page gets from chunk n, after checking the call around them.
    std::string chunkBytes(uint32_t n) {
        const std::string text = folder.text("T/" + pemlo::previewChunkName(n));
        const std::string head = "pemloPreviewChunk('0123abcd'," + std::to_string(n) + ",'";
        const std::string tail = "');\r\n";
        if (text.compare(0, head.size(), head) != 0 || text.size() < head.size() + tail.size() ||
            text.compare(text.size() - tail.size(), tail.size(), tail) != 0) {
            return "<malformed chunk " + std::to_string(n) + ">";
        }
        return decodeBase64(text.substr(head.size(), text.size() - head.size() - tail.size()));
    }
};

TEST_F(PreviewDataWriting, ChunksDecodeToTheFlvAndTheIndexComesLast) {
    // Left by an earlier, longer recording.
    folder.files["T/" + pemlo::previewChunkName(4)] = std::make_shared<MemoryFile>();
    folder.files["T/" + pemlo::previewChunkName(5)] = std::make_shared<MemoryFile>();
    ASSERT_EQ(write(), PreviewDataResult::Written);

    EXPECT_EQ(chunkBytes(1) + chunkBytes(2) + chunkBytes(3), flv);
    EXPECT_EQ(chunkBytes(3).size(), 5U);
    EXPECT_FALSE(folder.has("T/PemloPreviewData4.js"));
    EXPECT_FALSE(folder.has("T/PemloPreviewData5.js"));
    EXPECT_EQ(folder.text(index),
              "pemloPreviewIndex({\"token\":\"0123abcd\",\"file\":'D:\\\\rec.flv',\"bytes\":" +
                  std::to_string(flv.size()) + ",\"chunks\":3,\"chunkBytes\":786432});\r\n");
    // The old index goes first, the new one is created last.
    ASSERT_GE(folder.log.size(), 2U);
    EXPECT_EQ(folder.log.front(), "remove " + index);
    EXPECT_EQ(folder.log.back(), "create " + index);
    // The FLV is read in pieces, never whole.
    EXPECT_LE(folder.largestRead, 65536U);
    EXPECT_GT(folder.largestRead, 0U);
}

TEST_F(PreviewDataWriting, AboveTheLimitOnlyTheIndexSaysSo) {
    ASSERT_EQ(write(flv.size() - 1), PreviewDataResult::TooLarge);
    EXPECT_FALSE(folder.has("T/PemloPreviewData1.js"));
    EXPECT_EQ(folder.text(index),
              "pemloPreviewIndex({\"token\":\"0123abcd\",\"file\":'D:\\\\rec.flv',\"bytes\":" +
                  std::to_string(flv.size()) + ",\"tooLarge\":true});\r\n");
    // At the limit exactly, it is written.
    EXPECT_EQ(write(flv.size()), PreviewDataResult::Written);
}

TEST_F(PreviewDataWriting, AMissingOrEmptyFlvLeavesNoIndex) {
    folder.files[index] = std::make_shared<MemoryFile>();  // from an earlier publication
    folder.files.erase(flvPath);
    EXPECT_EQ(write(), PreviewDataResult::Failed);
    EXPECT_FALSE(folder.has(index));
    folder.files[flvPath] = std::make_shared<MemoryFile>();
    EXPECT_EQ(write(), PreviewDataResult::Failed);
    EXPECT_FALSE(folder.has(index));
}

TEST_F(PreviewDataWriting, EveryFaultLeavesNoIndex) {
    // Four files are created: three chunks and the index. Their sizes when all goes well:
    ASSERT_EQ(write(), PreviewDataResult::Written);
    std::vector<uint64_t> sizes;
    for (const char* name : {"T/PemloPreviewData1.js", "T/PemloPreviewData2.js",
                             "T/PemloPreviewData3.js", "T/PemloPreviewData.js"}) {
        sizes.push_back(folder.files.at(name)->bytes.size());
    }
    folder.creates = 0;
    for (int n = 0; n < 4; ++n) {
        SCOPED_TRACE("file " + std::to_string(n));
        folder.failCreate = n;
        EXPECT_EQ(write(), PreviewDataResult::Failed);
        EXPECT_FALSE(folder.has(index));
        folder.failCreate = -1;
        folder.creates = 0;

        const uint64_t size = sizes[static_cast<std::size_t>(n)];
        for (uint64_t budget : {uint64_t{0}, uint64_t{1}, size / 2, size - 1}) {
            folder.shortFile = n;
            folder.shortBudget = budget;
            EXPECT_EQ(write(), PreviewDataResult::Failed) << "budget " << budget;
            EXPECT_FALSE(folder.has(index));
            folder.creates = 0;
        }
        folder.shortFile = -1;

        folder.badClose = n;
        EXPECT_EQ(write(), PreviewDataResult::Failed);
        EXPECT_FALSE(folder.has(index));
        folder.badClose = -1;
        folder.creates = 0;
    }
    for (uint64_t budget : {0ULL, 49151ULL, 786432ULL, 1572864ULL}) {
        folder.flvReadBudget = budget;
        EXPECT_EQ(write(), PreviewDataResult::Failed) << "read budget " << budget;
        EXPECT_FALSE(folder.has(index));
        folder.creates = 0;
    }
    // With the faults gone, it works again.
    folder.flvReadBudget = UINT64_MAX;
    EXPECT_EQ(write(), PreviewDataResult::Written);
    EXPECT_TRUE(folder.has(index));
}

TEST(PreviewDataToken, HexAndNewEachTime) {
    const std::string a = pemlo::previewDataToken();
    const std::string b = pemlo::previewDataToken();
    EXPECT_EQ(a.size(), 16U);
    EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(a, b);
}

}  // namespace
