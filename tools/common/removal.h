// Removing this run's own files when a tool fails or is stopped by a signal.
//
// A tool registers every file it creates under a name (a half-written output, a scratch
// file until it is unlinked) and forgets it once the name is no longer its own (renamed
// over the target, or unlinked). installRemovalOnSignals() makes SIGINT, SIGTERM, SIGHUP
// and SIGPIPE unlink every registered name from the handler (async-signal-safe calls
// only), print one line naming the signal and end the process by that same signal, so
// whoever started it sees how it ended. Nothing that was not registered is ever removed.
//
// Registering and forgetting are meant for the main thread; the handler may run on any
// thread. At most kMaxRegistered names of fewer than PATH_MAX bytes.
#pragma once

#include <signal.h>

#include <string>

namespace pemlo::tools {

inline constexpr int kMaxRegistered = 8;

// Installs the handler for the four signals; `program` starts the line it prints.
void installRemovalOnSignals(const char* program);

// Registers `path` for removal. Returns a slot, or -1 when the path is too long or
// every slot is taken (the caller must then not create the file).
int registerForRemoval(const std::string& path);
// The name is no longer ours: it will not be removed. Ignores -1.
void forgetRegistered(int slot);
// Unlinks the name now (when still registered) and forgets it. Ignores -1.
void removeRegistered(int slot);

// Holds the four signals back in this thread while it lives, so that a step such as
// "create, then register" or "rename, then forget" is never cut in the middle.
class SignalsHeld {
  public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

  private:
    sigset_t saved_;  // the mask before
};

}  // namespace pemlo::tools
