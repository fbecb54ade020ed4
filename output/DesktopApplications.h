#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace tarnwell {

// An application installed on the desktop, as its desktop entry describes it.
struct DesktopApplication {
    QString id;    // the desktop file id: "libreoffice-calc.desktop"
    QString file;  // the desktop entry's path
    QString name;
    QString exec;  // the Exec line, general escapes already undone
    QString icon;
    QString workingDirectory;
};

// The application the desktop opens files of `mimeType` with, found by the
// freedesktop.org rules from $XDG_CONFIG_HOME, $XDG_CONFIG_DIRS,
// $XDG_DATA_HOME and $XDG_DATA_DIRS: the defaults of the mimeapps.list files
// (the current desktop's own first), then their added associations, then the
// installed entries that list the type, less the removed associations. An
// entry that is hidden, not an application, or whose TryExec program is
// missing does not count. Nothing when no application is found.
std::optional<DesktopApplication> defaultApplicationFor(const QString& mimeType);

// The program and its arguments that the entry's Exec line gives for opening
// `file`; the file goes last when the line names no place for it.
QStringList commandLineFor(const DesktopApplication& application, const QString& file);

// Starts the application on `file` and lets it run on its own. Throws
// std::runtime_error when its program cannot be started.
void openWith(const DesktopApplication& application, const QString& file);

}  // namespace tarnwell
