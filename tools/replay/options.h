// The command line of pemlo-replay.
#pragma once

#include <cstdint>
#include <string>

namespace pemlo::replay {

struct Options {
    int screenWidth = 0;
    int screenHeight = 0;
    std::string framesPath;  // "-" for standard input
    uint32_t pitch = 0;      // 0: width x 4
    int fps = 0;             // 0 when durations come from a file
    std::string durationsPath;
    std::string cursorPath;
    int captureLeft = 0;
    int captureTop = 0;
    int captureWidth = 0;
    int captureHeight = 0;
    int outputWidth = 0;
    int outputHeight = 0;
    std::string soundPath;
    std::string outputPath;
};

inline constexpr const char* kUsage =
    "usage: pemlo-replay --screen WxH --frames FILE [--pitch BYTES] (--fps N | --durations "
    "FILE) [--cursor FILE] --capture L,T,W,H --output W,H [--sound FILE] -o OUT.flv";

// Reads and checks the arguments. Returns 1, or 0 with one line in `error`.
int parseOptions(int argc, const char* const* argv, Options& options, std::string& error);

}  // namespace pemlo::replay
