#include "BenchWindows.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include "shell/Application.h"
#include "shell/Fonts.h"

namespace tarnwell::bench {

std::unique_ptr<Application> startWindowedApplication() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static int argc = 1;
    static char name[] = "tarnwell-bench";
    static char* argv[] = {name, nullptr};
    std::unique_ptr<Application> application;
    if (QCoreApplication::instance() == nullptr) {
        application = std::make_unique<Application>(argc, argv);
    }
    setUpFonts();
    return application;
}

bool serveUntil(const std::function<bool()>& done, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    return true;
}

}  // namespace tarnwell::bench
