// Puts a recording's spools on the disk itself every kSpoolFlushIntervalMs, from a thread
// of its own, so that a power cut loses at most the last seconds and the capture timer's
// tick never waits for the disk. It flushes second handles on the spools (taken when it
// starts), so the recording may close its own at any time; the spools can only be
// deleted once the flusher has stopped and closed its handles.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/file.h"

namespace pemlo {

// What a power cut can take at most, and what a flush costs the disk (not the tick).
inline constexpr DWORD kSpoolFlushIntervalMs = 2000;

// Use it through the functions below.
struct SpoolFlusher {
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;  // guarded by mutex: set to end the thread
    std::vector<FilePtr> files;
};

// Starts flushing `files` (taken over). 1 on success; 0 when the thread cannot be
// started (the recording then goes on with what the system flushes by itself).
int startSpoolFlusher(SpoolFlusher& flusher, std::vector<FilePtr> files);
// Ends the thread after one last flush and closes its handles. Safe when not started.
void stopSpoolFlusher(SpoolFlusher& flusher);

}  // namespace pemlo
