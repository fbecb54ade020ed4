#include "BenchWindows.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPrinter>

#include "BenchSupport.h"

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

BenchPrompt::BenchPrompt(QStringList expectedMessages)
    : expected_(std::move(expectedMessages)), installed_(*this) {}

void BenchPrompt::showMessage(const QString& text) {
    if (!expected_.contains(text)) {
        failed_ = true;
        note("the program said: " + text.toStdString());
    }
}

std::unique_ptr<QPrinter> BenchPrompt::choosePrinter(const QPageLayout&, const QString&) {
    if (pdfFile_.isEmpty()) {
        return nullptr;
    }
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(pdfFile_);
    return printer;
}

}  // namespace tarnwell::bench
