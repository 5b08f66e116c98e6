// Recording control: the main dialog's procedure, start, capture timer, stop, the
// progress dialog with its worker thread, the tear-down and the hot keys.
#include <windows.h>

#include <commctrl.h>

#include <cstring>

#include "app/messages.h"
#include "app/preview_page.h"
#include "app/recorder_win32.h"
#include "app/recovery.h"
#include "flv/flv_writer.h"
#include "platform/file_win32.h"
#include "process/output_driver.h"

namespace pemlo {
namespace {

FlvWriter theWriter;

void redraw(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

// The progress dialog as the output phase sees it: the preview picture (control 152)
// and the progress bar (151). Once the recording is being torn down it shows nothing
// more and asks the output phase to stop.
class ProgressDialogSink final : public ProgressSink {
  public:
    explicit ProgressDialogSink(HWND dialog) : dialog_(dialog) {}

    void showPreview(const BitmapInfoHeader& info, const uint8_t* pixels) override {
        if (cancelRequested() || info.biWidth <= 0 || info.biHeight <= 0) {
            return;
        }
        // The picture control shows the bitmap until the program ends, so the bitmap is
        // kept that long (the recorder owns it), not only while the worker runs.
        Recorder& r = theRecorder();
        if (r.previewBitmap == nullptr || r.previewWidth != info.biWidth ||
            r.previewHeight != info.biHeight) {
            HDC screen = GetDC(GetDesktopWindow());
            HBITMAP bitmap = CreateCompatibleBitmap(screen, info.biWidth, info.biHeight);
            ReleaseDC(GetDesktopWindow(), screen);
            if (bitmap == nullptr) {
                return;
            }
            HGDIOBJ old = r.previewBitmap;
            r.previewBitmap = bitmap;
            r.previewWidth = info.biWidth;
            r.previewHeight = info.biHeight;
            SendDlgItemMessageA(dialog_, kIdPreview, STM_SETIMAGE, IMAGE_BITMAP,
                                reinterpret_cast<LPARAM>(bitmap));
            if (old != nullptr) {
                DeleteObject(old);
            }
        }
        BITMAPINFO bmi{};
        static_assert(sizeof(BITMAPINFOHEADER) == sizeof(BitmapInfoHeader));
        std::memcpy(&bmi.bmiHeader, &info, sizeof(BITMAPINFOHEADER));
        SetDIBits(nullptr, r.previewBitmap, 0, static_cast<UINT>(info.biHeight), pixels, &bmi,
                  DIB_RGB_COLORS);
        SendDlgItemMessageA(dialog_, kIdPreview, STM_SETIMAGE, IMAGE_BITMAP,
                            reinterpret_cast<LPARAM>(r.previewBitmap));
        InvalidateRect(GetDlgItem(dialog_, kIdPreview), nullptr, FALSE);
    }
    void setPercent(uint32_t percent) override {
        if (!cancelRequested()) {
            SendDlgItemMessageA(dialog_, kIdProgressBar, PBM_SETPOS, percent, 0);
        }
    }
    bool cancelRequested() override { return theRecorder().cancelled.load() != 0; }

  private:
    HWND dialog_;
};

// Waits for the worker thread to end while serving the messages it sends to this
// thread's windows, so that neither waits for the other.
void waitForWorker(HANDLE worker) {
    for (;;) {
        const DWORD woken = MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_SENDMESSAGE);
        if (woken != WAIT_OBJECT_0 + 1) {
            return;  // the thread has ended (or the handle is unusable)
        }
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

void showRecordingButtons(HWND dialog, int recording) {
    setControlDisabled(dialog, kIdStop, recording ? 0 : 1);
    setControlDisabled(dialog, kIdStart, recording ? 1 : 0);
    SetDlgItemTextA(dialog, kIdPause, text::kPauseButton);
    setControlDisabled(dialog, kIdPause, recording ? 0 : 1);
}

// Puts the display mode and the sound device back as they were before the recording,
// for the ways out of a recording that do not go through the stop.
void putBackDisplayAndSound(Recorder& r) {
    if (r.state.switchedMode) {
        ChangeDisplaySettingsA(nullptr, 0);
        r.state.switchedMode = 0;
    }
    stopSoundRecording(r.sound);
}

void startWorker(HWND progress) {
    Recorder& r = theRecorder();
    r.settings.workerThread =
        CreateThread(nullptr, 0, outputWorker, progress, 0, &r.workerThreadId);
    if (r.settings.workerThread == nullptr) {
        showError(progress, text::kProcessingError);
        tearDownRecorder(r.mainDialog, 0);
    }
}

// The status bar's second part while recording: time without the pauses, frames and
// late ticks.
void showPace(Recorder& r, HWND dialog, DWORD nowMs) {
    char pace[64];
    paceText(pace, sizeof pace, recordedMs(r.state, r.recordingStartMs, nowMs),
             r.spoolWorkers.framesRecorded(), r.spoolWorkers.lateTicks());
    setPaceText(dialog, pace);
}

// A failure while pausing or going on: the recording cannot go on.
void failRecording(Recorder& r, HWND dialog) {
    KillTimer(dialog, kCaptureTimer);
    r.state.recording = 0;
    putBackDisplayAndSound(r);
    showError(dialog, text::kFrameError);
    tearDownRecorder(dialog, 0);
}

// Ctrl, Alt or a Windows key held: F4 with them belongs to other programs (Ctrl+F4
// closes a document).
int pauseModifiersHeld() {
    const int keys[] = {VK_CONTROL, VK_MENU, VK_LWIN, VK_RWIN};
    for (const int key : keys) {
        if ((GetAsyncKeyState(key) & 0x8000) != 0) {
            return 1;
        }
    }
    return 0;
}

}  // namespace

Recorder& theRecorder() {
    static Recorder recorder;
    return recorder;
}

INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Recorder& r = theRecorder();
    switch (message) {
        case WM_INITDIALOG:
            initMainDialog(r, window);
            r.mainDialog = window;
            // Recordings an earlier run left are offered once the dialog shows, before
            // it can start one of its own.
            PostMessageA(window, kMsgOfferRecovery, 0, 0);
            return TRUE;
        case kMsgOfferRecovery:
            if (!offerRecoveries(window) && !r.state.tornDown.load()) {
                r.hook = SetWindowsHookExA(WH_KEYBOARD_LL, keyboardHookProc, r.instance, 0);
            }
            return TRUE;
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const int busy = spoolIsBusy(r.spool);
            if (id == kIdStart) {
                if (canStart(r.state, busy)) {
                    startRecording(window);
                }
            } else if (id == kIdStop) {
                if (canStop(r.state)) {
                    stopRecording(window);
                }
            } else if (id == kIdPause) {
                if (canTogglePause(r.state)) {
                    togglePause(window);
                }
            } else if (id == kIdRecordAudio) {
                if (canChangeRecordAudio(r.state, busy)) {
                    onSettingsCommand(r, window, id, HIWORD(wParam));
                }
            } else if (id == kIdSelectArea) {
                if (canSelectArea(r.state, busy)) {
                    onSettingsCommand(r, window, id, HIWORD(wParam));
                }
            } else if (id == kIdFullScreen || id == kIdScreenArea || id == kIdBrowse ||
                       id == kIdCaptureWidth || id == kIdCaptureHeight || id == kIdModeList ||
                       id == kIdAbout) {
                onSettingsCommand(r, window, id, HIWORD(wParam));
            }
            return FALSE;
        }
        case WM_TIMER:
            if (LOWORD(wParam) == kCaptureTimer) {
                onCaptureTimer(window);
            }
            return FALSE;
        case MM_WIM_DATA:
            if (!r.state.tornDown.load() &&
                !onSoundBufferDone(r.sound, reinterpret_cast<const void*>(lParam))) {
                showError(window, text::kSoundError);
                tearDownRecorder(window, 0);
            }
            return FALSE;
        case WM_CLOSE:
            tearDownRecorder(window, 0);
            return TRUE;
        default:
            return FALSE;
    }
}

void startRecording(HWND dialog) {
    Recorder& r = theRecorder();
    if (!validateSettings(r, dialog)) {
        return;
    }
    const int switchMode = fullScreenSwitchesMode(r.dialog);
    r.settings.outputFile.reset();  // a handle left by an earlier refused start

    char fullPath[kMaxPath];
    const DWORD length =
        GetFullPathNameA(r.dialog.outputPathText.c_str(), kMaxPath, fullPath, nullptr);
    if (length == 0 || length >= kMaxPath) {
        showError(dialog, text::kPathTooLong);
        return;
    }
    HANDLE file = CreateFileA(r.dialog.outputPathText.c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        showError(dialog, text::kCannotCreateFile);
        return;
    }
    const std::string outputId = outputFileId(file);
    r.settings.outputFile = wrapHandle(file);
    r.settings.outputPath = fullPath;
    r.thumbnailPath = thumbnailPathFor(r.settings.outputPath);

    showRecordingButtons(dialog, 1);
    setStatusText(dialog, text::kStatusRecording);
    redraw(dialog);
    enterRecording(r.state, switchMode);

    if (switchMode && ChangeDisplaySettingsA(&r.selectedMode, 0) != DISP_CHANGE_SUCCESSFUL) {
        setStatusText(dialog, text::kStatusIdle);
        showError(dialog, text::kCannotSwitchMode);
        returnToIdle(r.state);
        showRecordingButtons(dialog, 0);
        redraw(dialog);
        return;
    }
    const CaptureArea area{r.settings.captureLeft, r.settings.captureTop, r.settings.captureWidth,
                           r.settings.captureHeight};
    // The spools describe the recording, so that a later start can still make its video.
    RecordingDescription description = describeSettings(r.settings);
    description.outputId = outputId;
    description.startedAt = localTimeText();
    description.screenWidth = GetSystemMetrics(SM_CXSCREEN);
    description.screenHeight = GetSystemMetrics(SM_CYSCREEN);
    r.recordingFolder = createRecordingFolder();
    if (r.recordingFolder.empty() ||
        !grabberOpen(r.grabber, r.spool, dialog, area, r.recordingFolder,
                     describeRecording(description))) {
        showError(dialog, text::kNoDirectX);
        tearDownRecorder(dialog, 0);
        return;
    }
    if (r.settings.recordAudio &&
        !startSoundRecording(r.sound, r.waveIn, dialog, r.recordingFolder)) {
        showError(dialog, text::kCannotStartSound);
        tearDownRecorder(dialog, 0);
        return;
    }
    // What the system holds survives the program; what is flushed survives the power.
    std::vector<FilePtr> spools;
    spoolDuplicateFiles(r.spool, spools);
    soundDuplicateFiles(r.sound, spools);
    startSpoolFlusher(r.flusher, std::move(spools));
    const auto periodMs = static_cast<uint32_t>(timerPeriodMs(r.settings.framesPerSecond));
    if (!r.spoolWorkers.start(r.spool, 0, kSpoolQueueBytes, periodMs)) {
        showError(dialog, text::kFrameError);
        tearDownRecorder(dialog, 0);
        return;
    }
    r.recordingStartMs = GetTickCount();
    showPace(r, dialog, r.recordingStartMs);
    SetTimer(dialog, kCaptureTimer, static_cast<UINT>(periodMs), nullptr);
}

void onCaptureTimer(HWND dialog) {
    Recorder& r = theRecorder();
    if (spoolIsBusy(r.spool) || !grabsFrames(r.state)) {
        return;
    }
    const DWORD now = GetTickCount();
    if (r.spoolWorkers.tick(now) != TickResult::Failed) {
        showPace(r, dialog, now);
        return;
    }
    // No stop may run against the failed spool while the message shows.
    KillTimer(dialog, kCaptureTimer);
    r.state.recording = 0;
    putBackDisplayAndSound(r);
    showError(dialog, text::kFrameError);
    tearDownRecorder(dialog, 0);
}

void togglePause(HWND dialog) {
    Recorder& r = theRecorder();
    if (spoolIsBusy(r.spool)) {
        // A grab is under way: the command runs again once it has returned.
        PostMessageA(dialog, WM_COMMAND, kIdPause, 0);
        return;
    }
    if (!r.state.paused) {
        KillTimer(dialog, kCaptureTimer);
        // Every frame grabbed goes to the spool before the pause's record; a pause before
        // the first tick keeps the picture of that moment.
        if (!r.spoolWorkers.drain() ||
            (spoolRecordedFrames(r.spool) == 0 &&
             (r.spoolWorkers.tick(GetTickCount()) == TickResult::Failed ||
              !r.spoolWorkers.drain())) ||
            !spoolPause(r.spool, r.grabber.nowMs())) {
            failRecording(r, dialog);
            return;
        }
        enterPaused(r.state, GetTickCount());
        SetDlgItemTextA(dialog, kIdPause, text::kResumeButton);
        setStatusText(dialog, text::kStatusPaused);
        showPace(r, dialog, GetTickCount());
        redraw(dialog);
        return;
    }
    if (!spoolResume(r.spool, r.grabber.nowMs())) {
        failRecording(r, dialog);
        return;
    }
    leavePaused(r.state, GetTickCount());
    SetDlgItemTextA(dialog, kIdPause, text::kPauseButton);
    setStatusText(dialog, text::kStatusRecording);
    redraw(dialog);
    // The first frame after the pause is grabbed at once, and the ticks go on from it.
    r.spoolWorkers.restartPace();
    onCaptureTimer(dialog);
    if (r.state.recording && !r.state.tornDown.load()) {
        SetTimer(dialog, kCaptureTimer,
                 static_cast<UINT>(timerPeriodMs(r.settings.framesPerSecond)), nullptr);
    }
}

int stopRecording(HWND dialog) {
    Recorder& r = theRecorder();
    KillTimer(dialog, kCaptureTimer);
    if (spoolIsBusy(r.spool)) {
        PostMessageA(dialog, WM_COMMAND, kIdStop, 0);
        return 1;
    }
    // Every frame grabbed reaches the spool first; a stop before the first tick still
    // gives a video of one frame.
    if (!r.spoolWorkers.finish() ||
        (spoolRecordedFrames(r.spool) == 0 && !spoolRecordFrame(r.spool))) {
        r.state.recording = 0;
        putBackDisplayAndSound(r);
        showError(dialog, text::kFrameError);
        tearDownRecorder(dialog, 0);
        return 1;
    }
    if (r.state.switchedMode) {
        ChangeDisplaySettingsA(nullptr, 0);
        r.state.switchedMode = 0;
    }
    if (r.settings.recordAudio && !stopSoundRecording(r.sound)) {
        showError(dialog, text::kCannotStopSound);
        tearDownRecorder(dialog, 0);
        return 1;
    }
    if (r.settings.recordAudio) {
        soundSetVideoOrigin(r.sound, spoolFirstGrabMs(r.spool));
        soundSetPauses(r.sound, spoolPauses(r.spool));
    }
    runOutputPhase(dialog);
    return 1;
}

void runOutputPhase(HWND dialog) {
    Recorder& r = theRecorder();
    enterProcessing(r.state);
    setStatusText(dialog, text::kStatusProcessing);
    setControlDisabled(dialog, kIdStop, 1);
    setControlDisabled(dialog, kIdStart, 1);
    SetDlgItemTextA(dialog, kIdPause, text::kPauseButton);
    setControlDisabled(dialog, kIdPause, 1);
    redraw(dialog);
    if (DialogBoxParamA(r.instance, MAKEINTRESOURCEA(kProgressDialogTemplate), dialog,
                        progressDialogProc, 0) == -1) {
        showError(dialog, text::kProcessingError);
        tearDownRecorder(dialog, 0);
    }
}

INT_PTR CALLBACK progressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    Recorder& r = theRecorder();
    switch (message) {
        case WM_INITDIALOG:
            r.progressDialog = window;
            // The sound the device handed back at the stop is still being appended to
            // the sound spool; the output phase starts once all of it is there (or, if
            // the device keeps a buffer, after a while with the sound so far).
            if (r.settings.recordAudio && !soundReadyForOutput(r.sound, 0)) {
                r.soundWaitStart = GetTickCount();
                SetTimer(window, kSoundWaitTimer, 20, nullptr);
            } else {
                startWorker(window);
            }
            return TRUE;
        case WM_TIMER:
            if (wParam == kSoundWaitTimer && !r.state.tornDown.load() &&
                soundReadyForOutput(r.sound, GetTickCount() - r.soundWaitStart)) {
                KillTimer(window, kSoundWaitTimer);
                startWorker(window);
            }
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == kIdProgressButton) {
                const ProgressButtonAction action = progressButtonAction(r.state);
                if (action.publishPreview && !r.state.tornDown.load()) {
                    publishPreviewPage(r.settings.outputWidth, r.settings.outputHeight,
                                       r.settings.outputPath.c_str(), r.thumbnailPath.c_str());
                }
                tearDownRecorder(r.mainDialog, action.deleteOutput);
            }
            return FALSE;
        case kMsgWorkerFinished:
            if (!r.state.tornDown.load()) {
                SetDlgItemTextA(window, kIdProgressText, text::kSuccess);
                SetDlgItemTextA(window, kIdProgressButton, text::kClose);
                enterFinished(r.state);
                RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE);
            }
            return TRUE;
        case kMsgWorkerFailed:
            if (!r.state.tornDown.load()) {
                showError(window, text::kProcessingError);
                tearDownRecorder(r.mainDialog, 0);
            }
            return TRUE;
        case WM_CLOSE:
            tearDownRecorder(r.mainDialog, 0);
            return TRUE;
        default:
            return FALSE;
    }
}

