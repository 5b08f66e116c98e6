#include "tools/common/line_reader.h"

#include <unistd.h>

#include <cerrno>

#include "tools/common/file_error.h"
#include "tools/common/input_file.h"

namespace pemlo::tools {

LineReader::~LineReader() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

int LineReader::open(const std::string& path, std::string& error) {
    fd_ = openInput(path, InputKind::Stream, error);
    name_ = path == "-" ? "standard input" : path;
    return fd_ >= 0 ? 1 : 0;
}

// Reads more into the buffer: 1 with new bytes, 0 at the end, -1 on failure.
int LineReader::fill(std::string& error) {
    if (ended_) {
        return 0;
    }
    for (;;) {
        const ssize_t n = ::read(fd_, buffer_.data(), buffer_.size());
        if (n > 0) {
            at_ = 0;
            end_ = static_cast<size_t>(n);
            return 1;
        }
        if (n == 0) {
            ended_ = true;
            return 0;
        }
        if (errno != EINTR) {
            error = fileError("read", name_, errno);
            return -1;
        }
    }
}

int LineReader::next(std::string& line, std::string& error) {
    if (fd_ < 0) {
        error = "internal: line input not open";
        return -1;
    }
    line.clear();
    bool any = false;
    for (;;) {
        if (at_ == end_) {
            const int got = fill(error);
            if (got < 0) {
                return -1;
            }
            if (got == 0) {
                if (!any) {
                    return 0;
                }
                break;
            }
        }
        any = true;
        const char c = buffer_[at_++];
        if (c == '\n') {
            break;
        }
        if (line.size() == kMaxLineBytes) {
            error = "'" + name_ + "' line " + std::to_string(number_ + 1) + " is longer than " +
                    std::to_string(kMaxLineBytes) + " bytes";
            return -1;
        }
        line += c;
    }
    ++number_;
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return 1;
}

}  // namespace pemlo::tools
