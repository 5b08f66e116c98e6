#include "tools/replay/options.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "flv/flv_writer.h"

namespace pemlo::replay {
namespace {

// Whole numbers separated by `separator`, exactly `count` of them.
bool parseNumbers(const std::string& text, char separator, size_t count, std::vector<long>& out) {
    out.clear();
    size_t at = 0;
    while (true) {
        const size_t end = text.find(separator, at);
        const std::string part = text.substr(at, end == std::string::npos ? end : end - at);
        if (part.empty() || part.size() > 9) {
            return false;
        }
        size_t i = part[0] == '-' ? 1 : 0;
        if (i == part.size()) {
            return false;
        }
        for (; i < part.size(); ++i) {
            if (part[i] < '0' || part[i] > '9') {
                return false;
            }
        }
        out.push_back(std::strtol(part.c_str(), nullptr, 10));
        if (end == std::string::npos) {
            break;
        }
        at = end + 1;
    }
    return out.size() == count;
}

}  // namespace

int parseOptions(int argc, const char* const* argv, Options& o, std::string& error) {
    bool haveScreen = false;
    bool haveCapture = false;
    bool haveOutput = false;
    std::vector<long> n;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            o.help = true;
            return 1;
        }
        if (i + 1 >= argc) {
            error = "missing value after " + name;
            return 0;
        }
        const std::string value = argv[++i];
        if (name == "--screen") {
            if (!parseNumbers(value, 'x', 2, n) || n[0] < 1 || n[1] < 1 || n[0] > 16383 ||
                n[1] > 16383) {
                error = "--screen wants WxH with sides of 1 to 16383 pixels, not '" + value + "'";
                return 0;
            }
            o.screenWidth = static_cast<int>(n[0]);
            o.screenHeight = static_cast<int>(n[1]);
            haveScreen = true;
        } else if (name == "--frames") {
            o.framesPath = value;
        } else if (name == "--pitch") {
            if (!parseNumbers(value, ',', 1, n) || n[0] < 1 || n[0] > 65535) {
                error = "--pitch wants a byte count of 1 to 65535, not '" + value + "'";
                return 0;
            }
            o.pitch = static_cast<uint32_t>(n[0]);
        } else if (name == "--fps") {
            if (!parseNumbers(value, ',', 1, n) || n[0] < 1 || n[0] > 10) {
                error = "--fps wants a whole number of 1 to 10, not '" + value + "'";
                return 0;
            }
            o.fps = static_cast<int>(n[0]);
        } else if (name == "--durations") {
            o.durationsPath = value;
        } else if (name == "--cursor") {
            o.cursorPath = value;
        } else if (name == "--capture") {
            if (!parseNumbers(value, ',', 4, n)) {
                error = "--capture wants L,T,W,H, not '" + value + "'";
                return 0;
            }
            o.captureLeft = static_cast<int>(n[0]);
            o.captureTop = static_cast<int>(n[1]);
            o.captureWidth = static_cast<int>(n[2]);
            o.captureHeight = static_cast<int>(n[3]);
            haveCapture = true;
        } else if (name == "--output") {
            if (!parseNumbers(value, ',', 2, n)) {
                error = "--output wants W,H, not '" + value + "'";
                return 0;
            }
            o.outputWidth = static_cast<int>(n[0]);
            o.outputHeight = static_cast<int>(n[1]);
            haveOutput = true;
        } else if (name == "--sound") {
            o.soundPath = value;
        } else if (name == "--threads") {
            if (!parseNumbers(value, ',', 1, n) || n[0] < 1 || n[0] > 16) {
                error = "--threads wants a whole number of 1 to 16, not '" + value + "'";
                return 0;
            }
            o.threads = static_cast<unsigned>(n[0]);
        } else if (name == "-o") {
            o.outputPath = value;
        } else {
            error = "unknown option " + name;
            return 0;
        }
    }
    if (!haveScreen || o.framesPath.empty() || !haveCapture || !haveOutput ||
        o.outputPath.empty() || (o.fps == 0) == o.durationsPath.empty()) {
        error = kUsage;
        return 0;
    }
    if (o.pitch == 0) {
        o.pitch = static_cast<uint32_t>(o.screenWidth) * 4;
    }
    if (o.pitch < static_cast<uint32_t>(o.screenWidth) * 4 || o.pitch > 65535) {
        error = "--pitch must be at least 4 x the screen width and at most 65535 bytes";
        return 0;
    }
    if (o.captureWidth < 1 || o.captureHeight < 1 || o.captureLeft < 0 || o.captureTop < 0 ||
        o.captureLeft + o.captureWidth > o.screenWidth ||
        o.captureTop + o.captureHeight > o.screenHeight) {
        error = "--capture must be a rectangle of at least 1 x 1 inside the screen";
        return 0;
    }
    if (o.outputWidth < 1 || o.outputHeight < 1 || o.outputWidth > o.captureWidth ||
        o.outputHeight > o.captureHeight) {
        error = "--output must be at least 1 x 1 and no larger than the capture rectangle";
        return 0;
    }
    if (o.outputWidth > maxFrameSide || o.outputHeight > maxFrameSide) {
        error = "--output sides of more than 4095 pixels do not fit Screen Video";
        return 0;
    }
    return 1;
}

}  // namespace pemlo::replay
