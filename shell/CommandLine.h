#pragma once

#include <QString>
#include <QStringList>

namespace tarnwell {

// What the command line asks for. Qt's own window-system options pass
// through to the application object.
struct CommandLine {
    enum class Action { Run, ShowHelp, ShowVersion, Refuse };
    Action action = Action::Run;
    QString error;  // for Refuse: what was wrong
};

CommandLine parseCommandLine(const QStringList& arguments);

QString helpText();
QString versionText();

}  // namespace tarnwell
