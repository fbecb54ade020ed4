#pragma once

class QComboBox;

namespace tarnwell {

class ConnectionRegistry;

// Refills one query window's connection list for the link type it shows,
// keeping the shown entry selected when it is still listed and selecting the
// first entry otherwise. The list emits no signals while it is refilled:
// choosing by program never counts as a user's pick.
void refillConnectionList(const ConnectionRegistry& registry, const QComboBox& linkType,
                          QComboBox& connectAlias);

}  // namespace tarnwell
