#include "shell/Application.h"

#include <exception>

#include "shell/Prompt.h"

namespace tarnwell {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Tarnwell"));
    setApplicationVersion(QStringLiteral(TARNWELL_VERSION));
    setDesktopFileName(QStringLiteral("tarnwell"));
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        reportUnhandledError(error);
    }
    return false;
}

void reportUnhandledError(const std::exception& error) {
    prompt().showMessage(QString::fromUtf8(error.what()));
}

}  // namespace tarnwell