DWORD WINAPI outputWorker(LPVOID progressDialog) {
    Recorder& r = theRecorder();
    HWND progress = static_cast<HWND>(progressDialog);
    ShowWindow(r.mainDialog, SW_MINIMIZE);
    ShowWindow(progress, SW_SHOWNORMAL);

    ProgressDialogSink sink(progress);
    const RecordingSettings& s = r.settings;
    OutputJob job;
    job.capture = CaptureArea{s.captureLeft, s.captureTop, s.captureWidth, s.captureHeight};
    job.outputWidth = s.outputWidth;
    job.outputHeight = s.outputHeight;
    job.recordAudio = s.recordAudio;
    job.soundSpool = s.recordAudio ? soundSpoolFile(r.sound) : nullptr;
    job.thumbnailPath = r.thumbnailPath;
    const int result = runOutputDriver(job, r.spool, theWriter, *s.outputFile, sink);
    if (result != 1) {
        if (!r.cancelled.load()) {
            // The user-interface thread reports it and tears down.
            PostMessageA(progress, kMsgWorkerFailed, 0, 0);
        }
        return static_cast<DWORD>(-1);
    }
    r.settings.outputFile.reset();  // closed by the output phase
    if (!r.cancelled.load()) {
        // The user-interface thread shows the success and leaves the processing state in
        // one step, so a click on a button that says "Close" never deletes the file.
        SendMessageA(progress, kMsgWorkerFinished, 0, 0);
        MessageBeep(MB_ICONEXCLAMATION);
    }
    return 1;
}

