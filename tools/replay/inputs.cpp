#include "tools/replay/inputs.h"

#include <cstdlib>
#include <cstring>

namespace pemlo::replay {
namespace {

uint32_t le32(const unsigned char* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint16_t le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

bool parseInt(const std::string& text, long min, long max, long& value) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return end != nullptr && *end == '\0' && value >= min && value <= max &&
           (text[0] == '-' || (text[0] >= '0' && text[0] <= '9'));
}

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
    if (ownsFile_ && file_ != nullptr) {
        std::fclose(file_);
    }
}

int FrameInput::open(const std::string& path, std::string& error) {
    if (path == "-") {
        file_ = stdin;
        return 1;
    }
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) {
        error = "--frames: cannot open '" + path + "': " + std::strerror(errno);
        return 0;
    }
    ownsFile_ = true;
    return 1;
}

int FrameInput::next(std::vector<unsigned char>& frame, size_t bytes) {
    frame.resize(bytes);
    const size_t got = std::fread(frame.data(), 1, bytes, file_);
    if (got == bytes) {
        return 1;
    }
    return got == 0 && std::feof(file_) != 0 ? 0 : -1;
}

int LineInput::open(const std::string& path, std::string& error) {
    in_.open(path);
    if (!in_) {
        error = "cannot open '" + path + "'";
        return 0;
    }
    return 1;
}

int LineInput::next(std::string& line) {
    if (!std::getline(in_, line)) {
        return 0;
    }
    ++line_;
    line = trimmed(line);
    return 1;
}

int parseDuration(const std::string& line, uint16_t& ms) {
    long v = 0;
    if (!parseInt(line, 0, 65535, v)) {
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
    if (!parseInt(line.substr(0, space), -32768, 32767, a) ||
        !parseInt(trimmed(line.substr(space)), -32768, 32767, b)) {
        return 0;
    }
    shown = true;
    x = static_cast<int32_t>(a);
    y = static_cast<int32_t>(b);
    return 1;
}

int SoundInput::open(const std::string& path, std::string& error) {
    in_.open(path, std::ios::binary);
    if (!in_) {
        error = "--sound: cannot open '" + path + "'";
        return 0;
    }
    unsigned char head[12] = {};
    in_.read(reinterpret_cast<char*>(head), sizeof head);
    const auto got = static_cast<size_t>(in_.gcount());
    if (got < 12 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) {
        in_.clear();
        in_.seekg(0);  // raw samples
        return 1;
    }
    bool formatOk = false;
    for (;;) {
        unsigned char chunk[8] = {};
        in_.read(reinterpret_cast<char*>(chunk), sizeof chunk);
        if (in_.gcount() != 8) {
            error = "--sound: '" + path + "' is a WAV file without sound data";
            return 0;
        }
        const uint32_t size = le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            unsigned char fmt[16] = {};
            if (size < 16 || !in_.read(reinterpret_cast<char*>(fmt), 16)) {
                error = "--sound: '" + path + "' has a broken WAV format chunk";
                return 0;
            }
            const uint16_t tag = le16(fmt);
            const uint16_t channels = le16(fmt + 2);
            const uint32_t rate = le32(fmt + 4);
            const uint16_t bits = le16(fmt + 14);
            if (tag != 1 || channels != 1 || rate != 22050 || bits != 16) {
                error = "--sound: '" + path + "' holds " + std::to_string(rate) + " Hz, " +
                        std::to_string(channels) + " channel(s), " + std::to_string(bits) + "-bit" +
                        (tag == 1 ? "" : " non-PCM") +
                        " sound; 22,050 Hz mono 16-bit PCM is needed";
                return 0;
            }
            formatOk = true;
            in_.seekg(static_cast<std::streamoff>(size) - 16 + (size & 1), std::ios::cur);
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!formatOk) {
                error = "--sound: '" + path + "' has sound data before its format";
                return 0;
            }
            left_ = size;
            return 1;
        } else {
            in_.seekg(static_cast<std::streamoff>(size) + (size & 1), std::ios::cur);
        }
    }
}

size_t SoundInput::read(unsigned char* data, size_t max) {
    const size_t want = left_ < max ? static_cast<size_t>(left_) : max;
    in_.read(reinterpret_cast<char*>(data), static_cast<std::streamsize>(want));
    const auto got = static_cast<size_t>(in_.gcount());
    left_ -= got;
    return got;
}

}  // namespace pemlo::replay
