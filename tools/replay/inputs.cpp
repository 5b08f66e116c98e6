#include "tools/replay/inputs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/byte_order.h"
#include "tools/common/file_error.h"
#include "tools/common/input_file.h"
#include "tools/common/options.h"

namespace pemlo::replay {
namespace {

std::string trimmed(const std::string& line) {
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return "";
    }
    const size_t last = line.find_last_not_of(" \t\r");
    return line.substr(first, last - first + 1);
}

}  // namespace

FrameInput::~FrameInput() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

int FrameInput::open(const std::string& path, std::string& error) {
    fd_ = tools::openInput(path, tools::InputKind::Stream, error);
    name_ = path == "-" ? "standard input" : path;
    if (fd_ < 0) {
        error = "--frames: " + error;
        return 0;
    }
    return 1;
}

int FrameInput::next(std::vector<unsigned char>& frame, size_t bytes) {
    frame.resize(bytes);
    size_t got = 0;
    while (got < bytes) {
        const ssize_t n = ::read(fd_, frame.data() + got, bytes - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            readErrno_ = errno;
            return -1;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    if (got == bytes) {
        return 1;
    }
    return got == 0 ? 0 : -1;
}

uint64_t FrameInput::framesInFile(size_t bytes) const {
    struct stat st = {};
    if (fd_ < 0 || bytes == 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        return 0;
    }
    return static_cast<uint64_t>(st.st_size) / bytes;
}

int LineInput::open(const std::string& path, std::string& error) {
    return reader_.open(path, error);
}

int LineInput::next(std::string& line, std::string& error) {
    const int got = reader_.next(line, error);
    if (got == 1) {
        line = trimmed(line);
    }
    return got;
}

int parseDuration(const std::string& line, uint16_t& ms) {
    long v = 0;
    if (!tools::parseWhole(line, 0, 65535, v)) {
        return 0;
    }
    ms = static_cast<uint16_t>(v);
    return 1;
}

int parseCursor(const std::string& line, bool& shown, int32_t& x, int32_t& y) {
    if (line == "-") {
        shown = false;
        return 1;
    }
    const size_t space = line.find_first_of(" \t");
    if (space == std::string::npos) {
        return 0;
    }
    long a = 0;
    long b = 0;
    if (!tools::parseWhole(line.substr(0, space), -32768, 32767, a) ||
        !tools::parseWhole(trimmed(line.substr(space)), -32768, 32767, b)) {
        return 0;
    }
    shown = true;
    x = static_cast<int32_t>(a);
    y = static_cast<int32_t>(b);
    return 1;
}

SoundInput::~SoundInput() {
    if (in_ != nullptr) {
        std::fclose(in_);
    }
}

int SoundInput::open(const std::string& path, std::string& error) {
    const int fd = tools::openInput(path, tools::InputKind::Regular, error);
    if (fd < 0) {
        error = "--sound: " + error;
        return 0;
    }
    in_ = ::fdopen(fd, "rb");
    if (in_ == nullptr) {
        error = "--sound: " + tools::fileError("read", path, errno);
        ::close(fd);
        return 0;
    }
    unsigned char head[12] = {};
    const size_t got = std::fread(head, 1, sizeof head, in_);
    if (std::ferror(in_) != 0) {
        error = "--sound: " + tools::fileError("read", path, errno);
        return 0;
    }
    if (got < 12 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) {
        std::rewind(in_);  // raw samples
        return 1;
    }
    bool formatOk = false;
    for (;;) {
        unsigned char chunk[8] = {};
        if (std::fread(chunk, 1, sizeof chunk, in_) != 8) {
            error = "--sound: '" + path + "' is a WAV file without sound data";
            return 0;
        }
        const uint32_t size = getLe32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            unsigned char fmt[16] = {};
            if (size < 16 || std::fread(fmt, 1, 16, in_) != 16) {
                error = "--sound: '" + path + "' has a broken WAV format chunk";
                return 0;
            }
            const uint16_t tag = getLe16(fmt);
            const uint16_t channels = getLe16(fmt + 2);
            const uint32_t rate = getLe32(fmt + 4);
            const uint16_t bits = getLe16(fmt + 14);
            if (tag != 1 || channels != 1 || rate != 22050 || bits != 16) {
                error = "--sound: '" + path + "' holds " + std::to_string(rate) + " Hz, " +
                        std::to_string(channels) + " channel(s), " + std::to_string(bits) + "-bit" +
                        (tag == 1 ? "" : " non-PCM") +
                        " sound; 22,050 Hz mono 16-bit PCM is needed";
                return 0;
            }
            formatOk = true;
            ::fseeko(in_, static_cast<off_t>(size) - 16 + (size & 1), SEEK_CUR);
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!formatOk) {
                error = "--sound: '" + path + "' has sound data before its format";
                return 0;
            }
            left_ = size;
            return 1;
        } else {
            ::fseeko(in_, static_cast<off_t>(size) + (size & 1), SEEK_CUR);
        }
    }
}

size_t SoundInput::read(unsigned char* data, size_t max) {
    const size_t want = left_ < max ? static_cast<size_t>(left_) : max;
    const size_t got = std::fread(data, 1, want, in_);
    if (got < want && std::ferror(in_) != 0) {
        readErrno_ = errno;
    }
    left_ -= got;
    return got;
}

}  // namespace pemlo::replay