int tearDownRecorder(HWND window, int deleteOutput) {
    Recorder& r = theRecorder();
    if (!claimTearDown(r.state)) {
        return 1;
    }
    // The worker stops at its next frame; nothing it uses is released before it ends.
    r.cancelled.store(1);
    if (r.settings.workerThread != nullptr) {
        if (GetCurrentThreadId() != r.workerThreadId) {
            waitForWorker(static_cast<HANDLE>(r.settings.workerThread));
        }
    }
    if (r.progressDialog != nullptr) {
        KillTimer(r.progressDialog, kSoundWaitTimer);
        EndDialog(r.progressDialog, 0);
    }
    if (r.hook != nullptr) {
        UnhookWindowsHookEx(r.hook);
        r.hook = nullptr;
    }
    if (r.settings.workerThread != nullptr) {
        CloseHandle(static_cast<HANDLE>(r.settings.workerThread));
        r.settings.workerThread = nullptr;
    }
    KillTimer(window, kCaptureTimer);
    if (r.state.recording) {
        // Leaving in the middle of a recording: the display and the sound device are
        // put back as a stop would.
        putBackDisplayAndSound(r);
    }
    r.settings.outputFile.reset();
    // The workers stop before the spool is read: frames still waiting are dropped.
    r.spoolWorkers.abandon();
    // The spools go with every end but a failure or an interruption that leaves frames
    // without their finished video: those stay for the next start to offer.
    const int keep = keepsSpools(r.state, spoolRecordedFrames(r.spool), deleteOutput);
    stopSpoolFlusher(r.flusher);
    captureRelease(r.spool);
    closeSoundSpool(r.sound);
    if (!keep) {
        deleteRecording(r.recordingFolder);
    }
    if (deleteOutput) {
        DeleteFileA(r.settings.outputPath.c_str());
        DeleteFileA(r.thumbnailPath.c_str());
    }
    EndDialog(window, 0);
    return 1;
}

