#include "tools/common/standard_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace pemlo::tools {

int makeStandardDescriptorsValid() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        // The lowest free number is this one, since the ones below are open.
        const int opened = ::open("/dev/null", O_RDWR | O_NOCTTY);
        if (opened != fd) {
            if (opened >= 0) {
                ::close(opened);
            }
            return 0;
        }
    }
    return 1;
}

}  // namespace pemlo::tools
