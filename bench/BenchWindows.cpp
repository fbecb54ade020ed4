#include "BenchWindows.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPrinter>
#include <stdexcept>

#include "BenchSupport.h"

#include "dataaccess/Session.h"
#include "query/MemoText.h"
#include "query/UQueryEditor.h"
#include "session/Workspace.h"
#include "shell/Application.h"
#include "shell/UMain.h"
#include "ui/Fonts.h"

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

std::optional<QString> BenchPrompt::saveFileName(const FileRequest&) {
    return saveFile_.isEmpty() ? std::nullopt : std::optional<QString>(saveFile_);
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

namespace {

QString valueOf(const Params& params, const std::string& key) {
    for (const auto& [name, value] : params) {
        if (name == key) {
            return QString::fromStdString(value);
        }
    }
    return {};
}

}  // namespace

AliasQueryWindow::AliasQueryWindow(const ScratchDirectory& scratch, const std::string& name,
                                   const std::string& driver, const Params& params, bool connectNow) {
    const std::string aliasFile = writeAliasFile(scratch, name, driver, params);
    workspace_ = std::make_unique<Workspace>(std::make_unique<db::Session>(db::SessionConfig{aliasFile, {}, false}));
    main_ = std::make_unique<TfrmMain>(*workspace_);
    main_->AddConnectedBDE(QString::fromStdString(name), QString(), QString(), valueOf(params, "USER NAME"),
                           valueOf(params, "PASSWORD"));
    window_ = main_->OpenQueryWindow(QueryWindowForm::QueryWindow);
    if (window_ == nullptr) {
        throw std::runtime_error("no query window opened");
    }
    if (connectNow) {
        connect();
    }
}

void AliasQueryWindow::connect() {
    auto* linkType = child<QComboBox>(*window_, "CbxLinkType");
    linkType->setCurrentIndex(linkType->findText(QStringLiteral("BDE")));
    window_->CbxLinkTypeChange();  // connects, as a user's pick of the kind does
}

AliasQueryWindow::~AliasQueryWindow() {
    window_->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void AliasQueryWindow::run(const QString& sql) {
    setMemoText(*child<QPlainTextEdit>(*window_, "MemSQL"), sql);
    child<QAbstractButton>(*window_, "SBtnQuery")->click();
    if (!serveUntil([this] { return !window_->runInProgress() && window_->queryThread() == nullptr; },
                    600000)) {
        throw std::runtime_error("the statement did not end");
    }
}

}  // namespace tarnwell::bench
