#include "tools/common/removal.h"

#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace pemlo::tools {
namespace {

struct Slot {
    std::atomic<int> used{0};
    char path[PATH_MAX] = {};
};

Slot slots[kMaxRegistered];
char programName[64] = "tool";
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

static_assert(std::atomic<int>::is_always_lock_free, "the handler reads the slots");

const char* signalName(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "SIGPIPE";
    }
}

void put(const char* text) {
    const ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

void onSignal(int signal) {
    const int savedErrno = errno;
    // The line below may go to a pipe nobody reads: no second signal for that.
    if (signal != SIGPIPE) {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGPIPE, &ignore, nullptr);
    }
    bool removed = false;
    for (Slot& slot : slots) {
        if (slot.used.load() == 1) {
            removed = ::unlink(slot.path) == 0 || removed;
        }
    }
    put("\n");
    put(programName);
    put(": stopped by ");
    put(signalName(signal));
    put(removed ? "; the files it was writing were removed\n" : "\n");
    // End the process by the same signal: back to the default action, then raise it
    // again (it is delivered as soon as this handler returns).
    struct sigaction byDefault = {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    ::sigaction(signal, &byDefault, nullptr);
    ::raise(signal);
    errno = savedErrno;
}

sigset_t fourSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kSignals) {
        sigaddset(&set, s);
    }
    return set;
}

}  // namespace

void installRemovalOnSignals(const char* program) {
    std::strncpy(programName, program, sizeof programName - 1);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    action.sa_mask = fourSignals();
    for (int s : kSignals) {
        ::sigaction(s, &action, nullptr);
    }
}

int registerForRemoval(const std::string& path) {
    if (path.empty() || path.size() >= PATH_MAX) {
        return -1;
    }
    for (int i = 0; i < kMaxRegistered; ++i) {
        if (slots[i].used.load() == 0) {
            std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
            slots[i].used.store(1);
            return i;
        }
    }
    return -1;
}

void forgetRegistered(int slot) {
    if (slot >= 0 && slot < kMaxRegistered) {
        slots[slot].used.store(0);
    }
}

void removeRegistered(int slot) {
    if (slot >= 0 && slot < kMaxRegistered && slots[slot].used.load() == 1) {
        SignalsHeld held;
        ::unlink(slots[slot].path);
        slots[slot].used.store(0);
    }
}

SignalsHeld::SignalsHeld() {
    const sigset_t set = fourSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, &saved_);
}

SignalsHeld::~SignalsHeld() {
    ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
}

}  // namespace pemlo::tools
