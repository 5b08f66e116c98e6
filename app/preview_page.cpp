#include "app/preview_page.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/replace_all.h"

namespace pemlo {

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

void appendHexByte(std::string& out, const char* prefix, unsigned value) {
    out += prefix;
    out += kHexDigits[(value >> 4) & 15];
    out += kHexDigits[value & 15];
}

// Characters that would end the query value, start a fragment, read as an escape, turn
// into a space, or end the HTML attribute the reference stands in.
bool breaksQueryOrAttribute(unsigned char c) {
    return c < 0x20 || c == 0x7F || std::strchr("&#%+\"'<>", static_cast<int>(c)) != nullptr;
}

}  // namespace

std::string encodeQueryPath(const char* text) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (breaksQueryOrAttribute(c)) {
            appendHexByte(out, "%", c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string escapeJavaScript(const char* text) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\'':
            case '"':
            case '<':
            case '>':
            case '&':
            case '#':  // would let a later placeholder match inside the value
            case '%':
                appendHexByte(out, "\\x", c);
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    appendHexByte(out, "\\x", c);
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

void makePreviewPageValues(PreviewPageValues& values, int outputWidth, int outputHeight,
                           const char* outputPath, const char* thumbnailPath) {
    char number[16];
    std::snprintf(number, sizeof number, "%d", outputWidth);
    values.width = number;
    std::snprintf(number, sizeof number, "%d", outputHeight);
    values.height = number;
    values.file = encodeQueryPath(outputPath);
    values.escFile = escapeJavaScript(outputPath);
    values.bmp = escapeJavaScript(thumbnailPath);
}

void previewPagePairs(const PreviewPageValues& values, const char* pairs[kPreviewPairEntries]) {
    pairs[0] = "#width#";
    pairs[1] = values.width.c_str();
    pairs[2] = "#height#";
    pairs[3] = values.height.c_str();
    pairs[4] = "#file#";
    pairs[5] = values.file.c_str();
    pairs[6] = "#escfile#";
    pairs[7] = values.escFile.c_str();
    pairs[8] = "#bmp#";
    pairs[9] = values.bmp.c_str();
}

int writeFilledResource(File& file, const void* data, std::size_t size, const char* const* pairs,
                        int entries) {
    auto* buffer = static_cast<char*>(std::malloc(size + 1));
    if (buffer == nullptr) {
        return 0;
    }
    if (size > 0) {
        std::memcpy(buffer, data, size);
    }
    buffer[size] = '\0';
    std::size_t length = size;
    for (int i = 0; pairs != nullptr && i + 1 < entries; i += 2) {
        if (replaceAll(buffer, length, pairs[i], pairs[i + 1]) != 0) {
            // A placeholder left unfilled would publish a broken page.
            std::free(buffer);
            return 0;
        }
    }
    const bool fits = length <= 0xFFFFFFFFU;
    const bool written =
        fits && file.write(buffer, static_cast<uint32_t>(length)) == static_cast<uint32_t>(length);
    std::free(buffer);
    const bool closed = file.close();
    return written && closed ? 1 : 0;
}

int publishPreviewPageWith(PreviewPlatform& platform, int outputWidth, int outputHeight,
                           const char* outputPath, const char* thumbnailPath) {
    std::string folder;
    if (!platform.tempFolder(folder)) {
        return 0;
    }
    // The output driver writes no thumbnail for an output too small for a preview, and
    // one that could not be written does not stop a recording.
    const bool hasThumbnail = platform.openForReading(thumbnailPath) != nullptr;
    PreviewPageValues values;
    makePreviewPageValues(values, outputWidth, outputHeight, outputPath,
                          hasThumbnail ? thumbnailPath : "");
    const char* pairs[kPreviewPairEntries];
    previewPagePairs(values, pairs);

    const int movie =
        platform.writeResource(kPreviewMovieResource, folder + kPreviewMovieName, nullptr, 0);
    const PreviewDataResult data = writePreviewData(platform, folder, outputPath, values.escFile,
                                                    previewDataToken(), platform.dataLimit());
    const std::string pagePath = folder + kPreviewPageName;
    const int page =
        platform.writeResource(kPreviewPageResource, pagePath, pairs, kPreviewPairEntries);
    const bool opened = platform.openPage(pagePath);
    return movie == 1 && data != PreviewDataResult::Failed && page == 1 && opened ? 1 : 0;
}

}  // namespace pemlo
