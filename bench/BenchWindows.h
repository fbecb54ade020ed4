#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "shell/Prompt.h"

namespace tarnwell {
class Application;
}

namespace tarnwell::bench {

// The application object for the modes that make windows: on the offscreen
// platform unless the caller chose another, with the program's fonts. Null
// when one exists already.
std::unique_ptr<Application> startWindowedApplication();

// Serves the event loop until `done` holds; false when `limitMs` passed first.
bool serveUntil(const std::function<bool()>& done, int limitMs);

// Answers the program's dialogs in a benchmark: a message other than the ones
// expected goes to standard error and counts as a failure, a question is
// answered yes, the print dialog picks a PDF file (when one is set), and every
// other dialog is cancelled.
class BenchPrompt final : public Prompt {
public:
    explicit BenchPrompt(QStringList expectedMessages = {});

    void setPdfFile(QString path) { pdfFile_ = std::move(path); }
    bool failed() const { return failed_; }

    void showMessage(const QString& text) override;
    bool askYesNo(const Question&) override { return true; }
    std::optional<QString> inputText(const QString&, const QString&, const QString&) override { return {}; }
    std::optional<QString> openFileName(const FileRequest&) override { return {}; }
    std::optional<QString> saveFileName(const FileRequest&) override { return {}; }
    std::optional<QString> directoryName(const QString&, const QString&) override { return {}; }
    std::optional<QFont> chooseFont(const QFont&) override { return {}; }
    std::unique_ptr<QPrinter> choosePrinter(const QPageLayout& layout, const QString& documentName) override;

private:
    QStringList expected_;
    QString pdfFile_;
    bool failed_ = false;
    PromptOverride installed_;
};

}  // namespace tarnwell::bench
