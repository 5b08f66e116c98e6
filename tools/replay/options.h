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
    unsigned threads = 0;  // threads of the output phase; 0: one per processor
    bool help = false;     // --help or -h: print kHelp, nothing else
    bool version = false;  // --version: print the version, nothing else
};

inline constexpr const char* kUsage =
    "usage: pemlo-replay --screen WxH --frames FILE [--pitch BYTES] (--fps N | --durations "
    "FILE) [--cursor FILE] --capture L,T,W,H --output W,H [--sound FILE] [--threads N] -o OUT.flv";

// The whole usage, for --help.
inline constexpr const char* kHelp =
    "usage: pemlo-replay --screen WxH --frames FILE [--pitch BYTES] (--fps N | --durations FILE)\n"
    "                    [--cursor FILE] --capture L,T,W,H --output W,H [--sound FILE]\n"
    "                    [--threads N] -o OUT.flv\n"
    "\n"
    "Records whole-screen BGRA frames (rows top-down; FILE or - for standard input) through\n"
    "the frame and sound spools and writes OUT.flv and its thumbnail OUT.bmp as the program\n"
    "does. --fps 1 to 10, or --durations with one duration in milliseconds per line;\n"
    "--cursor: one 'x y' or '-' per line; --sound: 22,050 Hz mono 16-bit, raw or WAV.\n"
    "--threads: threads of the output phase, 1 to 16 (one per processor when left out);\n"
    "the output is the same whatever the count. --version: the version.\n"
    "\n"
    "What is left on disk:\n"
    "  success: OUT.flv and OUT.bmp, each replacing any file of that name.\n"
    "  bad options or input, an output that is an input, a folder, a device or a link:\n"
    "    nothing is written; existing files are left as they were.\n"
    "  any failure while writing (a full disk included), Ctrl+C, SIGTERM, SIGHUP or\n"
    "    SIGPIPE: the new files are removed; an existing OUT.flv and OUT.bmp stay as\n"
    "    they were.\n"
    "  a thumbnail that cannot be written: OUT.flv is complete and in place, OUT.bmp\n"
    "    stays as it was, and the exit status is 1.\n"
    "  the spools are scratch files beside OUT.flv without a name (or unlinked at once):\n"
    "    nothing of them stays, however the run ends.\n";

// Reads and checks the arguments. Returns 1, or 0 with one line in `error`.
int parseOptions(int argc, const char* const* argv, Options& options, std::string& error);

}  // namespace pemlo::replay
