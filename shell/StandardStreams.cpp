#include "shell/StandardStreams.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tarnwell {

namespace {

bool& outputClosed() {
    static bool closed = false;
    return closed;
}

}  // namespace

void openClosedStandardStreams() {
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (::fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        // The lowest free number is the one just found closed.
        const int opened = ::open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != descriptor) {
            ::dup2(opened, descriptor);
            ::close(opened);
        }
        if (descriptor == STDOUT_FILENO) {
            outputClosed() = true;
        }
    }
}

bool standardOutputWasClosed() { return outputClosed(); }

}  // namespace tarnwell
