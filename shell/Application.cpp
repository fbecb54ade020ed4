#include "shell/Application.h"

#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>
#include <exception>

#include "ui/ErrorReport.h"

// The resources live in a static library; nothing would pull them in.
static void loadResources() { Q_INIT_RESOURCE(tarnwell); }

namespace tarnwell {

namespace {

// Qt's own texts (file, font and print dialogs, the buttons of message
// boxes, the context menus of text boxes) in Traditional Chinese like the
// rest of the program, whatever the desktop's language. Captions the windows
// set themselves stay as they are. Without the translations installed
// (Debian's qt6-translations-l10n) Qt's texts stay in English.
void installQtTranslations(QCoreApplication& application) {
    auto* translator = new QTranslator(&application);
    if (translator->load(QStringLiteral("qtbase_zh_TW"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
    } else {
        delete translator;
    }
}

}  // namespace

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Tarnwell"));
    setApplicationVersion(QStringLiteral(TARNWELL_VERSION));
    setDesktopFileName(QStringLiteral("tarnwell"));
    loadResources();
    setWindowIcon(QIcon(QStringLiteral(":/icons/tarnwell.svg")));
    installQtTranslations(*this);
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        reportUnhandledError(error);
    }
    return false;
}

}  // namespace tarnwell
