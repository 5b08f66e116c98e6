// The preview page: after a successful recording the program writes a player movie, the
// recording as data scripts (app/preview_data.h) and a web page embedding both with the
// new FLV into the temporary folder and opens the page. The page plays the movie where
// a Flash plug-in runs and its own player everywhere else.
#pragma once

#include <cstddef>
#include <string>

#include "app/preview_data.h"
#include "platform/file.h"

namespace pemlo {

// Resource ids of the page template and of the player movie (type RT_RCDATA).
inline constexpr int kPreviewPageResource = 400;
inline constexpr int kPreviewMovieResource = 401;

// File names in the temporary folder.
inline constexpr const char* kPreviewMovieName = "PemloPreview.swf";
inline constexpr const char* kPreviewPageName = "PemloPreview.html";

// Writes PemloPreview.swf and PemloPreview.html into the temporary folder, overwriting
// both, and opens the page with the shell. Failures are silent: the page is opened even
// when a file could not be written. Returns 1 when both files were written and the
// shell accepted the page, else 0; the caller may ignore it. Windows only.
int publishPreviewPage(int outputWidth, int outputHeight, const char* outputPath,
                       const char* thumbnailPath);

// Writes resource `id` of the program's own module to `path`, after applying the
// placeholder pairs (key, value, key, value, ...; `entries` is twice the pair count)
// in order. Returns 1 on success, 0 on failure. Windows only.
int writeResourceFile(int id, const char* path, const char* const* pairs, int entries);

// ---- The portable core, shared by the Windows side and the tests. ----

// The texts that replace the template's placeholders, each escaped for where it lands.
struct PreviewPageValues {
    std::string width;    // "#width#": decimal
    std::string height;   // "#height#": decimal
    std::string file;     // "#file#": the output path for the movie's query, as it is but
                          // for the few characters encodeQueryPath encodes
    std::string escFile;  // "#escfile#": the output path as JavaScript string content
    std::string bmp;      // "#bmp#": the thumbnail path as JavaScript string content
};

// Fills `values` from the output size and paths.
void makePreviewPageValues(PreviewPageValues& values, int outputWidth, int outputHeight,
                           const char* outputPath, const char* thumbnailPath);

// The five pairs, in the order they are applied: width, height, file, escfile, bmp.
// `pairs` receives 10 pointers into `values`, which must outlive their use.
inline constexpr int kPreviewPairEntries = 10;
void previewPagePairs(const PreviewPageValues& values, const char* pairs[kPreviewPairEntries]);

// The output path as the movie's query value: unchanged (backslashes, colons, spaces and
// letters beyond ASCII included; the page is ISO-8859-1, so those bytes are its own
// letters), except that each character that would break the query or the HTML attribute
// around it (& # % + " ' < > and control characters) becomes %XX.
std::string encodeQueryPath(const char* text);
// Escapes `text` for the inside of a JavaScript string literal in a script element.
std::string escapeJavaScript(const char* text);

// Copies `size` bytes of a resource into a heap buffer with a terminator after them,
// applies the pairs in order and writes the counted bytes to `file` in one write.
// Returns 1 on success; 0 when memory runs out or the write comes up short.
int writeFilledResource(File& file, const void* data, std::size_t size, const char* const* pairs,
                        int entries);

// What publication needs from the platform; the Windows program and the tests each
// provide one. Its files (PreviewFiles) default to platform/file.h.
class PreviewPlatform : public PreviewFiles {
  public:
    // The temporary folder with its trailing separator; false when it is unknown.
    virtual bool tempFolder(std::string& folder) = 0;
    // Writes resource `id` to `path` with the pairs applied (see writeResourceFile).
    virtual int writeResource(int id, const std::string& path, const char* const* pairs,
                              int entries) = 0;
    // Asks the shell to open the page; false when it refused.
    virtual bool openPage(const std::string& path) = 0;
    // The largest recording written beside the page.
    virtual uint64_t dataLimit() { return kPreviewDataLimit; }
};

// Publication over a platform: the movie first, then the recording's data scripts, then
// the page, then the shell opens the page whatever happened before. The page names the
// thumbnail only when it can be opened (a very small output has none). Returns 1 when
// every step succeeded (a recording above the data limit counts as success).
int publishPreviewPageWith(PreviewPlatform& platform, int outputWidth, int outputHeight,
                           const char* outputPath, const char* thumbnailPath);

}  // namespace pemlo
