#include "shell/Application.h"

#include <QIcon>
#include <exception>

#include "shell/Feedback.h"
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
    // The user asked for the stop and knows of it.
    if (dynamic_cast<const OperationCanceled*>(&error) != nullptr) {
        return;
    }
    prompt().showMessage(QString::fromUtf8(error.what()));
}

}  // namespace tarnwell
