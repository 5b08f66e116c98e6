#include "app/preview_page.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tests/support/memory_file.h"

namespace {

namespace fs = std::filesystem;
using pemlo::PreviewPlatform;

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fs::path resourceDir() {
    return fs::path(PEMLO_BINARY_DIR) / "resources";
}

int countOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// What a URL query parser hands the movie (UTF-8 bytes).
std::string percentDecode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// What a JavaScript engine makes of the inside of a string literal (\\ and \xNN only,
// which is all the page uses); empty when a quote or a line end would end it early.
std::string javaScriptDecode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\'' || c == '"' || c == '\r' || c == '\n') {
            return "";
        }
        if (c != '\\') {
            out += c;
        } else if (i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (i + 3 < text.size() && text[i + 1] == 'x') {
            out += static_cast<char>(hexValue(text[i + 2]) * 16 + hexValue(text[i + 3]));
            i += 3;
        } else {
            return "";
        }
    }
    return out;
}

std::string between(const std::string& text, const std::string& open, const std::string& close) {
    const auto start = text.find(open);
    if (start == std::string::npos) {
        return "<missing " + open + ">";
    }
    const auto from = start + open.size();
    const auto end = text.find(close, from);
    return end == std::string::npos ? "<unclosed>" : text.substr(from, end - from);
}

TEST(PreviewPageEscaping, EachContextGetsItsOwnEscapes) {
    // The movie's query takes the path as it is: only what would end the value, start a
    // fragment, read as an escape or a space, or end the attribute is encoded.
    EXPECT_EQ(pemlo::encodeQueryPath("C:\\My Videos\\it's #1 & 100%.flv"),
              "C:\\My Videos\\it%27s %231 %26 100%25.flv");
    EXPECT_EQ(pemlo::encodeQueryPath("C:\\e2e out\\take one.flv"), "C:\\e2e out\\take one.flv");
    EXPECT_EQ(pemlo::encodeQueryPath("a+b\"<c>\t\x7F.flv"), "a%2Bb%22%3Cc%3E%09%7F.flv");
    // A letter beyond ASCII stays the page's own (ISO-8859-1) byte.
    EXPECT_EQ(pemlo::encodeQueryPath("D:\\caf\xE9\\x.flv"), "D:\\caf\xE9\\x.flv");

    EXPECT_EQ(pemlo::escapeJavaScript("C:\\a b\\x.flv"), "C:\\\\a b\\\\x.flv");
    EXPECT_EQ(pemlo::escapeJavaScript("'\"</script>&#%\n"),
              "\\x27\\x22\\x3C/script\\x3E\\x26\\x23\\x25\\x0A");
    EXPECT_EQ(pemlo::escapeJavaScript("no specials"), "no specials");
}

// Publication into a folder of the test, from resources read off the build.
class FolderPlatform final : public PreviewPlatform {
  public:
    fs::path folder;
    std::map<int, std::string> resources;
    std::vector<std::string> opened;

    bool tempFolder(std::string& out) override {
        out = folder.string() + "/";
        return true;
    }
    int writeResource(int id, const std::string& path, const char* const* pairs,
                      int entries) override {
        const auto found = resources.find(id);
        pemlo::FilePtr file = pemlo::createFile(path);
        if (found == resources.end() || !file) {
            return 0;
        }
        return pemlo::writeFilledResource(*file, found->second.data(), found->second.size(), pairs,
                                          entries);
    }
    bool openPage(const std::string& path) override {
        opened.push_back(path);
        return true;
    }
    // The recording and its thumbnail, by the paths the page is published for.
    std::map<std::string, std::string> recorded;
    pemlo::FilePtr openForReading(const std::string& path) override {
        const auto found = recorded.find(path);
        if (found == recorded.end()) {
            return nullptr;
        }
        auto file = std::make_unique<pemlo::testing::MemoryFile>();
        file->bytes.assign(found->second.begin(), found->second.end());
        return file;
    }
};

