// Records about two seconds from the default wave-input device with the real sound
// recorder, stops in the middle of a buffer and waits until every buffer handed back
// has been appended. Writes the spool's content to sound_probe.raw and a report to
// sound_probe.txt ("bytes", "notices", "recorded" and "PASS" or the failures).
#include <windows.h>

#include <mmsystem.h>

#include <cstdio>
#include <string>
#include <vector>

#include "capture/sound_recorder.h"
#include "capture/sound_recorder_win32.h"

namespace {

pemlo::SoundRecorder recorder;
int notices = 0;
int failedNotices = 0;
uint64_t recordedSum = 0;  // what the device said it recorded, over every notice
DWORD lastNoticeAt = 0;

LRESULT CALLBACK soundProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == MM_WIM_DATA) {
        const auto* header = reinterpret_cast<const WAVEHDR*>(lp);
        ++notices;
        recordedSum += header->dwBytesRecorded;
        lastNoticeAt = GetTickCount();
        if (pemlo::onSoundBufferDone(recorder, header) != 1) {
            ++failedNotices;
        }
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

bool pumpOnce() {
    MSG m;
    bool any = false;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
        any = true;
    }
    return any;
}

}  // namespace

int main() {
    std::vector<std::string> failures;
    WNDCLASSA wc{};
    wc.lpfnWndProc = soundProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "PemloSoundProbe";
    RegisterClassA(&wc);
    HWND window = CreateWindowA("PemloSoundProbe", "sound", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                nullptr, wc.hInstance, nullptr);

    pemlo::WaveInDevice device;
    if (window == nullptr || pemlo::startSoundRecording(recorder, device, window, ".") != 1) {
        failures.emplace_back("startSoundRecording failed (wave-in devices: " +
                              std::to_string(waveInGetNumDevs()) + ")");
    } else {
        // About 2 s of full buffers, then stop 110 ms after a buffer came back, so the
        // buffer being filled holds part of its 10,240 bytes.
        const DWORD began = GetTickCount();
        const int fullBuffers = 9;
        while (notices < fullBuffers && GetTickCount() - began < 8000) {
            pumpOnce();
            Sleep(2);
        }
        const DWORD mark = lastNoticeAt;
        while (GetTickCount() - mark < 110) {
            pumpOnce();
            Sleep(2);
        }
        if (notices < fullBuffers) {
            failures.emplace_back("only " + std::to_string(notices) + " buffers came back");
        }
        if (pemlo::stopSoundRecording(recorder) != 1) {
            failures.emplace_back("stopSoundRecording failed");
        }
        const DWORD stopped = GetTickCount();
        while (!pemlo::soundAllAppended(recorder) && GetTickCount() - stopped < 5000) {
            pumpOnce();
            Sleep(2);
        }
        if (!pemlo::soundAllAppended(recorder)) {
            failures.emplace_back("the buffers of the stop were not all appended");
        }
    }
    if (failedNotices > 0) {
        failures.emplace_back(std::to_string(failedNotices) + " buffers failed to append");
    }

    // Copy the spool out for the frequency check.
    std::vector<unsigned char> sound;
    if (pemlo::File* spool = pemlo::soundSpoolFile(recorder)) {
        if (!spool->seek(0)) {
            failures.emplace_back("cannot rewind the spool");
        }
        unsigned char chunk[8192];
        for (;;) {
            const int64_t n = spool->read(chunk, sizeof chunk);
            if (n <= 0) {
                break;
            }
            sound.insert(sound.end(), chunk, chunk + n);
        }
    }
    if (sound.size() != recordedSum) {
        failures.emplace_back("spool holds " + std::to_string(sound.size()) +
                              " bytes, the device recorded " + std::to_string(recordedSum));
    }
    if (sound.size() % 2 != 0) {
        failures.emplace_back("odd spool length");
    }
    if (sound.size() % pemlo::kSoundBufferBytes == 0) {
        failures.emplace_back("no partial buffer at the stop");
    }
    pemlo::closeSoundSpool(recorder);
    // The spool and its notes stay on disk after closing; whoever ends the recording
    // deletes them.
    if (GetFileAttributesA(pemlo::kSoundSpoolName) == INVALID_FILE_ATTRIBUTES ||
        GetFileAttributesA(pemlo::kSoundNotesName) == INVALID_FILE_ATTRIBUTES) {
        failures.emplace_back("sound spool or notes missing after closing");
    }
    DeleteFileA(pemlo::kSoundSpoolName);
    DeleteFileA(pemlo::kSoundNotesName);

    if (FILE* raw = std::fopen("sound_probe.raw", "wb")) {
        if (!sound.empty()) {
            std::fwrite(sound.data(), 1, sound.size(), raw);
        }
        std::fclose(raw);
    }
    FILE* out = std::fopen("sound_probe.txt", "w");
    if (out == nullptr) {
        return 2;
    }
    std::fprintf(out, "bytes %u\nnotices %d\nrecorded %llu\n", unsigned(sound.size()), notices,
                 static_cast<unsigned long long>(recordedSum));
    // When each buffer came back against the device's start, and how much sound it had
    // delivered by then (both in ms): the device's timing as the sound timeline sees it.
    for (const pemlo::SoundNote& n : recorder.notes) {
        std::fprintf(out, "timing %d %.1f\n", static_cast<int>(n.clockMs - recorder.startMs),
                     static_cast<double>(n.samples) / pemlo::kSoundSamplesPerMs);
    }
    for (const std::string& f : failures) {
        std::fprintf(out, "FAIL %s\n", f.c_str());
    }
    if (failures.empty()) {
        std::fprintf(out, "PASS\n");
    }
    std::fclose(out);
    return failures.empty() ? 0 : 1;
}
