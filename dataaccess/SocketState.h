#pragma once

namespace tarnwell::db {

// Whether the server's end of a connection's socket is gone: a server that
// stopped or restarted, or ended the session, has closed it, which the
// kernel tells without anything being read, so rows still on their way to a
// result being read stay where they are. True for no socket at all (-1);
// false when the kernel cannot say.
bool socketHungUp(int socket) noexcept;

}  // namespace tarnwell::db
