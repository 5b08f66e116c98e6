#include "app/recorder_state.h"

#include <cstdio>

namespace pemlo {

RecorderPhase recorderPhase(const RecorderState& state) {
    if (state.recording) {
        return state.paused ? RecorderPhase::Paused : RecorderPhase::Recording;
    }
    if (state.processing.load()) {
        return RecorderPhase::Processing;
    }
    return state.progressOpen ? RecorderPhase::Finished : RecorderPhase::Idle;
}

int canStart(const RecorderState& state, int busy) {
    return recorderPhase(state) == RecorderPhase::Idle && !busy && !state.selectingArea &&
                   !state.tornDown.load()
               ? 1
               : 0;
}

int canStop(const RecorderState& state) {
    return state.recording && !state.tornDown.load() ? 1 : 0;
}

int canTogglePause(const RecorderState& state) {
    return canStop(state);
}

int grabsFrames(const RecorderState& state) {
    return state.recording && !state.paused && !state.tornDown.load() ? 1 : 0;
}

int canChangeRecordAudio(const RecorderState& state, int busy) {
    return canStart(state, busy);
}

int canSelectArea(const RecorderState& state, int busy) {
    return canStart(state, busy);
}

void enterRecording(RecorderState& state, int switchedMode) {
    state.switchedMode = switchedMode;
    state.recording = 1;
    state.paused = 0;
    state.pausedMs = 0;
}

void returnToIdle(RecorderState& state) {
    state.recording = 0;
    state.paused = 0;
    state.switchedMode = 0;
}

void enterPaused(RecorderState& state, unsigned long nowMs) {
    if (state.recording && !state.paused) {
        state.paused = 1;
        state.pauseBeganMs = nowMs;
    }
}

void leavePaused(RecorderState& state, unsigned long nowMs) {
    if (state.paused) {
        state.paused = 0;
        state.pausedMs += (nowMs - state.pauseBeganMs) & 0xFFFFFFFFUL;
    }
}

void enterProcessing(RecorderState& state) {
    state.recording = 0;
    state.paused = 0;
    state.processing.store(1);
    state.progressOpen = 1;
}

void enterFinished(RecorderState& state) {
    state.processing.store(0);
}

int claimTearDown(RecorderState& state) {
    int expected = 0;
    return state.tornDown.compare_exchange_strong(expected, 1) ? 1 : 0;
}

ProgressButtonAction progressButtonAction(const RecorderState& state) {
    const int processing = state.processing.load();
    return {processing ? 0 : 1, processing ? 1 : 0};
}

int keepsSpools(const RecorderState& state, int framesRecorded, int deleteOutput) {
    return framesRecorded > 0 && !deleteOutput && recorderPhase(state) != RecorderPhase::Finished
               ? 1
               : 0;
}

unsigned long recordedMs(const RecorderState& state, unsigned long startMs, unsigned long nowMs) {
    // The pace clock wraps at 32 bits.
    const unsigned long end = state.paused ? state.pauseBeganMs : nowMs;
    return ((end - startMs) & 0xFFFFFFFFUL) - state.pausedMs;
}

int pauseKeyToggles(RecorderState& state, int down, int modifiers) {
    if (!down) {
        state.pauseKeyDown = 0;
        return 0;
    }
    if (state.pauseKeyDown) {
        return 0;  // the key's repeats while it is held
    }
    state.pauseKeyDown = 1;
    return modifiers ? 0 : 1;
}

void paceText(char* out, unsigned long size, unsigned long recordedMs, unsigned long frames,
              unsigned long lateTicks) {
    const unsigned long seconds = recordedMs / 1000;
    std::snprintf(out, size, "%lu:%02lu, %lu frames, %lu late", seconds / 60, seconds % 60, frames,
                  lateTicks);
}

}  // namespace pemlo
