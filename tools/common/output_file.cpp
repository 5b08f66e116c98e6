#include "tools/common/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "tools/common/file_error.h"
#include "tools/common/new_file.h"
#include "tools/common/removal.h"

namespace pemlo::tools {

std::string OutputFile::check(const std::string& target) {
    struct stat st = {};
    if (::lstat(target.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            return "";
        }
        return fileError("write", target, errno);
    }
    const char* what = nullptr;
    if (S_ISREG(st.st_mode)) {
        return "";
    }
    if (S_ISLNK(st.st_mode)) {
        what = "a symbolic link (give the name of the file itself)";
    } else if (S_ISDIR(st.st_mode)) {
        what = "a folder";
    } else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
        what = "a device";
    } else if (S_ISFIFO(st.st_mode)) {
        what = "a pipe";
    } else {
        what = "not a regular file";
    }
    return "will not write '" + target + "': it is " + what;
}

int OutputFile::create(const std::string& target, std::string& error) {
    discard();
    error = check(target);
    if (!error.empty()) {
        return 0;
    }
    const int fd = createNewFile(folderOf(target), 0644, path_, slot_);
    if (fd < 0) {
        error = fileError("create a new file beside", target, errno);
        return 0;
    }
    target_ = target;
    fd_ = fd;
    return 1;
}

int OutputFile::commit(std::string& error) {
    if (fd_ < 0) {
        error = "internal: nothing to commit for '" + target_ + "'";
        return 0;
    }
    if (::fsync(fd_) != 0) {
        error = fileError("write", target_, errno);
        discard();
        return 0;
    }
    ::close(fd_);
    fd_ = -1;
    error = check(target_);
    if (!error.empty()) {
        discard();
        return 0;
    }
    {
        SignalsHeld held;
        if (::rename(path_.c_str(), target_.c_str()) != 0) {
            error = fileError("put the new file in place of", target_, errno);
            const int err = errno;
            ::unlink(path_.c_str());
            forgetRegistered(slot_);
            slot_ = -1;
            errno = err;
            return 0;
        }
        forgetRegistered(slot_);
        slot_ = -1;
    }
    // The rename itself reaches the disk with the folder.
    const int folder = ::open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return 1;
}

void OutputFile::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    removeRegistered(slot_);
    slot_ = -1;
}

OutputFile::~OutputFile() {
    discard();
}

}  // namespace pemlo::tools
