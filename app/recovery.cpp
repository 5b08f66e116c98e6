#include "app/recovery.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "app/settings.h"
#include "capture/frame_spool.h"

namespace pemlo {
namespace {

bool parseNumber(const std::string& text, int32_t& value) {
    if (text.empty() || text.size() > 11) {
        return false;
    }
    char* end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (end == nullptr || *end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX) {
        return false;
    }
    value = static_cast<int32_t>(parsed);
    return true;
}

bool allDigits(const std::string& text, size_t from, size_t count) {
    if (from + count > text.size()) {
        return false;
    }
    return std::all_of(text.begin() + static_cast<long>(from),
                       text.begin() + static_cast<long>(from + count),
                       [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

RecordingDescription describeSettings(const RecordingSettings& s) {
    RecordingDescription d;
    d.outputPath = s.outputPath;
    d.captureLeft = s.captureLeft;
    d.captureTop = s.captureTop;
    d.captureWidth = s.captureWidth;
    d.captureHeight = s.captureHeight;
    d.outputWidth = s.outputWidth;
    d.outputHeight = s.outputHeight;
    d.framesPerSecond = s.framesPerSecond;
    d.recordAudio = s.recordAudio;
    return d;
}

void applyDescription(const RecordingDescription& d, RecordingSettings& s) {
    s.outputPath = d.outputPath;
    s.captureLeft = d.captureLeft;
    s.captureTop = d.captureTop;
    s.captureWidth = d.captureWidth;
    s.captureHeight = d.captureHeight;
    s.outputWidth = d.outputWidth;
    s.outputHeight = d.outputHeight;
    s.framesPerSecond = d.framesPerSecond;
    s.recordAudio = d.recordAudio;
}

std::string describeRecording(const RecordingDescription& d) {
    std::ostringstream out;
    out << "output=" << d.outputPath << "\n"
        << "outputId=" << d.outputId << "\n"
        << "started=" << d.startedAt << "\n"
        << "capture=" << d.captureLeft << "," << d.captureTop << "," << d.captureWidth << ","
        << d.captureHeight << "\n"
        << "screen=" << d.screenWidth << "," << d.screenHeight << "\n"
        << "size=" << d.outputWidth << "," << d.outputHeight << "\n"
        << "fps=" << d.framesPerSecond << "\n"
        << "sound=" << d.recordAudio << "\n";
    return out.str();
}

bool parseRecordingDescription(const std::string& text, RecordingDescription& d) {
    d = RecordingDescription{};
    std::istringstream in(text);
    std::string line;
    unsigned seen = 0;  // one bit per field read
    unsigned bit = 0;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            return false;
        }
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        std::vector<int32_t> numbers;
        if (key != "output" && key != "outputId" && key != "started") {
            std::istringstream parts(value);
            std::string part;
            while (std::getline(parts, part, ',')) {
                int32_t n = 0;
                if (!parseNumber(part, n)) {
                    return false;
                }
                numbers.push_back(n);
            }
        }
        auto take = [&](size_t count, std::initializer_list<int32_t*> fields) {
            if (numbers.size() != count) {
                return false;
            }
            size_t i = 0;
            for (int32_t* field : fields) {
                *field = numbers[i++];
            }
            return true;
        };
        bool ok = true;
        if (key == "output") {
            d.outputPath = value;
            bit = 0;
        } else if (key == "outputId") {
            d.outputId = value;
            bit = 1;
        } else if (key == "started") {
            d.startedAt = value;
            bit = 2;
        } else if (key == "capture") {
            ok = take(4, {&d.captureLeft, &d.captureTop, &d.captureWidth, &d.captureHeight});
            bit = 3;
        } else if (key == "screen") {
            ok = take(2, {&d.screenWidth, &d.screenHeight});
            bit = 4;
        } else if (key == "size") {
            ok = take(2, {&d.outputWidth, &d.outputHeight});
            bit = 5;
        } else if (key == "fps") {
            ok = take(1, {&d.framesPerSecond});
            bit = 6;
        } else if (key == "sound") {
            ok = take(1, {&d.recordAudio});
            bit = 7;
        } else {
            continue;  // a later version's field
        }
        // A field twice is not something this program wrote.
        if (!ok || (seen & (1u << bit)) != 0) {
            return false;
        }
        seen |= 1u << bit;
    }
    return seen == 0xFF && !d.outputPath.empty() && d.outputPath.size() < kMaxPath &&
           d.captureWidth >= 1 && d.captureHeight >= 1 && d.outputWidth >= 1 &&
           d.outputHeight >= 1 && d.outputWidth <= d.captureWidth &&
           d.outputHeight <= d.captureHeight && d.framesPerSecond >= 1 && d.framesPerSecond <= 10 &&
           (d.recordAudio == 0 || d.recordAudio == 1);
}

bool openRecoveredRecording(FrameSpool& spool, FilePtr spoolFile, File& index,
                            RecordingDescription& description) {
    std::string text;
    if (spoolReadDescription(index, text) == 1 && parseRecordingDescription(text, description) &&
        spoolOpenRecorded(spool, std::move(spoolFile), index,
                          static_cast<uint16_t>(timerPeriodMs(description.framesPerSecond)),
                          text) == 1 &&
        spoolRecordedFrames(spool) > 0 &&
        spoolArea(spool) == CaptureArea{description.captureLeft, description.captureTop,
                                        description.captureWidth, description.captureHeight}) {
        return true;
    }
    captureRelease(spool);
    return false;
}

std::string recordingFolderName(int year, int month, int day, int hour, int minute, int second,
                                int millisecond, uint32_t pid) {
    char name[64];
    std::snprintf(name, sizeof name, "%04d%02d%02d-%02d%02d%02d-%03d-%lu", year, month, day, hour,
                  minute, second, millisecond, static_cast<unsigned long>(pid));
    return name;
}

bool isRecordingFolderName(const std::string& name) {
    return name.size() > 20 && allDigits(name, 0, 8) && name[8] == '-' && allDigits(name, 9, 6) &&
           name[15] == '-' && allDigits(name, 16, 3) && name[19] == '-' &&
           allDigits(name, 20, name.size() - 20);
}

uint32_t recordingFolderPid(const std::string& name) {
    return isRecordingFolderName(name)
               ? static_cast<uint32_t>(std::strtoul(name.c_str() + 20, nullptr, 10))
               : 0;
}

std::vector<std::string> recordingsNewestFirst(std::vector<std::string> names) {
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const std::string& n) { return !isRecordingFolderName(n); }),
                names.end());
    // The start time sorts as text; the process id breaks a tie.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string ta = a.substr(0, 19);
        const std::string tb = b.substr(0, 19);
        if (ta != tb) {
            return ta > tb;
        }
        return recordingFolderPid(a) > recordingFolderPid(b);
    });
    return names;
}