class PreviewPublication : public ::testing::Test {
  protected:
    FolderPlatform platform;
    std::string templateText;
    std::string movie;

    void SetUp() override {
        char pattern[] = "/tmp/pemlo-page-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        platform.folder = pattern;
        templateText = readAll(resourceDir() / "preview_page_crlf.html");
        movie = readAll(resourceDir() / "PemloPreview.swf");
        ASSERT_FALSE(templateText.empty());
        ASSERT_FALSE(movie.empty());
        platform.resources[pemlo::kPreviewPageResource] = templateText;
        platform.resources[pemlo::kPreviewMovieResource] = movie;
    }
    void TearDown() override { fs::remove_all(platform.folder); }
};

TEST_F(PreviewPublication, TemplateIsCrlfLatin1WithThePlayerAndThePlaceholders) {
    for (std::size_t i = 0; i < templateText.size(); ++i) {
        ASSERT_LT(static_cast<unsigned char>(templateText[i]), 0x80U) << "at " << i;
        if (templateText[i] == '\n') {
            ASSERT_TRUE(i > 0 && templateText[i - 1] == '\r') << "bare LF at " << i;
        }
    }
    EXPECT_NE(templateText.find("<!-- saved from url=(0013)about:internet -->"), std::string::npos);
    EXPECT_LT(templateText.find("saved from url"), 200U);
    EXPECT_EQ(countOf(templateText, "clsid:d27cdb6e-ae6d-11cf-96b8-444553540000"), 1);
    EXPECT_EQ(countOf(templateText, "type=\"application/x-shockwave-flash\""), 1);
    EXPECT_EQ(
        countOf(templateText, "PemloPreview.swf?videofile=#file#&amp;w=#width#&amp;h=#height#"), 2);
    // The movie's settings, in the markup (the scripts after it hold such words too).
    const std::string markup = templateText.substr(0, templateText.rfind("<script"));
    for (const char* setting : {"exactfit", "\"always\"", "\"high\"", "\"#ffffff\""}) {
        EXPECT_EQ(countOf(markup, setting), 2) << setting;
    }
    EXPECT_EQ(countOf(templateText, "value=\"#file#\""), 1);
    EXPECT_EQ(countOf(templateText, "'Your recording: #escfile#'"), 1);
    EXPECT_EQ(countOf(templateText, "'Its thumbnail: #bmp#'"), 1);
}

TEST_F(PreviewPublication, FillsSizesReferenceAndEscapedPathsForAHostilePath) {
    const std::string path = "C:\\My Videos\\it's \"#1\" & 100% <b>.flv";
    const std::string bmp = "C:\\My Videos\\#bmp# folder\\it's.bmp";
    platform.recorded[path] = "FLV";
    platform.recorded[bmp] = "BM";
    ASSERT_EQ(pemlo::publishPreviewPageWith(platform, 640, 480, path.c_str(), bmp.c_str()), 1);
    const std::string page = readAll(platform.folder / "PemloPreview.html");

    EXPECT_EQ(countOf(page, "width=\"640\""), 2);
    EXPECT_EQ(countOf(page, "height=\"480\""), 2);
    for (const char* key : {"#width#", "#height#", "#file#", "#escfile#", "#bmp#"}) {
        EXPECT_EQ(countOf(page, key), 0) << key;
    }
    // The movie reference: the path as it is but for the few encoded characters, decoding
    // back to the same path.
    const std::string reference = "PemloPreview.swf?videofile=";
    EXPECT_EQ(countOf(page, reference), 2);
    const std::string query = between(page, reference, "&amp;w=640&amp;h=480\"");
    EXPECT_EQ(query.find_first_of("'\"&#<>+"), std::string::npos) << query;
    EXPECT_EQ(percentDecode(query), path);
    EXPECT_EQ(countOf(page, reference + query + "&amp;w=640&amp;h=480\""), 2);
    // The file field holds the same encoded text, safe inside its attribute.
    EXPECT_EQ(between(page, "name=\"video\" value=\"", "\""), query);
    // Script strings decode back to the paths; no quote ends them early.
    EXPECT_EQ(javaScriptDecode(between(page, "'Your recording: ", "';")), path);
    EXPECT_EQ(javaScriptDecode(between(page, "'Its thumbnail: ", "';")), bmp);
    // Nothing else changed size: three file places, four widths, four heights and two
    // of each script string.
    const auto delta = [](const std::string& value, const std::string& key) {
        return static_cast<long long>(value.size()) - static_cast<long long>(key.size());
    };
    EXPECT_EQ(delta(page, templateText),
              3 * delta(query, "#file#") + 4 * delta("640", "#width#") +
                  4 * delta("480", "#height#") +
                  2 * delta(between(page, "'Your recording: ", "';"), "#escfile#") +
                  2 * delta(between(page, "'Its thumbnail: ", "';"), "#bmp#"));
    // The player finds the same paths, and the data written for the recording.
    EXPECT_EQ(javaScriptDecode(between(page, "{ video: '", "'")), path);
    EXPECT_EQ(javaScriptDecode(between(page, "thumbnail: '", "'")), bmp);
    EXPECT_EQ(between(readAll(platform.folder / "PemloPreviewData1.js"), ",1,'", "'"), "RkxW");
}

