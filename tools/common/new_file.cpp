#include "tools/common/new_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>

#include "tools/common/removal.h"

namespace pemlo::tools {
namespace {

// 16 letters from the kernel's random source (about 80 bits).
bool randomLetters(std::string& out) {
    unsigned char bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        got += static_cast<size_t>(n);
    }
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    out.clear();
    for (unsigned char b : bytes) {
        out += kLetters[b % (sizeof kLetters - 1)];
    }
    return true;
}

}  // namespace

std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    const size_t end = path.find_last_not_of('/', slash);
    return end == std::string::npos ? "/" : path.substr(0, end + 1);
}

int openNewFileAt(const std::string& path, mode_t mode) {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
}

int createNewFile(const std::string& folder, mode_t mode, std::string& path, int& slot) {
    slot = -1;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string letters;
        if (!randomLetters(letters)) {
            errno = EIO;
            return -1;
        }
        path = folder;
        path += "/.pemlo-";
        path += letters;
        path += ".tmp";
        SignalsHeld held;
        slot = registerForRemoval(path);
        if (slot < 0) {
            errno = ENAMETOOLONG;
            return -1;
        }
        const int fd = openNewFileAt(path, mode);
        if (fd >= 0) {
            return fd;
        }
        const int err = errno;
        forgetRegistered(slot);
        slot = -1;
        errno = err;
        if (err != EEXIST) {
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}

}  // namespace pemlo::tools