std::string recoveredOutputPath(const std::string& outputPath,
                                const std::function<OutputState(const std::string&)>& stateOf) {
    if (stateOf(outputPath) != OutputState::SomeoneElse) {
        return outputPath;
    }
    const size_t slash = outputPath.find_last_of("\\/");
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = outputPath.find_last_of('.');
    if (dot == std::string::npos || dot <= nameStart) {
        dot = outputPath.size();
    }
    const std::string stem = outputPath.substr(0, dot);
    const std::string extension = outputPath.substr(dot);
    for (int n = 1; n < 100; ++n) {
        std::string candidate = stem;
        candidate +=
            n == 1 ? std::string(" (recovered)") : " (recovered " + std::to_string(n) + ")";
        candidate += extension;
        if (candidate.size() >= kMaxPath) {
            return std::string();
        }
        const OutputState state = stateOf(candidate);
        if (state == OutputState::Missing || state == OutputState::Empty) {
            return candidate;
        }
    }
    return std::string();
}

std::string recoveryQuestion(const RecordingDescription& d, uint64_t recordedMs) {
    const uint64_t seconds = recordedMs / 1000;
    return "A recording was interrupted before its video was made.\n\n"
           "Output file: " +
           d.outputPath + "\nStarted: " + d.startedAt + "\nRecorded: " + std::to_string(seconds) +
           (seconds == 1 ? " second" : " seconds") + "\n\nMake the video from it now?";
}

std::string recoveryDeleteQuestion(const RecordingDescription& d) {
    return "Delete the interrupted recording for " + d.outputPath + " (started " + d.startedAt +
           ")?\n\nChoose No to keep it and be asked again at the next start.";
}

}  // namespace pemlo
