// The POSIX side of the file seam over a descriptor the caller opened itself, keeping the
// system's reason for the first call that failed.
//
// The writers and spools driven through a File only learn that a call failed; whoever
// opened the descriptor reads the reason afterwards from the shared FileFailure (which
// outlives the File, since a spool may drop its file on the way) to say "No space left
// on device" rather than just "failed". A write the system cuts short without a reason
// counts as EIO. Not on Windows.
#pragma once

#include <memory>

#include "platform/file.h"

namespace pemlo {

struct FileFailure {
    int err = 0;           // errno of the first failed call, 0 while none failed
    bool writing = false;  // whether that call was a write (or a close) rather than a read or seek
};

// Takes ownership of `fd` (closed with the File). `failure` may be null.
FilePtr fileFromDescriptor(int fd, std::shared_ptr<FileFailure> failure);

}  // namespace pemlo
