#include "tools/common/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "tools/common/file_error.h"

namespace pemlo::tools {

int openInput(const std::string& path, InputKind kind, std::string& error) {
    const bool standardInput = path == "-";
    const std::string name = standardInput ? "standard input" : path;
    // A pipe where a regular file is needed is opened without waiting for a writer, to
    // be refused at once.
    const int wait = kind == InputKind::Regular ? O_NONBLOCK : 0;
    const int fd = standardInput ? ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3)
                                 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | wait);
    if (fd < 0) {
        error = fileError("open", name, errno);
        return -1;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0) {
        error = fileError("examine", name, errno);
        ::close(fd);
        return -1;
    }
    const bool regular = S_ISREG(st.st_mode);
    const bool stream = regular || S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode);
    if (kind == InputKind::Regular ? regular : stream) {
        if (wait != 0) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        }
        return fd;
    }
    ::close(fd);
    if (S_ISDIR(st.st_mode)) {
        error = "'" + name + "' is a folder; a file is needed";
    } else if (kind == InputKind::Regular) {
        error = "'" + name + "' is not a regular file; a file that can be read twice is needed";
    } else {
        error = "'" + name + "' is not a file, pipe or character device";
    }
    return -1;
}

}  // namespace pemlo::tools
