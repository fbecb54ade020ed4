#include "shell/CommandLine.h"

namespace tarnwell {

namespace {

// Options of Qt's own that take a value and that a user may reasonably pass.
const QStringList kQtOptionsWithValue{QStringLiteral("-platform"), QStringLiteral("-display"),
                                      QStringLiteral("-style"),
                                      QStringLiteral("-qwindowgeometry")};

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    CommandLine result;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            return {CommandLine::Action::ShowHelp, {}};
        }
        if (argument == QLatin1String("--version") || argument == QLatin1String("-v")) {
            return {CommandLine::Action::ShowVersion, {}};
        }
        if (kQtOptionsWithValue.contains(argument)) {
            if (i + 1 >= arguments.size()) {
                return {CommandLine::Action::Refuse,
                        QStringLiteral("option '%1' needs a value").arg(argument)};
            }
            ++i;
            continue;
        }
        if (argument.startsWith(QLatin1Char('-'))) {
            result = {CommandLine::Action::Refuse,
                      QStringLiteral("unknown option '%1'").arg(argument)};
        } else {
            result = {CommandLine::Action::Refuse,
                      QStringLiteral("unexpected argument '%1'").arg(argument)};
        }
        // --help or --version later on the line still win.
    }
    return result;
}

QString helpText() {
    return QStringLiteral(
        "Usage: tarnwell [--help] [--version]\n"
        "\n"
        "Tarnwell, a SQL query workbench. It starts in the notification area (the\n"
        "system tray): right-press its icon for its menu. A second start brings the\n"
        "running one forward and ends.\n"
        "\n"
        "Options:\n"
        "  -h, --help       show this help and exit\n"
        "  -v, --version    show the version and exit\n"
        "  -platform NAME, -display DISPLAY, -style NAME\n"
        "                   Qt's own window-system options\n");
}

QString versionText() {
    return QStringLiteral("Tarnwell %1\n").arg(QStringLiteral(TARNWELL_VERSION));
}

}  // namespace tarnwell