TEST_F(PreviewPublication, WritesMovieThenPageThenOpensAndOverwritesEachTime) {
    platform.recorded = {{"C:\\old.flv", "FLV1"},
                         {"C:\\new.flv", "FLV2"},
                         {"C:\\old.bmp", "BM"},
                         {"C:\\new.bmp", "BM"}};
    ASSERT_EQ(pemlo::publishPreviewPageWith(platform, 800, 600, "C:\\old.flv", "C:\\old.bmp"), 1);
    ASSERT_EQ(pemlo::publishPreviewPageWith(platform, 320, 240, "C:\\new.flv", "C:\\new.bmp"), 1);
    const std::string page = readAll(platform.folder / "PemloPreview.html");
    EXPECT_EQ(readAll(platform.folder / "PemloPreview.swf"), movie);
    EXPECT_EQ(countOf(page, "width=\"320\""), 2);
    EXPECT_EQ(countOf(page, "width=\"800\""), 0);
    EXPECT_EQ(countOf(page, "old.flv") + countOf(page, "old.bmp"), 0);
    EXPECT_EQ(countOf(page, "C:\\\\new.bmp"), 2);  // the tooltip and the player
    ASSERT_EQ(platform.opened.size(), 2U);
    EXPECT_EQ(platform.opened[1], platform.folder.string() + "/PemloPreview.html");
}

TEST_F(PreviewPublication, AThumbnailNeverWrittenIsNotNamed) {
    platform.recorded["C:\\tiny.flv"] = "FLV";
    ASSERT_EQ(pemlo::publishPreviewPageWith(platform, 3, 2, "C:\\tiny.flv", "C:\\tiny.bmp"), 1);
    const std::string page = readAll(platform.folder / "PemloPreview.html");
    EXPECT_EQ(countOf(page, "tiny.bmp"), 0);
    EXPECT_EQ(countOf(page, "thumbnail: '' }"), 1);
    EXPECT_EQ(countOf(page, "C:\\\\tiny.flv"), 2);
}

// Records what publication asks of the platform.
class RecordingPlatform final : public PreviewPlatform {
  public:
    bool hasFolder = true;
    int writeResult = 1;
    bool hasRecording = true;
    std::vector<std::string> calls;

