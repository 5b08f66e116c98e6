// POSIX side of the file seam.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file.h"

namespace pemlo {
namespace {

class PosixFile final : public File {
  public:
    explicit PosixFile(int fd) : fd_(fd) {}
    ~PosixFile() override { close(); }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    uint32_t write(const void* data, uint32_t count) override {
        if (fd_ < 0) {
            return 0;
        }
        const auto* p = static_cast<const unsigned char*>(data);
        uint32_t done = 0;
        while (done < count) {
            const ssize_t n = ::write(fd_, p + done, count - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            done += static_cast<uint32_t>(n);
        }
        return done;
    }

    int64_t read(void* data, uint32_t count) override {
        if (fd_ < 0) {
            return -1;
        }
        auto* p = static_cast<unsigned char*>(data);
        uint32_t done = 0;
        while (done < count) {
            const ssize_t n = ::read(fd_, p + done, count - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                return -1;
            }
            if (n == 0) {
                break;
            }
            done += static_cast<uint32_t>(n);
        }
        return done;
    }

    bool seek(uint64_t offset) override {
        return fd_ >= 0 && ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0;
    }
    bool seekEnd() override { return fd_ >= 0 && ::lseek(fd_, 0, SEEK_END) >= 0; }
    int64_t tell() override { return fd_ < 0 ? -1 : ::lseek(fd_, 0, SEEK_CUR); }
    bool close() override {
        if (fd_ < 0) {
            return false;
        }
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0;
    }
    bool isOpen() const override { return fd_ >= 0; }

  private:
    int fd_;
};

}  // namespace

FilePtr createFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd < 0 ? nullptr : std::make_unique<PosixFile>(fd);
}

FilePtr openFileForReading(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return fd < 0 ? nullptr : std::make_unique<PosixFile>(fd);
}

FilePtr createTemporaryFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return nullptr;
    }
    ::unlink(path.c_str());
    return std::make_unique<PosixFile>(fd);
}

bool deleteFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

}  // namespace pemlo
