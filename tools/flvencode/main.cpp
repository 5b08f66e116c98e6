// pemlo-flvencode --size WxH (--duration MS | --durations FILE) -i FRAMES -o OUT.flv
//
// FRAMES (a file, or - for standard input) holds packed BGR frames with bottom-up rows,
// back to back. Every frame becomes one Screen Video tag.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "flv/flv_writer.h"
#include "flv/video_encoder.h"
#include "platform/file.h"

namespace {

const char* const usage =
    "usage: pemlo-flvencode --size WxH (--duration MS | --durations FILE) -i FRAMES -o OUT.flv";

int fail(const std::string& message) {
    std::fprintf(stderr, "pemlo-flvencode: %s\n", message.c_str());
    return 1;
}

// A whole decimal number in [low, high], nothing else.
bool parseNumber(const std::string& text, long low, long high, long& value) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    value = std::strtol(text.c_str(), nullptr, 10);
    return value >= low && value <= high;
}

bool parseSize(const std::string& text, int& width, int& height) {
    const size_t x = text.find('x');
    long w = 0;
    long h = 0;
    if (x == std::string::npos || !parseNumber(text.substr(0, x), 1, pemlo::maxFrameSide, w) ||
        !parseNumber(text.substr(x + 1), 1, pemlo::maxFrameSide, h)) {
        return false;
    }
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

// Reads up to `size` bytes; returns how many arrived before the end of the input.
size_t readFully(std::FILE* in, uint8_t* data, size_t size) {
    size_t got = 0;
    while (got < size) {
        const size_t n = std::fread(data + got, 1, size - got, in);
        if (n == 0) {
            break;
        }
        got += n;
    }
    return got;
}

struct Options {
    int width = 0;
    int height = 0;
    long duration = -1;
    std::string durationsPath;
    std::string input;
    std::string output;
};

int parseOptions(int argc, char** argv, Options& o) {
    std::string size;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            return fail("missing value after " + arg + " (" + usage + ")");
        }
        const std::string value = argv[++i];
        if (arg == "--size") {
            size = value;
        } else if (arg == "--duration") {
            if (!parseNumber(value, 0, 65535, o.duration)) {
                return fail(
                    "--duration must be a whole number of milliseconds from 0 to 65535, "
                    "not '" +
                    value + "'");
            }
        } else if (arg == "--durations") {
            o.durationsPath = value;
        } else if (arg == "-i") {
            o.input = value;
        } else if (arg == "-o") {
            o.output = value;
        } else {
            return fail("unknown option " + arg + " (" + usage + ")");
        }
    }
    if (size.empty() || o.input.empty() || o.output.empty() ||
        (o.duration < 0) == o.durationsPath.empty()) {
        return fail(std::string("need --size, one of --duration and --durations, -i and -o (") +
                    usage + ")");
    }
    if (!parseSize(size, o.width, o.height)) {
        return fail("--size must be WxH with each side from 1 to 4095, not '" + size + "'");
    }
    return 0;
}

int readDurations(const std::string& path, std::vector<uint16_t>& durations) {
    std::ifstream in(path);
    if (!in) {
        return fail("cannot open durations file " + path + ": " + std::strerror(errno));
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        long ms = 0;
        if (!parseNumber(line, 0, 65535, ms)) {
            std::string message = path;
            message += " line " + std::to_string(number);
            message += ": expected milliseconds from 0 to 65535, got '" + line + "'";
            return fail(message);
        }
        durations.push_back(static_cast<uint16_t>(ms));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (parseOptions(argc, argv, o) != 0) {
        return 2;
    }
    std::vector<uint16_t> durations;
    if (!o.durationsPath.empty() && readDurations(o.durationsPath, durations) != 0) {
        return 2;
    }
    std::FILE* in = o.input == "-" ? stdin : std::fopen(o.input.c_str(), "rb");
    if (in == nullptr) {
        return fail("cannot open " + o.input + ": " + std::strerror(errno));
    }
    pemlo::FilePtr out = pemlo::createFile(o.output);
    if (!out) {
        return fail("cannot create " + o.output + ": " + std::strerror(errno));
    }

    const size_t frameBytes = static_cast<size_t>(o.width) * static_cast<size_t>(o.height) * 3;
    std::vector<uint8_t> frame(frameBytes);
    pemlo::FlvWriter writer;
    std::string error;
    size_t frames = 0;
    if (!pemlo::flvBegin(writer, *out, 0, o.width, o.height)) {
        error = "cannot write " + o.output;
    }
    while (error.empty()) {
        const size_t got = readFully(in, frame.data(), frameBytes);
        if (got == 0 && !std::ferror(in)) {
            break;
        }
        if (got < frameBytes) {
            error = std::ferror(in)
                        ? "read error in " + o.input
                        : "input ends inside frame " + std::to_string(frames + 1) + " (" +
                              std::to_string(got) + " of " + std::to_string(frameBytes) + " bytes)";
            break;
        }
        uint16_t ms = static_cast<uint16_t>(o.duration);
        if (o.duration < 0) {
            if (frames >= durations.size()) {
                error = "fewer durations (" + std::to_string(durations.size()) + ") than frames";
                break;
            }
            ms = durations[frames];
        }
        if (!pemlo::flvWriteVideoTag(writer, *out, frame.data(), o.width, o.height, ms)) {
            error = "cannot write frame " + std::to_string(frames + 1) + " to " + o.output;
            break;
        }
        ++frames;
    }
    if (in != stdin) {
        std::fclose(in);
    }
    if (error.empty() && frames == 0) {
        error = "no frames in " + o.input;
    }
    if (error.empty() && !pemlo::flvFinish(writer, *out)) {
        error = "cannot finish " + o.output;
    }
    if (!error.empty()) {
        out->close();
        pemlo::deleteFile(o.output);
        return fail(error);
    }
    return 0;
}
