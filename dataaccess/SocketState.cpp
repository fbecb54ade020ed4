#include "dataaccess/SocketState.h"

#include <poll.h>

namespace tarnwell::db {

bool socketHungUp(int socket) noexcept {
    if (socket < 0) {
        return true;
    }
    pollfd state{socket, POLLRDHUP, 0};
    if (poll(&state, 1, 0) < 0) {
        return false;  // cannot tell; the next statement will
    }
    return (state.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace tarnwell::db
