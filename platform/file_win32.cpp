// Windows side of the file seam: a HANDLE with 64-bit offsets.
#include <windows.h>

#include "platform/file.h"
#include "platform/file_win32.h"

namespace pemlo {
namespace {

class Win32File final : public File {
  public:
    explicit Win32File(HANDLE h) : h_(h) {}
    ~Win32File() override { close(); }
    Win32File(const Win32File&) = delete;
    Win32File& operator=(const Win32File&) = delete;

    uint32_t write(const void* data, uint32_t count) override {
        DWORD written = 0;
        if (h_ == INVALID_HANDLE_VALUE || !WriteFile(h_, data, count, &written, nullptr)) {
            return 0;
        }
        return written;
    }
    int64_t read(void* data, uint32_t count) override {
        DWORD got = 0;
        if (h_ == INVALID_HANDLE_VALUE || !ReadFile(h_, data, count, &got, nullptr)) {
            return -1;
        }
        return got;
    }
    bool seek(uint64_t offset) override {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(offset);
        return h_ != INVALID_HANDLE_VALUE && SetFilePointerEx(h_, to, nullptr, FILE_BEGIN);
    }
    bool seekEnd() override {
        LARGE_INTEGER zero{};
        return h_ != INVALID_HANDLE_VALUE && SetFilePointerEx(h_, zero, nullptr, FILE_END);
    }
    int64_t tell() override {
        LARGE_INTEGER zero{};
        LARGE_INTEGER pos{};
        if (h_ == INVALID_HANDLE_VALUE || !SetFilePointerEx(h_, zero, &pos, FILE_CURRENT)) {
            return -1;
        }
        return pos.QuadPart;
    }
    bool close() override {
        if (h_ == INVALID_HANDLE_VALUE) {
            return false;
        }
        const BOOL ok = CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
        return ok != 0;
    }
    bool isOpen() const override { return h_ != INVALID_HANDLE_VALUE; }
    bool flush() override { return h_ != INVALID_HANDLE_VALUE && FlushFileBuffers(h_) != 0; }
    std::unique_ptr<File> duplicate() override {
        HANDLE copy = INVALID_HANDLE_VALUE;
        if (h_ == INVALID_HANDLE_VALUE ||
            !DuplicateHandle(GetCurrentProcess(), h_, GetCurrentProcess(), &copy, 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
            return nullptr;
        }
        return std::make_unique<Win32File>(copy);
    }

  private:
    HANDLE h_;
};

FilePtr fromHandle(HANDLE h) {
    return h == INVALID_HANDLE_VALUE ? nullptr : std::make_unique<Win32File>(h);
}

}  // namespace

FilePtr wrapHandle(HANDLE h) {
    return fromHandle(h);
}

FilePtr createFile(const std::string& path) {
    return fromHandle(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

FilePtr openFileForReading(const std::string& path) {
    return fromHandle(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

FilePtr createTemporaryFile(const std::string& path) {
    return fromHandle(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
}

FilePtr createKeptFile(const std::string& path) {
    return fromHandle(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool deleteFile(const std::string& path) {
    return DeleteFileA(path.c_str()) != 0;
}

bool makeFolder(const std::string& path) {
    if (CreateDirectoryA(path.c_str(), nullptr)) {
        return true;
    }
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool removeFolder(const std::string& path) {
    return RemoveDirectoryA(path.c_str()) != 0;
}

}  // namespace pemlo