LRESULT CALLBACK keyboardHookProc(int nCode, WPARAM wParam, LPARAM lParam) {
    Recorder& r = theRecorder();
    if (nCode == HC_ACTION && wParam == WM_KEYDOWN && r.mainDialog != nullptr) {
        const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        if (key->vkCode == VK_F2) {
            SendMessageA(r.mainDialog, WM_COMMAND, kIdStart, 0);
        } else if (key->vkCode == VK_F3) {
            SendMessageA(r.mainDialog, WM_COMMAND, kIdStop, 0);
        } else if (key->vkCode == VK_F4 && pauseKeyToggles(r.state, 1, pauseModifiersHeld())) {
            // Posted: the hook returns at once, and the command passes the button's guard.
            PostMessageA(r.mainDialog, WM_COMMAND, kIdPause, 0);
        }
        if (r.state.tornDown.load()) {
            // The command ran inside the main dialog's wait for a message and ended the
            // dialog there. A message loop nested in it (a message box over the progress
            // dialog) may have taken the wake-up that EndDialog posted, which would
            // leave the dialog waiting for good: post another.
            PostMessageA(r.mainDialog, WM_NULL, 0, 0);
        }
    }
    if (nCode == HC_ACTION && (wParam == WM_KEYUP || wParam == WM_SYSKEYUP) &&
        reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam)->vkCode == VK_F4) {
        pauseKeyToggles(r.state, 0, 0);
    }
    return CallNextHookEx(r.hook, nCode, wParam, lParam);
}

}  // namespace pemlo
