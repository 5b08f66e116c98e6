#include "app/preview_data.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

namespace pemlo {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// FLV bytes read and encoded at a time: a multiple of 3 that divides the chunk size.
constexpr uint32_t kPieceBytes = 49152;
static_assert(kPreviewChunkBytes % kPieceBytes == 0 && kPieceBytes % 3 == 0);

bool writeAll(File& file, const std::string& text) {
    return file.write(text.data(), static_cast<uint32_t>(text.size())) == text.size();
}

// Reads exactly `count` bytes unless the file ends or fails.
bool readExactly(File& file, unsigned char* data, uint32_t count) {
    uint32_t done = 0;
    while (done < count) {
        const int64_t n = file.read(data + done, count - done);
        if (n <= 0) {
            return false;
        }
        done += static_cast<uint32_t>(n);
    }
    return true;
}

// Writes chunk `n` holding `bytes` bytes read from `flv` at its current offset.
bool writeChunk(PreviewFiles& files, const std::string& path, File& flv, const std::string& token,
                uint32_t n, uint32_t bytes, std::vector<unsigned char>& piece, std::string& text) {
    FilePtr out = files.createFile(path);
    if (!out) {
        return false;
    }
    text = "pemloPreviewChunk('" + token + "'," + std::to_string(n) + ",'";
    bool ok = writeAll(*out, text);
    for (uint32_t done = 0; ok && done < bytes; done += kPieceBytes) {
        const uint32_t count = std::min(kPieceBytes, bytes - done);
        ok = readExactly(flv, piece.data(), count);
        if (ok) {
            text.clear();
            appendBase64(text, piece.data(), count);
            ok = writeAll(*out, text);
        }
    }
    ok = ok && writeAll(*out, "');\r\n");
    const bool closed = out->close();
    return ok && closed;
}

bool writeIndex(PreviewFiles& files, const std::string& path, const std::string& text) {
    FilePtr out = files.createFile(path);
    if (!out) {
        return false;
    }
    const bool ok = writeAll(*out, text);
    const bool closed = out->close();
    return ok && closed;
}

}  // namespace

void appendBase64(std::string& out, const unsigned char* data, std::size_t count) {
    const std::size_t at = out.size();
    out.resize(at + (count + 2) / 3 * 4);
    char* p = out.data() + at;
    std::size_t i = 0;
    for (; i + 3 <= count; i += 3, p += 4) {
        const uint32_t v = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
        p[0] = kAlphabet[v >> 18];
        p[1] = kAlphabet[(v >> 12) & 63];
        p[2] = kAlphabet[(v >> 6) & 63];
        p[3] = kAlphabet[v & 63];
    }
    if (i < count) {
        const bool two = i + 2 == count;
        const uint32_t v = (uint32_t{data[i]} << 16) | (two ? uint32_t{data[i + 1]} << 8 : 0U);
        p[0] = kAlphabet[v >> 18];
        p[1] = kAlphabet[(v >> 12) & 63];
        p[2] = two ? kAlphabet[(v >> 6) & 63] : '=';
        p[3] = '=';
    }
}

std::string previewChunkName(uint32_t n) {
    return "PemloPreviewData" + std::to_string(n) + ".js";
}

std::string previewDataToken() {
    std::random_device device;
    const auto now =
        static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
    const uint64_t value = ((uint64_t{device()} << 32) ^ device()) ^ now;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

PreviewDataResult writePreviewData(PreviewFiles& files, const std::string& folder,
                                   const std::string& flvPath, const std::string& pathText,
                                   const std::string& token, uint64_t limit) {
    const std::string indexPath = folder + kPreviewDataIndexName;
    files.removeFile(indexPath);
    FilePtr flv = files.openForReading(flvPath);
    if (!flv) {
        return PreviewDataResult::Failed;
    }
    int64_t size = -1;
    if (flv->seekEnd()) {
        size = flv->tell();
    }
    if (size <= 0 || !flv->seek(0)) {
        return PreviewDataResult::Failed;
    }
    const auto bytes = static_cast<uint64_t>(size);
    const std::string head = "pemloPreviewIndex({\"token\":\"" + token + "\",\"file\":'" +
                             pathText + "',\"bytes\":" + std::to_string(bytes);
    uint32_t chunks = 0;
    PreviewDataResult result = PreviewDataResult::TooLarge;
    std::string index = head + ",\"tooLarge\":true});\r\n";
    if (bytes <= limit) {
        std::vector<unsigned char> piece(kPieceBytes);
        std::string text;
        text.reserve(kPieceBytes / 3 * 4 + 64);
        chunks = static_cast<uint32_t>((bytes + kPreviewChunkBytes - 1) / kPreviewChunkBytes);
        for (uint32_t n = 1; n <= chunks; ++n) {
            const uint64_t left = bytes - uint64_t{n - 1} * kPreviewChunkBytes;
            const auto count = static_cast<uint32_t>(std::min<uint64_t>(left, kPreviewChunkBytes));
            if (!writeChunk(files, folder + previewChunkName(n), *flv, token, n, count, piece,
                            text)) {
                return PreviewDataResult::Failed;
            }
        }
        index = head + ",\"chunks\":" + std::to_string(chunks) +
                ",\"chunkBytes\":" + std::to_string(kPreviewChunkBytes) + "});\r\n";
        result = PreviewDataResult::Written;
    }
    flv->close();
    // Chunks of an earlier, longer recording would only take space.
    for (uint32_t n = chunks + 1; files.removeFile(folder + previewChunkName(n)); ++n) {
    }
    if (!writeIndex(files, indexPath, index)) {
        files.removeFile(indexPath);
        return PreviewDataResult::Failed;
    }
    return result;
}

}  // namespace pemlo
