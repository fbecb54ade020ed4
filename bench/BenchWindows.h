#pragma once

// What the modes that drive real windows share: the application object on
// the offscreen platform, serving its events until something holds, a prompt
// that answers the windows' dialogs at once, and a query window logged into
// an alias of its own.

#include <QLatin1String>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <functional>
#include <memory>

#include "BenchSupport.h"
#include "ui/Prompt.h"

namespace tarnwell {
class Application;
class TfrmMain;
class TfrmQueryEditor;
class Workspace;
}  // namespace tarnwell

namespace tarnwell::bench {

// The application object for the modes that make windows: on the offscreen
// platform unless the caller chose another, with the program's fonts. Null
// when one exists already.
std::unique_ptr<Application> startWindowedApplication();

// The control of `window` named `name`: a benchmark drives the windows as a
// user would, through the controls their forms name.
template <typename T>
T* child(const QObject& window, const char* name) {
    T* found = window.findChild<T*>(QLatin1String(name));
    if (found == nullptr) {
        qFatal("no control named %s", name);
    }
    return found;
}

// Serves the event loop until `done` holds; false when `limitMs` passed first.
bool serveUntil(const std::function<bool()>& done, int limitMs);

// Answers the program's dialogs in a benchmark: a message other than the ones
// expected goes to standard error and counts as a failure, a question is
// answered yes, the print dialog picks a PDF file (when one is set), and every
// save dialog gives the file set with saveAs() (when one is set), and every
// other dialog is cancelled.
class BenchPrompt final : public Prompt {
public:
    explicit BenchPrompt(QStringList expectedMessages = {});

    void setPdfFile(QString path) { pdfFile_ = std::move(path); }
    void saveAs(QString path) { saveFile_ = std::move(path); }
    bool failed() const { return failed_; }

    void showMessage(const QString& text) override;
    bool askYesNo(const Question&) override { return true; }
    std::optional<QString> inputText(const QString&, const QString&, const QString&) override { return {}; }
    std::optional<QString> openFileName(const FileRequest&) override { return {}; }
    std::optional<QString> saveFileName(const FileRequest&) override;
    std::optional<QString> directoryName(const QString&, const QString&) override { return {}; }
    std::optional<QFont> chooseFont(const QFont&) override { return {}; }
    std::unique_ptr<QPrinter> choosePrinter(const QPageLayout& layout, const QString& documentName) override;

private:
    QStringList expected_;
    QString pdfFile_;
    QString saveFile_;
    bool failed_ = false;
    PromptOverride installed_;
};

// A workspace and main window whose session knows one alias, [name] of type `driver` with
// `params`, logged into and registered, and a query window on it, connected
// unless `connectNow` is false (connect() then does it).
class AliasQueryWindow {
public:
    AliasQueryWindow(const ScratchDirectory& scratch, const std::string& name, const std::string& driver,
                     const Params& params, bool connectNow = true);
    ~AliasQueryWindow();
    AliasQueryWindow(const AliasQueryWindow&) = delete;
    AliasQueryWindow& operator=(const AliasQueryWindow&) = delete;

    TfrmQueryEditor& window() const { return *window_; }

    // Picks the alias's kind, which connects, as a user's pick does.
    void connect();

    // Runs `sql` as the run button does and serves events until the run
    // ended. Throws std::runtime_error when it does not end in time.
    void run(const QString& sql);

private:
    std::unique_ptr<Workspace> workspace_;
    std::unique_ptr<TfrmMain> main_;
    TfrmQueryEditor* window_ = nullptr;
};

}  // namespace tarnwell::bench
