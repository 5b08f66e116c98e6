// The states of one recording and the guards of the commands that move between them.
#pragma once

#include <atomic>

namespace pemlo {

// Paused is a recording that grabs nothing until it goes on; it is still a recording
// (it can be stopped, and closing the dialog keeps it).
enum class RecorderPhase { Idle, Recording, Paused, Processing, Finished };

struct RecorderState {
    int recording = 0;
    // 1 while a recording is paused (recording stays 1).
    int paused = 0;
    // The pace clock when the pause began, and the time paused before it (pace clock).
    unsigned long pauseBeganMs = 0;
    unsigned long pausedMs = 0;
    // 1 while the pause key is held down, so that a held key toggles once.
    int pauseKeyDown = 0;
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
// Stop (button or F3) only while recording, paused or not.
int canStop(const RecorderState& state);
// Pause and resume (button or F4) only while recording.
int canTogglePause(const RecorderState& state);
// Whether a capture tick grabs a frame: recording and not paused.
int grabsFrames(const RecorderState& state);
// The Record Audio box changes the setting only in the Idle state.
int canChangeRecordAudio(const RecorderState& state, int busy);
// "Select area..." only in the Idle state, once at a time.
int canSelectArea(const RecorderState& state, int busy);

// A start that has created the output file.
void enterRecording(RecorderState& state, int switchedMode);
// A start refused after the file was created (display mode not switched).
void returnToIdle(RecorderState& state);
// A pause that began at `nowMs` of the pace clock, and the recording going on again.
void enterPaused(RecorderState& state, unsigned long nowMs);
void leavePaused(RecorderState& state, unsigned long nowMs);
// The stop hands over to processing (a pause ends with it).
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

// The time recorded from `startMs` to `nowMs` of the pace clock without the pauses;
// frozen at the pause's beginning while paused.
unsigned long recordedMs(const RecorderState& state, unsigned long startMs, unsigned long nowMs);

// The pause hot key as the keyboard hook sees it: a key going down (`down` 1) or up
// (0), with Ctrl, Alt or a Windows key held (`modifiers` 1) or not. 1 when it toggles
// the pause: only the first press of the key without modifiers, not its repeats while
// it is held.
int pauseKeyToggles(RecorderState& state, int down, int modifiers);

// The pace of a recording, for the status bar's second part: the time recorded
// (minutes and seconds), the frames recorded and the ticks that came late, as
// "1:05, 640 frames, 3 late". Written into `out` (at least 64 bytes).
void paceText(char* out, unsigned long size, unsigned long recordedMs, unsigned long frames,
              unsigned long lateTicks);

}  // namespace pemlo
