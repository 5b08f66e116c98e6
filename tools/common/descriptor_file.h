// The file seam over a descriptor the tool opened itself, keeping the system's reason for
// its first failed call (platform/file_posix.h): the tool reads it afterwards to say "No
// space left on device" rather than "internal error".
#pragma once

#include <memory>

#include "platform/file_posix.h"

namespace pemlo::tools {

using Failure = FileFailure;

// Takes ownership of `fd`. `failure` may be null.
inline FilePtr descriptorFile(int fd, std::shared_ptr<Failure> failure) {
    return fileFromDescriptor(fd, std::move(failure));
}

}  // namespace pemlo::tools
