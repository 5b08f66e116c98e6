// The recording for the preview page's own player: a page opened from disk may not read
// files, but it may load classic scripts beside it. So the finished FLV is written into
// the page's folder as scripts that hand its bytes over in base64 chunks, read from the
// FLV on disk piece by piece, never held whole in memory.
//
// Files, in the page's folder:
//   PemloPreviewData.js    pemloPreviewIndex({token, file, bytes, chunks, chunkBytes});
//                          or, above the limit, pemloPreviewIndex({token, file, bytes,
//                          tooLarge: true});
//   PemloPreviewDataN.js   pemloPreviewChunk('token', N, 'base64');  N = 1 .. chunks,
//                          each chunk kPreviewChunkBytes of the FLV (the last one less).
// The index is removed first and written last, so a page finds it only when every chunk
// is complete. `file` is the FLV's path (the page ignores an index for another file) and
// `token` is new at every publication (the page takes only chunks that carry the
// index's), so chunks left by an earlier publication are never mixed in. Chunks beyond
// this publication's count are removed.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file.h"

namespace pemlo {

inline constexpr const char* kPreviewDataIndexName = "PemloPreviewData.js";
// FLV bytes per chunk: a multiple of 3, so each chunk's base64 stands alone (1 MiB).
inline constexpr uint32_t kPreviewChunkBytes = 786432;
// Recordings up to this size are written for the page; larger ones are opened in the
// page by the user (drag and drop or a file picker).
inline constexpr uint64_t kPreviewDataLimit = 256ULL * 1024 * 1024;

// The files publication works on; the program uses platform/file.h, tests their own.
class PreviewFiles {
  public:
    virtual ~PreviewFiles() = default;
    virtual FilePtr createFile(const std::string& path) { return pemlo::createFile(path); }
    virtual FilePtr openForReading(const std::string& path) {
        return pemlo::openFileForReading(path);
    }
    virtual bool removeFile(const std::string& path) { return pemlo::deleteFile(path); }
};

enum class PreviewDataResult {
    Written,   // every chunk and the index
    TooLarge,  // only the index, saying the recording is above the limit
    Failed,    // no index: the page offers drag and drop
};

// The name of chunk n (1-based).
std::string previewChunkName(uint32_t n);

// A new publication token: 16 hexadecimal digits.
std::string previewDataToken();

// Writes the data scripts for the FLV at `flvPath` into `folder` (with its trailing
// separator). `pathText` is the FLV's path as the page knows it (JavaScript string
// content, already escaped). Every write is checked; on any failure no index is left.
PreviewDataResult writePreviewData(PreviewFiles& files, const std::string& folder,
                                   const std::string& flvPath, const std::string& pathText,
                                   const std::string& token, uint64_t limit = kPreviewDataLimit);

// Base64 of `count` bytes appended to `out` (standard alphabet, '=' padding).
void appendBase64(std::string& out, const unsigned char* data, std::size_t count);

}  // namespace pemlo
