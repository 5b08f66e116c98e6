// The file seam (platform/file.h) over a descriptor the tool opened itself, keeping the
// system's reason for its first failed call.
//
// The writers and spools driven through a File only learn that a call failed; the tool
// reads the reason afterwards from the shared Failure (which outlives the File, since a
// spool may drop its file on the way) to say "No space left on device" rather than
// "internal error". A write the system cuts short without a reason counts as EIO.
#pragma once

#include <memory>

#include "platform/file.h"

namespace pemlo::tools {

struct Failure {
    int err = 0;           // errno of the first failed call, 0 while none failed
    bool writing = false;  // whether that call was a write (or flush) rather than a read or seek
};

// Takes ownership of `fd`. `failure` may be null.
FilePtr descriptorFile(int fd, std::shared_ptr<Failure> failure);

}  // namespace pemlo::tools
