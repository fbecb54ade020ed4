#include "shell/Application.h"

#include <QIcon>
#include <exception>

#include "shell/Prompt.h"

// The resources live in a static library; nothing would pull them in.
static void loadResources() { Q_INIT_RESOURCE(tarnwell); }

namespace tarnwell {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Tarnwell"));
    setApplicationVersion(QStringLiteral(TARNWELL_VERSION));
    setDesktopFileName(QStringLiteral("tarnwell"));
    loadResources();
    setWindowIcon(QIcon(QStringLiteral(":/icons/tarnwell.svg")));
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
