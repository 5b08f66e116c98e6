// Publication of the preview page on Windows: resources of the program's own module,
// the temporary folder and the shell.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "app/preview_page.h"

namespace pemlo {

int writeResourceFile(int id, const char* path, const char* const* pairs, int entries) {
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10));
    if (found == nullptr) {
        return 0;
    }
    HGLOBAL loaded = LoadResource(nullptr, found);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    const DWORD size = SizeofResource(nullptr, found);
    if (data == nullptr) {
        return 0;
    }
    FilePtr file = createFile(path);
    if (!file) {
        return 0;
    }
    return writeFilledResource(*file, data, size, pairs, entries);
}

namespace {

class WindowsPreviewPlatform final : public PreviewPlatform {
  public:
    bool tempFolder(std::string& folder) override {
        char buffer[1024];
        const DWORD n = GetTempPathA(sizeof buffer, buffer);
        if (n == 0 || n >= sizeof buffer) {
            return false;
        }
        folder.assign(buffer, n);
        return true;
    }
    int writeResource(int id, const std::string& path, const char* const* pairs,
                      int entries) override {
        return writeResourceFile(id, path.c_str(), pairs, entries);
    }
    bool openPage(const std::string& path) override {
        const auto result = reinterpret_cast<INT_PTR>(
            ShellExecuteA(nullptr, "open", path.c_str(), nullptr, nullptr, SW_SHOWMAXIMIZED));
        return result > 32;
    }
};

}  // namespace

int publishPreviewPage(int outputWidth, int outputHeight, const char* outputPath,
                       const char* thumbnailPath) {
    WindowsPreviewPlatform platform;
    return publishPreviewPageWith(platform, outputWidth, outputHeight, outputPath, thumbnailPath);
}

}  // namespace pemlo
