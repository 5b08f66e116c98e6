// The Windows program: the main dialog, the recording control, the progress dialog and
// the hot keys. One Recorder exists per process; the recording control's dialog and hook
// procedures reach it through theRecorder() and hand it to the main dialog's functions.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "app/recorder_state.h"
#include "app/settings.h"
#include "app/spool_flusher_win32.h"
#include "capture/frame_spool.h"
#include "capture/screen_grabber_win32.h"
#include "capture/sound_recorder.h"
#include "capture/sound_recorder_win32.h"
#include "capture/spool_workers.h"

namespace pemlo {

inline constexpr int kMainDialogTemplate = 100;
inline constexpr int kProgressDialogTemplate = 150;
inline constexpr int kLargeIcon = 300;
inline constexpr int kSmallIcon = 301;
inline constexpr UINT_PTR kCaptureTimer = 200;

// Progress dialog controls.
inline constexpr int kIdProgressBar = 151;
inline constexpr int kIdPreview = 152;
inline constexpr int kIdProgressButton = 153;
inline constexpr int kIdProgressText = 154;

// Messages the program posts to itself.
inline constexpr UINT kMsgWorkerFailed = WM_APP + 1;    // to the progress dialog
inline constexpr UINT kMsgWorkerFinished = WM_APP + 2;  // sent to the progress dialog
inline constexpr UINT_PTR kSoundWaitTimer = 1;          // on the progress dialog
inline constexpr UINT kMsgOfferRecovery = WM_APP + 3;   // posted to the main dialog at its start

struct Recorder {
    HINSTANCE instance = nullptr;
    HWND mainDialog = nullptr;
    HWND progressDialog = nullptr;
    HHOOK hook = nullptr;

    RecordingSettings settings;
    MainDialogSettings dialog;
    DEVMODEA modes[kMaxDisplayModes]{};  // full records of dialog.modes, same indexes
    DEVMODEA selectedMode{};

    RecorderState state;
    std::string thumbnailPath;

    ScreenGrabber grabber;
    FrameSpool spool;
    // Compress and append the frames the capture timer grabs; the pace comes from them.
    SpoolWorkers spoolWorkers;
    DWORD recordingStartMs = 0;
    WaveInDevice waveIn;
    SoundRecorder sound;
    // Set when the recording is being torn down; the worker's progress updates stop.
    std::atomic<int> cancelled{0};
    DWORD soundWaitStart = 0;
    // The folder of this recording's spools (empty until the start makes it), and the
    // thread that puts them on the disk while recording.
    std::string recordingFolder;
    SpoolFlusher flusher;
    DWORD workerThreadId = 0;
    // The progress dialog's preview picture.
    HBITMAP previewBitmap = nullptr;
    int previewWidth = 0;
    int previewHeight = 0;
};

Recorder& theRecorder();

// Main dialog and settings (main_dialog_win32.cpp). They work on the recorder they are
// given and call nothing of the recording control: calls go from the recording control
// (which owns the dialog's procedure) to these, never back.
void initMainDialog(Recorder& r, HWND dialog);
void onSettingsCommand(Recorder& r, HWND dialog, int controlId, int notification);
void chooseOutputFile(HWND dialog);
void setControlDisabled(HWND dialog, int controlId, int disabled);
void setStatusText(HWND dialog, const char* text);
// The status bar's second part: the pace of the recording (empty until a recording
// starts; the last pace stays after it).
void setPaceText(HWND dialog, const char* text);
void showError(HWND owner, const char* message);
int validateSettings(Recorder& r, HWND dialog);

// Recording control (recording_win32.cpp).
INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void startRecording(HWND dialog);
void onCaptureTimer(HWND dialog);
int stopRecording(HWND dialog);
// Pauses a recording, or goes on with a paused one (button or F4).
void togglePause(HWND dialog);
INT_PTR CALLBACK progressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
DWORD WINAPI outputWorker(LPVOID progressDialog);
int tearDownRecorder(HWND window, int deleteOutput);
LRESULT CALLBACK keyboardHookProc(int nCode, WPARAM wParam, LPARAM lParam);
// Hands a stopped (or recovered) recording to the progress dialog and its worker.
void runOutputPhase(HWND dialog);

// Recordings that never finished (recovery_win32.cpp). The per-user folder that holds
// every recording's folder ("%LOCALAPPDATA%\Pemlo Recorder\Recordings"), made when
// missing; empty when it cannot be.
std::string recordingsFolder();
// A new folder for one recording in it; empty on failure.
std::string createRecordingFolder();
// Deletes a recording's spools and its folder.
void deleteRecording(const std::string& folder);
// What identifies an open file (volume and file index), to know it again later.
std::string outputFileId(HANDLE file);
// The local time as "2026-12-07 23:14:05".
std::string localTimeText();
// Asks about every recording an earlier run left, newest first. 1 when one is being
// made into its video (the program then ends as after any recording), 0 otherwise.
int offerRecoveries(HWND dialog);

}  // namespace pemlo
