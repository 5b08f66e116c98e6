#include "app/replace_all.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using pemlo::findNext;
using pemlo::replaceAll;

// A heap buffer holding `text` (with its length counted exactly, no terminator).
struct HeapText {
    char* data = nullptr;
    std::size_t length = 0;
    explicit HeapText(const std::string& text) : length(text.size()) {
        data = static_cast<char*>(std::malloc(text.empty() ? 1 : text.size()));
        std::memcpy(data, text.data(), text.size());
    }
    ~HeapText() { std::free(data); }
    HeapText(const HeapText&) = delete;
    HeapText& operator=(const HeapText&) = delete;
    std::string str() const { return {data, length}; }
};

TEST(FindNext, StepsPastEachMatchAndStopsAtTheEnd) {
    const std::string text = "aXbXXc";
    const char* cursor = text.data();
    std::size_t remaining = text.size();
    ASSERT_EQ(findNext("X", cursor, remaining), 1);
    EXPECT_EQ(cursor, text.data() + 2);
    EXPECT_EQ(remaining, 4U);
    ASSERT_EQ(findNext("XX", cursor, remaining), 1);
    EXPECT_EQ(cursor, text.data() + 5);
    EXPECT_EQ(remaining, 1U);
    EXPECT_EQ(findNext("X", cursor, remaining), 0);
    EXPECT_EQ(cursor, text.data() + text.size());
    EXPECT_EQ(remaining, 0U);

    // A match must lie wholly inside the remaining bytes.
    const std::string cut = "abcab";
    cursor = cut.data();
    remaining = cut.size();
    EXPECT_EQ(findNext("abc", cursor, remaining), 1);
    EXPECT_EQ(findNext("abc", cursor, remaining), 0);
    EXPECT_EQ(findNext("b", cursor, remaining), 0);
}

TEST(ReplaceAll, ReplacesEveryNonOverlappingMatchAndReportsTheCount) {
    HeapText t("aaa-aa-#w#x#w#");
    int count = -1;
    ASSERT_EQ(replaceAll(t.data, t.length, "aa", "b", &count), 0);
    // "aaa" holds one "aa" (the search resumes after a match), "aa" one more.
    EXPECT_EQ(t.str(), "ba-b-#w#x#w#");
    EXPECT_EQ(count, 2);
    ASSERT_EQ(replaceAll(t.data, t.length, "#w#", "640", &count), 0);
    EXPECT_EQ(t.str(), "ba-b-640x640");
    EXPECT_EQ(count, 2);
    // Growing and shrinking to nothing.
    ASSERT_EQ(replaceAll(t.data, t.length, "ba-b-640x640", "", &count), 0);
    EXPECT_EQ(t.length, 0U);
    EXPECT_EQ(count, 1);
}

TEST(ReplaceAll, NoMatchLeavesBufferLengthAndBlockUntouched) {
    HeapText t("no keys here");
    char* const before = t.data;
    int count = -1;
    ASSERT_EQ(replaceAll(t.data, t.length, "#file#", "x", &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(t.data, before);
    EXPECT_EQ(t.str(), "no keys here");
    // A key longer than the buffer and a key at the very end.
    HeapText s("ab");
    ASSERT_EQ(replaceAll(s.data, s.length, "abc", "x", &count), 0);
    EXPECT_EQ(count, 0);
    ASSERT_EQ(replaceAll(s.data, s.length, "b", "[b]", &count), 0);
    EXPECT_EQ(s.str(), "a[b]");
}

TEST(ReplaceAll, CarriesATerminatorInsideTheCountedLength) {
    // A path copied with its terminator, as the thumbnail path is built.
    const char path[] = "C:\\a.flv";
    HeapText t(std::string(path, sizeof path));
    int count = 0;
    ASSERT_EQ(replaceAll(t.data, t.length, ".flv", ".bmp", &count), 0);
    EXPECT_EQ(count, 1);
    ASSERT_EQ(t.length, sizeof path);
    EXPECT_EQ(t.str(), std::string("C:\\a.bmp", sizeof path));
    EXPECT_EQ(t.data[t.length - 1], '\0');
    // Bytes after an inner terminator are searched too.
    HeapText u(std::string("a\0b.flv", 7));
    ASSERT_EQ(replaceAll(u.data, u.length, ".flv", ".bmp", &count), 0);
    EXPECT_EQ(u.str(), std::string("a\0b.bmp", 7));
}

TEST(ReplaceAll, InsertedTextIsSearchedByLaterKeysOnly) {
    HeapText t("#a#");
    int count = 0;
    // The inserted text holds the key itself: not searched again by this call.
    ASSERT_EQ(replaceAll(t.data, t.length, "#a#", "#a##b#", &count), 0);
    EXPECT_EQ(t.str(), "#a##b#");
    EXPECT_EQ(count, 1);
    // A later key finds what an earlier one inserted.
    ASSERT_EQ(replaceAll(t.data, t.length, "#b#", "B", &count), 0);
    EXPECT_EQ(t.str(), "#a#B");
    EXPECT_EQ(count, 1);
}

int resizeCalls = 0;
int allocateCalls = 0;
void* failingResize(void* /*block*/, std::size_t /*size*/) {
    ++resizeCalls;
    return nullptr;
}
void* failingAllocate(std::size_t /*size*/) {
    ++allocateCalls;
    return nullptr;
}

TEST(ReplaceAll, FailedAllocationOrResizeLeavesTheBufferAsItWas) {
    HeapText t("x#k#y#k#");
    char* const before = t.data;
    int count = 7;

    pemlo::ReplaceHeap heap = pemlo::defaultReplaceHeap();
    heap.resize = failingResize;
    EXPECT_EQ(replaceAll(t.data, t.length, "#k#", "value", &count, heap), -1);
    EXPECT_EQ(resizeCalls, 1);
    EXPECT_EQ(t.data, before);
    EXPECT_EQ(t.str(), "x#k#y#k#");
    EXPECT_EQ(count, 0);

    heap = pemlo::defaultReplaceHeap();
    heap.allocate = failingAllocate;
    EXPECT_EQ(replaceAll(t.data, t.length, "#k#", "v", &count, heap), -1);
    EXPECT_EQ(allocateCalls, 1);
    EXPECT_EQ(t.data, before);
    EXPECT_EQ(t.str(), "x#k#y#k#");

    // With a working heap the same call succeeds.
    EXPECT_EQ(replaceAll(t.data, t.length, "#k#", "v", &count), 0);
    EXPECT_EQ(t.str(), "xvyv");
}

}  // namespace