    bool tempFolder(std::string& out) override {
        out = "T\\";
        return hasFolder;
    }
    int writeResource(int id, const std::string& path, const char* const* pairs,
                      int entries) override {
        std::string call = std::to_string(id) + " " + path + " " + std::to_string(entries);
        for (int i = 0; pairs != nullptr && i < entries; ++i) {
            call += std::string(" ") + pairs[i];
        }
        calls.push_back(call);
        return writeResult;
    }
    bool openPage(const std::string& path) override {
        calls.push_back("open " + path);
        return true;
    }
    pemlo::FilePtr createFile(const std::string& path) override {
        calls.push_back("create " + path);
        return std::make_unique<pemlo::testing::MemoryFile>();
    }
    pemlo::FilePtr openForReading(const std::string& path) override {
        calls.push_back("read " + path);
        if (!hasRecording) {
            return nullptr;
        }
        auto file = std::make_unique<pemlo::testing::MemoryFile>();
        file->bytes = {'F', 'L', 'V'};
        return file;
    }
    bool removeFile(const std::string& path) override {
        calls.push_back("remove " + path);
        return false;
    }
};

TEST(PreviewPublicationOrder, MovieThenDataThenPageWithFivePairsThenOpenEvenAfterFailures) {
    RecordingPlatform platform;
    EXPECT_EQ(pemlo::publishPreviewPageWith(platform, 640, 480, "C:\\v.flv", "C:\\v.bmp"), 1);
    const std::vector<std::string> expected = {
        "read C:\\v.bmp",
        "401 T\\PemloPreview.swf 0",
        "remove T\\PemloPreviewData.js",
        "read C:\\v.flv",
        "create T\\PemloPreviewData1.js",
        "remove T\\PemloPreviewData2.js",
        "create T\\PemloPreviewData.js",
        "400 T\\PemloPreview.html 10 #width# 640 #height# 480 #file# C:\\v.flv "
        "#escfile# C:\\\\v.flv #bmp# C:\\\\v.bmp",
        "open T\\PemloPreview.html"};
    EXPECT_EQ(platform.calls, expected);

    platform.calls.clear();
    platform.writeResult = 0;
    EXPECT_EQ(pemlo::publishPreviewPageWith(platform, 640, 480, "C:\\v.flv", "C:\\v.bmp"), 0);
    EXPECT_EQ(platform.calls, expected);

    // No recording to read (nor thumbnail): the page is still written and opened.
    platform.calls.clear();
    platform.writeResult = 1;
    platform.hasRecording = false;
    EXPECT_EQ(pemlo::publishPreviewPageWith(platform, 640, 480, "C:\\v.flv", "C:\\v.bmp"), 0);
    ASSERT_EQ(platform.calls.size(), 6U);
    EXPECT_EQ(platform.calls[4],
              "400 T\\PemloPreview.html 10 #width# 640 #height# 480 #file# C:\\v.flv "
              "#escfile# C:\\\\v.flv #bmp# ");
    EXPECT_EQ(platform.calls[5], "open T\\PemloPreview.html");

    // Without a temporary folder nothing is written anywhere.
    platform.calls.clear();
    platform.hasFolder = false;
    EXPECT_EQ(pemlo::publishPreviewPageWith(platform, 640, 480, "C:\\v.flv", "C:\\v.bmp"), 0);
    EXPECT_TRUE(platform.calls.empty());
}

TEST(WriteFilledResource, WritesTheCountedBytesAndReportsShortWrites) {
    const std::string data = "<p>#a#</p>";
    const char* pairs[] = {"#a#", "filled"};
    pemlo::testing::MemoryFile file;
    ASSERT_EQ(pemlo::writeFilledResource(file, data.data(), data.size(), pairs, 2), 1);
    EXPECT_EQ(std::string(file.bytes.begin(), file.bytes.end()), "<p>filled</p>");
    EXPECT_FALSE(file.open);

    // Without pairs the bytes go out unchanged, inner terminators included.
    const std::string binary("CWS\0\x07#a#", 8);
    pemlo::testing::MemoryFile raw;
    ASSERT_EQ(pemlo::writeFilledResource(raw, binary.data(), binary.size(), nullptr, 0), 1);
    EXPECT_EQ(std::string(raw.bytes.begin(), raw.bytes.end()), binary);

    pemlo::testing::MemoryFile shortFile;
    shortFile.writeBudget = 5;
    EXPECT_EQ(pemlo::writeFilledResource(shortFile, data.data(), data.size(), pairs, 2), 0);
}

}  // namespace
