#include "tools/common/scratch_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "tools/common/file_error.h"
#include "tools/common/new_file.h"
#include "tools/common/removal.h"

namespace pemlo::tools {

int createScratchFile(const std::string& folder, std::string& error, Unnamed unnamed) {
    if (unnamed == Unnamed::Try) {
        const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0) {
            return fd;
        }
        // Only a file system (or kernel) without unnamed files sends us the other way.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            error = fileError("create a scratch file in", folder, errno);
            return -1;
        }
    }
    std::string path;
    int slot = -1;
    const int fd = createNewFile(folder, 0600, path, slot);
    if (fd < 0) {
        error = fileError("create a scratch file in", folder, errno);
        return -1;
    }
    removeRegistered(slot);
    return fd;
}

}  // namespace pemlo::tools
