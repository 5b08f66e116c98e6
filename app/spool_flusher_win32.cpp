#include "app/spool_flusher_win32.h"

#include <chrono>

#include "platform/task_pool.h"

namespace pemlo {
namespace {

void flushLoop(SpoolFlusher& flusher) {
    std::unique_lock<std::mutex> lock(flusher.mutex);
    for (;;) {
        const bool stopping =
            flusher.wake.wait_for(lock, std::chrono::milliseconds(kSpoolFlushIntervalMs),
                                  [&] { return flusher.stopping; });
        for (FilePtr& file : flusher.files) {
            file->flush();  // a disk that refuses is the recording's to find out
        }
        if (stopping) {
            return;
        }
    }
}

}  // namespace

int startSpoolFlusher(SpoolFlusher& flusher, std::vector<FilePtr> files) {
    stopSpoolFlusher(flusher);
    flusher.files = std::move(files);
    flusher.stopping = false;
    if (startThread(flusher.thread, [&flusher] { flushLoop(flusher); }) != 1) {
        flusher.files.clear();
        return 0;
    }
    return 1;
}

void stopSpoolFlusher(SpoolFlusher& flusher) {
    if (flusher.thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(flusher.mutex);
            flusher.stopping = true;
        }
        flusher.wake.notify_all();
        flusher.thread.join();
    }
    flusher.files.clear();
}

}  // namespace pemlo
