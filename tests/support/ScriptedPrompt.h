#pragma once

#include <QFont>
#include <QString>
#include <QStringList>
#include <deque>
#include <optional>
#include <vector>

#include "ui/Prompt.h"

namespace tarnwell::test {

// Answers the program's dialogs from a script the test queues, records every
// call in order, and fails the test on a call the script did not expect (or
// on script steps left unused when it goes away). Installed for its lifetime.
class ScriptedPrompt final : public Prompt {
public:
    enum class Kind { Message, YesNo, Input, OpenFile, SaveFile, Directory, Font, Printer };

    struct Call {
        Kind kind;
        // The texts the program passed, in parameter order: message text;
        // question, its caption, its default button ("Yes" or "No");
        // caption, label, initial text; caption, directory, file name,
        // filter, default suffix; caption, start; font family and the whole
        // start font (QFont::toString); the print dialog's document name, its
        // sheet's width and length in millimetres ("210x297") and orientation
        // ("portrait" or "landscape").
        QStringList texts;
    };

    ScriptedPrompt();
    ~ScriptedPrompt() override;
    ScriptedPrompt(const ScriptedPrompt&) = delete;
    ScriptedPrompt& operator=(const ScriptedPrompt&) = delete;

    // Script steps. `expectedText`, when given, must equal the call's first
    // text that tells what is asked: the message, the question, the input
    // box's label, the dialog's caption.
    void expectMessage(std::optional<QString> expectedText = std::nullopt);
    void answerYesNo(bool yes, std::optional<QString> expectedText = std::nullopt);
    void answerInput(std::optional<QString> text, std::optional<QString> expectedLabel = std::nullopt);
    void answerOpenFile(std::optional<QString> path, std::optional<QString> expectedCaption = std::nullopt);
    void answerSaveFile(std::optional<QString> path, std::optional<QString> expectedCaption = std::nullopt);
    void answerDirectory(std::optional<QString> path, std::optional<QString> expectedCaption = std::nullopt);
    void answerFont(std::optional<QFont> font);
    // The print dialog: a printer writing a PDF file at `pdfFile` (no CUPS
    // printer needed), or cancelled when nullopt.
    void answerPrinter(std::optional<QString> pdfFile);

    const std::vector<Call>& calls() const { return calls_; }
    // The texts of all message boxes shown, in order.
    QStringList messages() const;
    bool scriptUsedUp() const { return script_.empty(); }

    void showMessage(const QString& text) override;
    bool askYesNo(const Question& question) override;
    std::optional<QString> inputText(const QString& caption, const QString& label,
                                     const QString& initial) override;
    std::optional<QString> openFileName(const FileRequest& request) override;
    std::optional<QString> saveFileName(const FileRequest& request) override;
    std::optional<QString> directoryName(const QString& caption, const QString& start) override;
    std::optional<QFont> chooseFont(const QFont& initial) override;
    std::unique_ptr<QPrinter> choosePrinter(const QPageLayout& layout, const QString& documentName) override;

private:
    struct Step {
        Kind kind = Kind::Message;
        std::optional<QString> expectedText;
        bool yes = false;
        std::optional<QString> text;
        std::optional<QFont> font;
    };

    Step& queue(Kind kind, std::optional<QString> expectedText);
    // Records the call and takes the next step; nothing when the call was not
    // the one the script expected (the test has then failed).
    std::optional<Step> take(Kind kind, QStringList texts, int checkedText);

    std::deque<Step> script_;
    std::vector<Call> calls_;
    PromptOverride installed_;
};

const char* kindName(ScriptedPrompt::Kind kind);

}  // namespace tarnwell::test
