// Every text the program shows: message boxes, status bar, progress dialog and lists.
#pragma once

namespace pemlo::text {

inline constexpr const char kProgramName[] = "Pemlo Recorder";
inline constexpr const char kErrorCaption[] = "Error";

// Settings
inline constexpr const char kPathRequired[] = "Please specify a output file path.";
inline constexpr const char kValueRequired[] = "The value for field '%s' is required.";
inline constexpr const char kPathTooLong[] =
    "The output file path is too long. Please choose a shorter path.";
inline constexpr const char kCaptureLeft[] = "Capture area left";
inline constexpr const char kCaptureTop[] = "Capture area top";
inline constexpr const char kCaptureWidth[] = "Capture area width";
inline constexpr const char kCaptureHeight[] = "Capture area height";
inline constexpr const char kOutputWidth[] = "Output FLV width";
inline constexpr const char kOutputHeight[] = "Output FLV height";
inline constexpr const char kModeLine[] = "%d by %d pixels of 16 bits";

// Picking the area on the screen
inline constexpr const char kSelectAreaCaption[] = "Select area";
inline constexpr const char kSelectAreaHint[] =
    "Drag to select an area, click a window, Esc to cancel";

// Recording control
inline constexpr const char kCannotCreateFile[] = "Could not create specified file.";
inline constexpr const char kCannotSwitchMode[] = "Could not change to fullscreen mode.";
inline constexpr const char kNoDirectX[] =
    "DirectX could not be initialized.\nPlease make sure you have DirectX 9 installed.";
inline constexpr const char kCannotStartSound[] = "Could not initiate sound recording.";
inline constexpr const char kFrameError[] = "An error has occured while capturing a frame.";
inline constexpr const char kSoundError[] = "An error has occured while recording audio.";
inline constexpr const char kCannotStopSound[] = "Could not stop sound recording.";
inline constexpr const char kProcessingError[] =
    "There was an internal error while processing recorded data.";

// Status bar and progress dialog
inline constexpr const char kStatusIdle[] = "Idle";
inline constexpr const char kStatusRecording[] = "Recording...";
inline constexpr const char kStatusProcessing[] = "Processing output...";
inline constexpr const char kStatusPaused[] = "Paused";
inline constexpr const char kPauseButton[] = "Pause (F4)";
inline constexpr const char kResumeButton[] = "Resume (F4)";
inline constexpr const char kSuccess[] = "File successfully created.";
inline constexpr const char kClose[] = "Close";

// Frame-rate list: line n is n + 1 frames per second.
inline constexpr const char* const kFrameRates[10] = {
    "1 (Light)", "2", "3", "4 (Default)", "5", "6", "7", "8", "9", "10 (Heavy)"};
inline constexpr int kDefaultFrameRateLine = 3;

}  // namespace pemlo::text
