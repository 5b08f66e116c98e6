#include "app/recorder_state.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace pemlo {
namespace {

TEST(RecorderState, GuardsFollowTheRecordingThroughItsPhases) {
    RecorderState s;
    EXPECT_EQ(recorderPhase(s), RecorderPhase::Idle);
    EXPECT_EQ(canStart(s, 0), 1);
    EXPECT_EQ(canStart(s, 1), 0);  // a grab is under way
    EXPECT_EQ(canStop(s), 0);
    EXPECT_EQ(canChangeRecordAudio(s, 0), 1);

    enterRecording(s, 1);
    EXPECT_EQ(recorderPhase(s), RecorderPhase::Recording);
    EXPECT_EQ(s.switchedMode, 1);
    EXPECT_EQ(canStart(s, 0), 0);  // F2 while recording does nothing
    EXPECT_EQ(canStop(s), 1);
    EXPECT_EQ(canChangeRecordAudio(s, 0), 0);

    enterProcessing(s);
    EXPECT_EQ(recorderPhase(s), RecorderPhase::Processing);
    EXPECT_EQ(canStart(s, 0), 0);  // F2 during processing does nothing
    EXPECT_EQ(canStop(s), 0);      // a second stop does nothing
    EXPECT_EQ(canChangeRecordAudio(s, 0), 0);

    enterFinished(s);
    EXPECT_EQ(recorderPhase(s), RecorderPhase::Finished);
    EXPECT_EQ(canStart(s, 0), 0);
    EXPECT_EQ(canStop(s), 0);
}

TEST(RecorderState, APauseIsARecordingThatGrabsNothingAndCountsNoTime) {
    RecorderState s;
    EXPECT_EQ(canTogglePause(s), 0);  // F4 while idle does nothing
    enterRecording(s, 0);
    EXPECT_EQ(canTogglePause(s), 1);
    EXPECT_EQ(grabsFrames(s), 1);
    EXPECT_EQ(recordedMs(s, 1000, 4000), 3000u);

    enterPaused(s, 4000);
    EXPECT_EQ(recorderPhase(s), RecorderPhase::Paused);
    EXPECT_EQ(grabsFrames(s), 0);
    EXPECT_EQ(canTogglePause(s), 1);
    EXPECT_EQ(canStop(s), 1);  // Stop works while paused
    EXPECT_EQ(canStart(s, 0), 0);
    EXPECT_EQ(canChangeRecordAudio(s, 0), 0);
    EXPECT_EQ(recordedMs(s, 1000, 9000), 3000u);  // frozen while paused
    // The program ended while paused keeps the recording as while recording.
    EXPECT_EQ(keepsSpools(s, 5, 0), 1);

    leavePaused(s, 10000);
    EXPECT_EQ(recorderPhase(s), RecorderPhase::Recording);
    EXPECT_EQ(grabsFrames(s), 1);
    EXPECT_EQ(recordedMs(s, 1000, 10500), 3500u);
    enterPaused(s, 11000);
    enterProcessing(s);  // stopped while paused
    EXPECT_EQ(recorderPhase(s), RecorderPhase::Processing);
    EXPECT_EQ(canTogglePause(s), 0);  // F4 while the video is made does nothing
    EXPECT_EQ(grabsFrames(s), 0);
}

TEST(RecorderState, PausesAcrossTheWrapOfTheClockCountTheirTimeOnly) {
    RecorderState s;
    enterRecording(s, 0);
    const unsigned long start = 0xFFFFFC18UL;  // 1 s before the 32-bit clock wraps
    enterPaused(s, 0xFFFFFFF0UL);
    leavePaused(s, 0x10UL);
    EXPECT_EQ(recordedMs(s, start, 1000), 2000u - 32u);
}

TEST(RecorderState, ThePauseKeyTogglesOnceAPressAndNotWithModifiers) {
    RecorderState s;
    EXPECT_EQ(pauseKeyToggles(s, 1, 0), 1);
    EXPECT_EQ(pauseKeyToggles(s, 1, 0), 0);  // held: the key repeats
    EXPECT_EQ(pauseKeyToggles(s, 1, 0), 0);
    EXPECT_EQ(pauseKeyToggles(s, 0, 0), 0);
    EXPECT_EQ(pauseKeyToggles(s, 1, 1), 0);  // Ctrl+F4 closes a document
    EXPECT_EQ(pauseKeyToggles(s, 1, 0), 0);  // ... and Ctrl let go while F4 is held
    EXPECT_EQ(pauseKeyToggles(s, 0, 1), 0);
    EXPECT_EQ(pauseKeyToggles(s, 1, 0), 1);
}

TEST(RecorderState, RefusedStartReturnsToIdle) {
    RecorderState s;
    enterRecording(s, 1);
    returnToIdle(s);
    EXPECT_EQ(recorderPhase(s), RecorderPhase::Idle);
    EXPECT_EQ(s.switchedMode, 0);
    EXPECT_EQ(canStart(s, 0), 1);
}

TEST(RecorderState, NothingStartsWhileTheAreaIsBeingPicked) {
    RecorderState s;
    EXPECT_EQ(canSelectArea(s, 0), 1);
    EXPECT_EQ(canSelectArea(s, 1), 0);  // a grab is under way
    s.selectingArea = 1;
    EXPECT_EQ(canStart(s, 0), 0);  // F2 while the main dialog is hidden
    EXPECT_EQ(canSelectArea(s, 0), 0);
    s.selectingArea = 0;
    enterRecording(s, 0);
    EXPECT_EQ(canSelectArea(s, 0), 0);
}

TEST(RecorderState, NothingStartsOrStopsAfterTheTearDown) {
    RecorderState s;
    enterRecording(s, 0);
    EXPECT_EQ(claimTearDown(s), 1);
    EXPECT_EQ(canStop(s), 0);
    EXPECT_EQ(canStart(s, 0), 0);
}

TEST(RecorderState, ProgressButtonCancelsWhileProcessingAndClosesAfter) {
    RecorderState s;
    enterRecording(s, 0);
    enterProcessing(s);
    ProgressButtonAction a = progressButtonAction(s);
    EXPECT_EQ(a.deleteOutput, 1);
    EXPECT_EQ(a.publishPreview, 0);
    enterFinished(s);
    a = progressButtonAction(s);
    EXPECT_EQ(a.deleteOutput, 0);
    EXPECT_EQ(a.publishPreview, 1);
}

TEST(RecorderState, ExactlyOneTearDownAmongRacingThreads) {
    for (int round = 0; round < 50; ++round) {
        RecorderState s;
        std::atomic<int> winners{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&] { winners += claimTearDown(s); });
        }
        for (std::thread& t : threads) {
            t.join();
        }
        ASSERT_EQ(winners.load(), 1);
    }
}

