// POSIX side of the file seam.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/file.h"
#include "platform/file_posix.h"

namespace pemlo {
namespace {

class PosixFile final : public File {
  public:
    PosixFile(int fd, std::shared_ptr<FileFailure> failure)
        : fd_(fd), failure_(std::move(failure)) {}
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
                note(n < 0 ? errno : EIO, true);
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
                note(errno, false);
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
        return moved(::lseek(fd_, static_cast<off_t>(offset), SEEK_SET));
    }
    bool seekEnd() override { return moved(::lseek(fd_, 0, SEEK_END)); }
    int64_t tell() override { return fd_ < 0 ? -1 : ::lseek(fd_, 0, SEEK_CUR); }

    bool close() override {
        if (fd_ < 0) {
            return false;
        }
        const int rc = ::close(fd_);
        fd_ = -1;
        if (rc != 0 && errno != EINTR) {
            note(errno, true);
            return false;
        }
        return true;
    }
    bool isOpen() const override { return fd_ >= 0; }
    std::unique_ptr<File> duplicate() override {
        const int copy = fd_ < 0 ? -1 : ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
        return copy < 0 ? nullptr : std::make_unique<PosixFile>(copy, nullptr);
    }
    bool flush() override {
        if (fd_ < 0) {
            return false;
        }
        if (::fsync(fd_) != 0) {
            note(errno, true);
            return false;
        }
        return true;
    }

  private:
    void note(int err, bool writing) {
        if (failure_ != nullptr && failure_->err == 0) {
            failure_->err = err;
            failure_->writing = writing;
        }
    }
    bool moved(off_t result) {
        if (fd_ < 0) {
            return false;
        }
        if (result < 0) {
            note(errno, false);
            return false;
        }
        return true;
    }

    int fd_;
    std::shared_ptr<FileFailure> failure_;
};

}  // namespace

FilePtr createFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd < 0 ? nullptr : std::make_unique<PosixFile>(fd, nullptr);
}

FilePtr openFileForReading(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return fd < 0 ? nullptr : std::make_unique<PosixFile>(fd, nullptr);
}

FilePtr createTemporaryFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return nullptr;
    }
    ::unlink(path.c_str());
    return std::make_unique<PosixFile>(fd, nullptr);
}

FilePtr fileFromDescriptor(int fd, std::shared_ptr<FileFailure> failure) {
    return std::make_unique<PosixFile>(fd, std::move(failure));
}

FilePtr createKeptFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    return fd < 0 ? nullptr : std::make_unique<PosixFile>(fd, nullptr);
}

bool deleteFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool makeFolder(const std::string& path) {
    struct stat st = {};
    return ::mkdir(path.c_str(), 0700) == 0 ||
           (errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
}

bool removeFolder(const std::string& path) {
    return ::rmdir(path.c_str()) == 0;
}

}  // namespace pemlo
