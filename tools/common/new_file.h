// Creating files the tools write: always new, under a name nobody can guess, never
// through a link.
//
// createNewFile makes "<folder>/.pemlo-<16 random letters>.tmp" with O_CREAT | O_EXCL |
// O_NOFOLLOW (a file, link or anything else already at the name makes it try another
// name), registers the name for removal (removal.h) before any signal can come in
// between, and returns the descriptor (read and write, close-on-exec). The name is short
// enough for any folder whose own files may have names of 255 bytes.
#pragma once

#include <sys/types.h>

#include <string>

namespace pemlo::tools {

// The folder part of `path` ("." for a bare name, "/" for a name right under the root).
std::string folderOf(const std::string& path);

// Returns the descriptor with `path` and the removal `slot` set, or -1 with errno set.
int createNewFile(const std::string& folder, mode_t mode, std::string& path, int& slot);

// Opens exactly `path` as a new file (O_CREAT | O_EXCL | O_NOFOLLOW): -1 with errno set
// when anything exists there, a dangling link included.
int openNewFileAt(const std::string& path, mode_t mode);

}  // namespace pemlo::tools
