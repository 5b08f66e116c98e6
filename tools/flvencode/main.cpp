// pemlo-flvencode --size WxH (--duration MS | --durations FILE) -i FRAMES -o OUT.flv
//
// FRAMES (a file, or - for standard input) holds packed BGR frames with bottom-up rows,
// back to back. Every frame becomes one Screen Video tag. OUT.flv is written to a new
// file beside it that takes its place only once complete (see kHelp).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "flv/flv_writer.h"
#include "flv/video_encoder.h"
#include "platform/file.h"
#include "tools/common/descriptor_file.h"
#include "tools/common/file_error.h"
#include "tools/common/input_file.h"
#include "tools/common/line_reader.h"
#include "tools/common/options.h"
#include "tools/common/output_file.h"
#include "tools/common/removal.h"
#include "tools/common/same_file.h"
#include "tools/common/standard_descriptors.h"
#include "tools/common/version.h"

namespace {

const char* const usage =
    "usage: pemlo-flvencode --size WxH (--duration MS | --durations FILE) -i FRAMES -o OUT.flv";

const char* const kHelp =
    "usage: pemlo-flvencode --size WxH (--duration MS | --durations FILE) -i FRAMES -o OUT.flv\n"
    "\n"
    "Encodes packed BGR frames (rows bottom-up, back to back; FRAMES or - for standard\n"
    "input) as Screen Video into OUT.flv. --duration: milliseconds per frame (0 to 65535);\n"
    "--durations: one such number per line and frame. --version: the version.\n"
    "\n"
    "What is left on disk:\n"
    "  success: OUT.flv, replacing any file of that name.\n"
    "  bad options or input found before writing, an output that is an input, a folder,\n"
    "    a device or a link: nothing is written; an existing OUT.flv stays as it was.\n"
    "  any failure while writing (a full disk included), Ctrl+C, SIGTERM, SIGHUP or\n"
    "    SIGPIPE: the new file is removed; an existing OUT.flv stays as it was.\n";

int fail(const std::string& message) {
    std::fprintf(stderr, "pemlo-flvencode: %s\n", message.c_str());
    return 1;
}

bool parseSize(const std::string& text, int& width, int& height) {
    std::vector<long> sides;
    if (!pemlo::tools::parseWholes(text, 'x', 2, 1, pemlo::maxFrameSide, sides)) {
        return false;
    }
    width = static_cast<int>(sides[0]);
    height = static_cast<int>(sides[1]);
    return true;
}

// Reads up to `size` bytes; returns how many arrived before the end of the input, or
// -1 with errno set when a read failed.
int64_t readFully(int fd, uint8_t* data, size_t size) {
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, data + got, size - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return -1;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(got);
}

struct Options {
    int width = 0;
    int height = 0;
    long duration = -1;
    std::string durationsPath;
    std::string input;
    std::string output;
    bool help = false;
    bool version = false;
};

// The options in the order of the usage line.
enum class Option : size_t { Size, Duration, Durations, Input, Output, Help, Version };

const std::vector<pemlo::tools::OptionSpec> kOptions = {
    {"size", 0, true}, {"duration", 0, true}, {"durations", 0, true}, {"i", 'i', true},
    {"o", 'o', true},  {"help", 'h', false},  {"version", 0, false}};

int parseOptions(int argc, char** argv, Options& o) {
    std::string size;
    bool refused = false;  // by a value, with its own message
    const auto take = [&](size_t option, const std::string& value, std::string& why) {
        switch (static_cast<Option>(option)) {
            case Option::Size:
                size = value;
                return true;
            case Option::Duration:
                if (!pemlo::tools::parseWhole(value, 0, 65535, o.duration)) {
                    why =
                        "--duration must be a whole number of milliseconds from 0 to 65535, "
                        "not '" +
                        value + "'";
                    refused = true;
                    return false;
                }
                return true;
            case Option::Durations:
                o.durationsPath = value;
                return true;
            case Option::Input:
                o.input = value;
                return true;
            case Option::Output:
                o.output = value;
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
    std::string error;
    if (pemlo::tools::readOptions(argc, argv, kOptions, take, error) != 1) {
        if (o.help || o.version) {
            return 0;
        }
        return fail(refused ? error : error + " (" + usage + ")");
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
    pemlo::tools::LineReader in;
    std::string error;
    if (!in.open(path, error)) {
        return fail("--durations: " + error);
    }
    std::string line;
    for (;;) {
        const int got = in.next(line, error);
        if (got == 0) {
            return 0;
        }
        if (got < 0) {
            return fail("--durations: " + error);
        }
        long ms = 0;
        if (!pemlo::tools::parseWhole(line, 0, 65535, ms)) {
            std::string message = path;
            message += " line " + std::to_string(in.lineNumber());
            message += ": expected milliseconds from 0 to 65535, got '" + line + "'";
            return fail(message);
        }
        durations.push_back(static_cast<uint16_t>(ms));
    }
}

// Refuses an output that cannot be written or is one of the inputs, before anything is.
int checkOutput(const Options& o) {
    const std::string refusal = pemlo::tools::OutputFile::check(o.output);
    if (!refusal.empty()) {
        return fail(refusal);
    }
    const std::string input = pemlo::tools::sameFileAs(o.output, {o.input, o.durationsPath});
    if (!input.empty()) {
        return fail("will not write '" + o.output + "': it is the input '" +
                    (input == "-" ? std::string("standard input") : input) + "'");
    }
    return 0;
}

// Encodes every frame of `in` into `out`. Empty, or the message for the first failure.
std::string encode(const Options& o, const std::vector<uint16_t>& durations, int in,
                   pemlo::File& out, const pemlo::tools::Failure& outFailure) {
    const std::string inputName = o.input == "-" ? "standard input" : o.input;
    auto writeError = [&](const std::string& what) {
        return outFailure.err != 0 ? pemlo::tools::fileError("write", o.output, outFailure.err)
                                   : what;
    };
    const size_t frameBytes = static_cast<size_t>(o.width) * static_cast<size_t>(o.height) * 3;
    std::vector<uint8_t> frame(frameBytes);
    pemlo::FlvWriter writer;
    size_t frames = 0;
    pemlo::ScreenVideoEncoder encoder;
    if (!pemlo::flvBegin(writer, out, 0, o.width, o.height) ||
        !pemlo::videoEncoderBegin(encoder, o.width, o.height, nullptr)) {
        return writeError("cannot write '" + o.output + "'");
    }
    for (;;) {
        const int64_t got = readFully(in, frame.data(), frameBytes);
        if (got < 0) {
            return pemlo::tools::fileError("read", inputName, errno);
        }
        if (got == 0) {
            break;
        }
        if (static_cast<size_t>(got) < frameBytes) {
            return "'" + inputName + "' ends inside frame " + std::to_string(frames + 1) + " (" +
                   std::to_string(got) + " of " + std::to_string(frameBytes) + " bytes)";
        }
        uint16_t ms = static_cast<uint16_t>(o.duration);
        if (o.duration < 0) {
            if (frames >= durations.size()) {
                return "'" + o.durationsPath + "' holds fewer durations (" +
                       std::to_string(durations.size()) + ") than there are frames";
            }
            ms = durations[frames];
        }
        if (!pemlo::flvWriteVideoTag(writer, encoder, out, frame.data(), o.width, o.height, ms)) {
            return writeError("cannot write frame " + std::to_string(frames + 1) + " to '" +
                              o.output + "'");
        }
        ++frames;
    }
    if (frames == 0) {
        return "no frames in '" + inputName + "'";
    }
    if (!pemlo::flvFinish(writer, out)) {
        return writeError("cannot finish '" + o.output + "'");
    }
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    if (!pemlo::tools::makeStandardDescriptorsValid()) {
        return 1;
    }
    pemlo::tools::installRemovalOnSignals("pemlo-flvencode");
    Options o;
    if (parseOptions(argc, argv, o) != 0) {
        return 2;
    }
    if (o.help) {
        std::fputs(kHelp, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (o.version) {
        return pemlo::tools::printVersion("pemlo-flvencode");
    }
    if (checkOutput(o) != 0) {
        return 2;
    }
    std::vector<uint16_t> durations;
    if (!o.durationsPath.empty() && readDurations(o.durationsPath, durations) != 0) {
        return 2;
    }
    std::string error;
    const int in = pemlo::tools::openInput(o.input, pemlo::tools::InputKind::Stream, error);
    if (in < 0) {
        return fail(error);
    }
    pemlo::tools::OutputFile target;
    if (!target.create(o.output, error)) {
        ::close(in);
        return fail(error);
    }
    const int outFd = ::fcntl(target.descriptor(), F_DUPFD_CLOEXEC, 3);
    if (outFd < 0) {
        ::close(in);
        return fail(pemlo::tools::fileError("write", o.output, errno));
    }
    auto outFailure = std::make_shared<pemlo::tools::Failure>();
    const pemlo::FilePtr out = pemlo::tools::descriptorFile(outFd, outFailure);
    error = encode(o, durations, in, *out, *outFailure);
    ::close(in);
    if (error.empty() && !target.commit(error)) {
        return fail(error);
    }
    if (!error.empty()) {
        target.discard();
        return fail(error + "; '" + o.output + "' was left as it was");
    }
    return 0;
}
