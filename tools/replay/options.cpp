#include "tools/replay/options.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "flv/flv_writer.h"
#include "platform/task_pool.h"
#include "tools/common/options.h"

namespace pemlo::replay {
namespace {

using tools::parseWholes;

// The options in the order of the usage line.
enum class Option : size_t {
    Screen,
    Frames,
    Pitch,
    Fps,
    Durations,
    Cursor,
    Capture,
    Output,
    Sound,
    Threads,
    Out,
    Help,
    Version
};

const std::vector<tools::OptionSpec> kOptions = {
    {"screen", 0, true},    {"frames", 0, true},  {"pitch", 0, true},   {"fps", 0, true},
    {"durations", 0, true}, {"cursor", 0, true},  {"capture", 0, true}, {"output", 0, true},
    {"sound", 0, true},     {"threads", 0, true}, {"o", 'o', true},     {"help", 'h', false},
    {"version", 0, false}};

// Any whole number a field of --screen, --capture or --output may be written with; the
// checks after reading say what fits.
constexpr long kWritten = 999999999;

}  // namespace

int parseOptions(int argc, const char* const* argv, Options& o, std::string& error) {
    bool haveScreen = false;
    bool haveCapture = false;
    bool haveOutput = false;
    std::vector<long> n;
    const auto take = [&](size_t option, const std::string& value, std::string& why) {
        switch (static_cast<Option>(option)) {
            case Option::Screen:
                if (!parseWholes(value, 'x', 2, 1, 16383, n)) {
                    why = "--screen wants WxH with sides of 1 to 16383 pixels, not '" + value + "'";
                    return false;
                }
                o.screenWidth = static_cast<int>(n[0]);
                o.screenHeight = static_cast<int>(n[1]);
                haveScreen = true;
                return true;
            case Option::Frames:
                o.framesPath = value;
                return true;
            case Option::Pitch:
                if (!parseWholes(value, ',', 1, 1, 65535, n)) {
                    why = "--pitch wants a byte count of 1 to 65535, not '" + value + "'";
                    return false;
                }
                o.pitch = static_cast<uint32_t>(n[0]);
                return true;
            case Option::Fps:
                if (!parseWholes(value, ',', 1, 1, 10, n)) {
                    why = "--fps wants a whole number of 1 to 10, not '" + value + "'";
                    return false;
                }
                o.fps = static_cast<int>(n[0]);
                return true;
            case Option::Durations:
                o.durationsPath = value;
                return true;
            case Option::Cursor:
                o.cursorPath = value;
                return true;
            case Option::Capture:
                if (!parseWholes(value, ',', 4, -kWritten, kWritten, n)) {
                    why = "--capture wants L,T,W,H, not '" + value + "'";
                    return false;
                }
                o.captureLeft = static_cast<int>(n[0]);
                o.captureTop = static_cast<int>(n[1]);
                o.captureWidth = static_cast<int>(n[2]);
                o.captureHeight = static_cast<int>(n[3]);
                haveCapture = true;
                return true;
            case Option::Output:
                if (!parseWholes(value, ',', 2, -kWritten, kWritten, n)) {
                    why = "--output wants W,H, not '" + value + "'";
                    return false;
                }
                o.outputWidth = static_cast<int>(n[0]);
                o.outputHeight = static_cast<int>(n[1]);
                haveOutput = true;
                return true;
            case Option::Sound:
                o.soundPath = value;
                return true;
            case Option::Threads:
                if (!parseWholes(value, ',', 1, 1, kMaxThreads, n)) {
                    why = "--threads wants a whole number of 1 to " + std::to_string(kMaxThreads) +
                          ", not '" + value + "'";
                    return false;
                }
                o.threads = static_cast<unsigned>(n[0]);
                return true;
            case Option::Out:
                o.outputPath = value;
                return true;
            case Option::Help:  // nothing else is read
                o.help = true;
                return false;
            case Option::Version:  // nothing else is read
                o.version = true;
                return false;
        }
        return false;  // readOptions gives only the table's options
    };
    if (tools::readOptions(argc, argv, kOptions, take, error) != 1) {
        if (o.help || o.version) {
            error.clear();
            return 1;
        }
        return 0;
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
