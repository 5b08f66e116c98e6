// Recordings that never finished: how a recording describes itself at its start, where
// its folder goes, and what the next start decides about each one it finds. The
// questions themselves are asked by the Windows side (recovery_win32.cpp).
//
// Every recording gets a folder of its own under the per-user folder of the program,
// named by its start time and process id ("20261207-231405-042-4242"), so the names
// sort by start time and two copies of the program recording at once never share one.
// The folder holds the frame spool, the sound spool and their index and notes files;
// the frame index's header carries the description below.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/file.h"

namespace pemlo {

struct FrameSpool;
struct RecordingSettings;

// What the output phase needs besides the spools, kept in the frame index's header.
struct RecordingDescription {
    std::string outputPath;  // the FLV the recording was to make (absolute)
    std::string outputId;    // what identifies the file the recording created there
    std::string startedAt;   // local start time, "2026-12-07 23:14:05"
    int32_t captureLeft = 0;
    int32_t captureTop = 0;
    int32_t captureWidth = 0;
    int32_t captureHeight = 0;
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    int32_t outputWidth = 0;
    int32_t outputHeight = 0;
    int32_t framesPerSecond = 0;
    int32_t recordAudio = 0;

    bool operator==(const RecordingDescription&) const = default;
};

// What a recording made with `settings` is: its output path, capture rectangle, output
// size, frame rate and sound. The caller adds what identifies the output file, the
// start time and the screen size.
RecordingDescription describeSettings(const RecordingSettings& settings);
// The settings a description names, for making its video (the output file itself is
// left as it is).
void applyDescription(const RecordingDescription& description, RecordingSettings& settings);

// One "key=value" line per field.
std::string describeRecording(const RecordingDescription& description);
// Parses what describeRecording wrote. False when a field is missing or out of range
// (sizes of at least 1, the output no larger than the capture, 1 to 10 frames per
// second, sound 0 or 1, a path); the recording can then not be made into a video.
bool parseRecordingDescription(const std::string& text, RecordingDescription& description);

// Opens a recording found at a start for making its video: the description from the
// header of the frame index `index`, then every whole frame of `spoolFile`, each lasting
// the recording's frame period (the last one's end was never noted). True when the
// description can be made into a video, names the rectangle the index does and at least
// one frame is whole; `spool` is then ready for reading. False otherwise, with `spool`
// released. `index` is not kept.
bool openRecoveredRecording(FrameSpool& spool, FilePtr spoolFile, File& index,
                            RecordingDescription& description);

// The folder name of a recording started at the given local time by process `pid`.
std::string recordingFolderName(int year, int month, int day, int hour, int minute, int second,
                                int millisecond, uint32_t pid);
// Whether a name is one recordingFolderName makes.
bool isRecordingFolderName(const std::string& name);
// The process id in a recording folder's name; 0 for another name.
uint32_t recordingFolderPid(const std::string& name);
// The recording folders among `names`, newest first.
std::vector<std::string> recordingsNewestFirst(std::vector<std::string> names);

// What is at a path the recovered video might go to.
enum class OutputState {
    Missing,      // nothing
    Empty,        // an empty file
    Ours,         // the file the recording itself created (outputId matches)
    SomeoneElse,  // any other file (or a folder)
};
// Where the recovered video goes: the recording's own path when nothing is there, an
// empty file, or the file the recording created; otherwise beside it as
// "NAME (recovered).flv", then "NAME (recovered 2).flv" and so on, the first that is
// missing or empty. Empty when none of 99 is free.
std::string recoveredOutputPath(const std::string& outputPath,
                                const std::function<OutputState(const std::string&)>& stateOf);

// The questions at the start, with the recording's output file, its start and the
// whole seconds recorded.
std::string recoveryQuestion(const RecordingDescription& description, uint64_t recordedMs);
std::string recoveryDeleteQuestion(const RecordingDescription& description);

}  // namespace pemlo
