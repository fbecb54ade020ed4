#pragma once

#include <QList>

class QComboBox;
class QWidget;

namespace tarnwell {

class ConnectionRegistry;

// Query windows are found among all of the program's widgets by an object
// name holding "frmQueryEditor"; they are named "frmQueryEditor_<n>" with n
// growing as they are created, so ordering by n gives creation order. Names
// without such a number come last, by name.
QList<QWidget*> openQueryWindows();

// Refills one query window's connection list for the link type it shows,
// keeping the shown entry selected when it is still listed and selecting the
// first entry otherwise. The list emits no signals while it is refilled:
// choosing by program never counts as a user's pick.
void refillConnectionList(const ConnectionRegistry& registry, const QComboBox& linkType,
                          QComboBox& connectAlias);

}  // namespace tarnwell
