#include "app/spool_flusher_win32.h"

namespace pemlo {
namespace {

DWORD WINAPI flushLoop(LPVOID param) {
    SpoolFlusher& flusher = *static_cast<SpoolFlusher*>(param);
    for (;;) {
        const DWORD woken = WaitForSingleObject(flusher.stop, kSpoolFlushIntervalMs);
        for (FilePtr& file : flusher.files) {
            file->flush();  // a disk that refuses is the recording's to find out
        }
        if (woken != WAIT_TIMEOUT) {
            return 0;
        }
    }
}

}  // namespace

int startSpoolFlusher(SpoolFlusher& flusher, std::vector<FilePtr> files) {
    stopSpoolFlusher(flusher);
    flusher.files = std::move(files);
    flusher.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (flusher.stop == nullptr) {
        flusher.files.clear();
        return 0;
    }
    flusher.thread = CreateThread(nullptr, 0, flushLoop, &flusher, 0, nullptr);
    if (flusher.thread == nullptr) {
        CloseHandle(flusher.stop);
        flusher.stop = nullptr;
        flusher.files.clear();
        return 0;
    }
    return 1;
}

void stopSpoolFlusher(SpoolFlusher& flusher) {
    if (flusher.thread != nullptr) {
        SetEvent(flusher.stop);
        WaitForSingleObject(flusher.thread, INFINITE);
        CloseHandle(flusher.thread);
        flusher.thread = nullptr;
    }
    if (flusher.stop != nullptr) {
        CloseHandle(flusher.stop);
        flusher.stop = nullptr;
    }
    flusher.files.clear();
}

}  // namespace pemlo