TEST(RecorderState, SpoolsStayOnlyForRecordedFramesWithoutTheirVideo) {
    RecorderState s;
    enterRecording(s, 0);
    EXPECT_EQ(keepsSpools(s, 0, 0), 0);  // a start that recorded nothing
    EXPECT_EQ(keepsSpools(s, 3, 0), 1);  // a failure, or the dialog closed, while recording
    s.recording = 0;                     // a failed tick leaves the recording first
    EXPECT_EQ(keepsSpools(s, 3, 0), 1);
    enterProcessing(s);
    EXPECT_EQ(keepsSpools(s, 3, 0), 1);  // the output phase failed or was closed
    EXPECT_EQ(keepsSpools(s, 3, 1), 0);  // cancelled
    enterFinished(s);
    EXPECT_EQ(keepsSpools(s, 3, 0), 0);  // the video is made
}

TEST(RecorderState, PaceTextShowsTimeFramesAndLateTicks) {
    char text[64];
    paceText(text, sizeof text, 0, 0, 0);
    EXPECT_STREQ(text, "0:00, 0 frames, 0 late");
    paceText(text, sizeof text, 65999, 640, 3);
    EXPECT_STREQ(text, "1:05, 640 frames, 3 late");
    paceText(text, sizeof text, 3600000, 36000, 12);
    EXPECT_STREQ(text, "60:00, 36000 frames, 12 late");
}

}  // namespace
}  // namespace pemlo
