// The states of one recording and the guards of the commands that move between them.
#pragma once

#include <atomic>

namespace pemlo {

enum class RecorderPhase { Idle, Recording, Processing, Finished };

struct RecorderState {
    int recording = 0;
    // Set by the stop, cleared by the worker after a finished FLV.
    std::atomic<int> processing{0};
    // 1 while the progress dialog exists (it tells Finished from Idle).
    int progressOpen = 0;
    // 1 when this recording switched the display mode.
    int switchedMode = 0;
    // 1 while the user picks the area to record on the screen (the main dialog is hidden).
    int selectingArea = 0;
    // Set by the first tear-down; later requests do nothing.
    std::atomic<int> tornDown{0};
};

RecorderPhase recorderPhase(const RecorderState& state);

// Start (button or F2) only in the Idle state, while no grab is under way and no area is
// being picked on the screen.
int canStart(const RecorderState& state, int busy);
// Stop (button or F3) only while recording.
int canStop(const RecorderState& state);
// The Record Audio box changes the setting only in the Idle state.
int canChangeRecordAudio(const RecorderState& state, int busy);
// "Select area..." only in the Idle state, once at a time.
int canSelectArea(const RecorderState& state, int busy);

// A start that has created the output file.
void enterRecording(RecorderState& state, int switchedMode);
// A start refused after the file was created (display mode not switched).
void returnToIdle(RecorderState& state);
// The stop hands over to processing.
void enterProcessing(RecorderState& state);
// The worker has finished the FLV.
void enterFinished(RecorderState& state);

// Returns 1 to the first caller only: exactly one tear-down runs.
int claimTearDown(RecorderState& state);

// The progress dialog's button: whether a click at this moment cancels (deletes the
// output) or closes after success (publishes the preview page).
struct ProgressButtonAction {
    int publishPreview;
    int deleteOutput;
};
ProgressButtonAction progressButtonAction(const RecorderState& state);

// Whether the tear-down keeps the recording's spools for the next start: only when
// frames were recorded and the recording ends without its finished video and without a
// cancel (a failure, the program closed while recording or processing). A finished
// video, a cancel and a start that recorded nothing delete them.
int keepsSpools(const RecorderState& state, int framesRecorded, int deleteOutput);

// The pace of a recording, for the status bar's second part: the time recorded
// (minutes and seconds), the frames recorded and the ticks that came late, as
// "1:05, 640 frames, 3 late". Written into `out` (at least 64 bytes).
void paceText(char* out, unsigned long size, unsigned long recordedMs, unsigned long frames,
              unsigned long lateTicks);

}  // namespace pemlo
