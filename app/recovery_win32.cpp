// Recordings that never finished, on Windows: the per-user folder that holds every
// recording's spools, and the questions at the start about the ones an earlier run left.
#include <windows.h>

#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/messages.h"
#include "app/recorder_win32.h"
#include "app/recovery.h"
#include "platform/file_win32.h"

namespace pemlo {
namespace {

const char* const kRecordingFiles[] = {kFrameSpoolName, kFrameIndexName, kSoundSpoolName,
                                       kSoundNotesName};

// The file at `path` is open in another process (a copy of the program still recording
// into it, or making its video): asking for it unshared fails while any handle is open.
bool inUse(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

bool fileMissing(const std::string& path) {
    return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
           GetLastError() == ERROR_FILE_NOT_FOUND;
}

// Whether process `pid` still runs (or may: one that cannot be asked counts as running).
bool processRunning(uint32_t pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) {
        return GetLastError() == ERROR_ACCESS_DENIED;
    }
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

std::vector<std::string> subfolders(const std::string& root) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((root + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            names.emplace_back(found.cFileName);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

OutputState outputStateOf(const std::string& path, const std::string& recordingsId) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? OutputState::Missing
                   : OutputState::SomeoneElse;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return OutputState::SomeoneElse;
    }
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return OutputState::SomeoneElse;
    }
    BY_HANDLE_FILE_INFORMATION info;
    OutputState state = OutputState::SomeoneElse;
    if (GetFileInformationByHandle(h, &info)) {
        if (info.nFileSizeHigh == 0 && info.nFileSizeLow == 0) {
            state = OutputState::Empty;
        } else if (!recordingsId.empty() && outputFileId(h) == recordingsId) {
            // The same file index can come back for a new file once the old one was
            // deleted: only an FLV (one this program began) counts as the recording's.
            char head[3] = {};
            DWORD got = 0;
            if (ReadFile(h, head, sizeof head, &got, nullptr) && got == sizeof head &&
                head[0] == 'F' && head[1] == 'L' && head[2] == 'V') {
                state = OutputState::Ours;
            }
        }
    }
    CloseHandle(h);
    return state;
}

// Sets up the recorder as after the stop of the recording described by `d`, whose
// frames `r.spool` already holds, and runs the output phase. 0 when the video's file
// cannot be created (after saying so).
int makeRecoveredVideo(Recorder& r, HWND dialog, const std::string& folder,
                       const RecordingDescription& d) {
    const std::string path = recoveredOutputPath(
        d.outputPath, [&d](const std::string& p) { return outputStateOf(p, d.outputId); });
    HANDLE file = path.empty() ? INVALID_HANDLE_VALUE
                               : CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        showError(dialog, text::kCannotCreateFile);
        return 0;
    }
    RecordingSettings& s = r.settings;
    applyDescription(d, s);
    s.outputFile = wrapHandle(file);
    s.outputPath = path;
    r.thumbnailPath = thumbnailPathFor(path);
    r.recordingFolder = folder;
    if (s.recordAudio) {
        // Sound that cannot be read back at all (the program died before its first note)
        // leaves a video without sound rather than none.
        FilePtr notes = openFileForReading(folder + "\\" + kSoundNotesName);
        FilePtr sound = openFileForReading(folder + "\\" + kSoundSpoolName);
        if (notes == nullptr || sound == nullptr ||
            !soundOpenRecorded(r.sound, std::move(sound), *notes)) {
            s.recordAudio = 0;
        } else {
            soundSetVideoOrigin(r.sound, spoolFirstGrabMs(r.spool));
            soundSetPauses(r.sound, spoolPauses(r.spool));
        }
    }
    runOutputPhase(dialog);
    return 1;
}

}  // namespace

std::string recordingsFolder() {
    char base[MAX_PATH];
    std::string root;
    if (SUCCEEDED(
            SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, base))) {
        root = base;
    } else {
        const DWORD n = GetTempPathA(MAX_PATH, base);
        if (n == 0 || n >= MAX_PATH) {
            return std::string();
        }
        root = base;
        while (!root.empty() && (root.back() == '\\' || root.back() == '/')) {
            root.pop_back();
        }
    }
    root += "\\Pemlo Recorder";
    if (!makeFolder(root)) {
        return std::string();
    }
    root += "\\Recordings";
    return makeFolder(root) ? root : std::string();
}

std::string createRecordingFolder() {
    const std::string root = recordingsFolder();
    if (root.empty()) {
        return std::string();
    }
    SYSTEMTIME t;
    GetLocalTime(&t);
    const std::string folder =
        root + "\\" +
        recordingFolderName(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                            t.wMilliseconds, GetCurrentProcessId());
    return CreateDirectoryA(folder.c_str(), nullptr) ? folder : std::string();
}

void deleteRecording(const std::string& folder) {
    if (folder.empty()) {
        return;
    }
    for (const char* name : kRecordingFiles) {
        deleteFile(folder + "\\" + name);
    }
    removeFolder(folder);
}

std::string outputFileId(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) {
        return std::string();
    }
    char id[40];
    std::snprintf(id, sizeof id, "%08lx-%08lx%08lx",
                  static_cast<unsigned long>(info.dwVolumeSerialNumber),
                  static_cast<unsigned long>(info.nFileIndexHigh),
                  static_cast<unsigned long>(info.nFileIndexLow));
    return id;
}

std::string localTimeText() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond);
    return text;
}

int offerRecoveries(HWND dialog) {
    Recorder& r = theRecorder();
    const std::string root = recordingsFolder();
    if (root.empty()) {
        return 0;
    }
    for (const std::string& name : recordingsNewestFirst(subfolders(root))) {
        const std::string folder = root + "\\" + name;
        bool busy = false;
        for (const char* file : kRecordingFiles) {
            busy = busy || inUse(folder + "\\" + file);
        }
        if (busy) {
            continue;  // another copy of the program is recording into it
        }
        const std::string indexPath = folder + "\\" + kFrameIndexName;
        FilePtr index = openFileForReading(indexPath);
        if (index == nullptr) {
            // No index: a recording that failed before writing one, unless its program is
            // still setting it up or the file cannot be opened just now.
            if (fileMissing(indexPath) && !processRunning(recordingFolderPid(name))) {
                deleteRecording(folder);
            }
            continue;
        }
        RecordingDescription d;
        if (!openRecoveredRecording(r.spool, openFileForReading(folder + "\\" + kFrameSpoolName),
                                    *index, d)) {
            // Nothing whole to make a video of.
            index.reset();
            deleteRecording(folder);
            continue;
        }
        index.reset();
        const std::string question = recoveryQuestion(d, spoolDurationMs(r.spool));
        if (MessageBoxA(dialog, question.c_str(), text::kProgramName, MB_YESNO | MB_ICONQUESTION) ==
                IDYES &&
            makeRecoveredVideo(r, dialog, folder, d)) {
            return 1;
        }
        captureRelease(r.spool);
        closeSoundSpool(r.sound);
        const std::string deleteQuestion = recoveryDeleteQuestion(d);
        if (MessageBoxA(dialog, deleteQuestion.c_str(), text::kProgramName,
                        MB_YESNO | MB_ICONQUESTION) == IDYES) {
            deleteRecording(folder);
        }
    }
    return 0;
}

}  // namespace pemlo
