// Windows-only additions to the file seam.
#pragma once

#include <windows.h>

#include "platform/file.h"

namespace pemlo {

// Takes ownership of an open file handle; null for INVALID_HANDLE_VALUE.
FilePtr wrapHandle(HANDLE h);

}  // namespace pemlo
