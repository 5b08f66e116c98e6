// Opening the tools' input files, read-only, refusing kinds that cannot serve.
//
// A stream input (frames, durations, cursor positions) may be a regular file, a pipe or
// a character device; a seekable input (sound) must be a regular file. Folders and
// anything else are refused with a message that says what the name is. "-" is standard
// input. Every message names the file and, for a failed call, the system's reason.
#pragma once

#include <string>

namespace pemlo::tools {

enum class InputKind { Stream, Regular };

// Returns a read-only descriptor (close-on-exec; for "-" a duplicate of standard
// input), or -1 with one line in `error`.
int openInput(const std::string& path, InputKind kind, std::string& error);

}  // namespace pemlo::tools
