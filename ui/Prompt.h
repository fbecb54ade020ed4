#pragma once

#include <QFont>
#include <QString>
#include <memory>
#include <optional>

class QPageLayout;
class QPrinter;

namespace tarnwell {

// Every message box, question, input box, file and font dialog of the program
// goes through this interface, so tests can answer them with a scripted double
// and read back every text that was shown.
class Prompt {
public:
    struct FileRequest {
        QString caption;
        QString directory;      // where the dialog starts; empty: the current one
        QString fileName;       // name offered at start
        QString filter;         // Qt filter text: "*.SQL (*.SQL)"
        QString defaultSuffix;  // appended to a name typed without one ("SQL")
    };

    // A question with Yes and No buttons and no icon.
    struct Question {
        enum class Button { Yes, No };
        QString caption;  // the box's title; empty: the application's name
        QString text;
        Button defaultButton = Button::Yes;
    };

    virtual ~Prompt() = default;

    // A message box with an OK button only.
    virtual void showMessage(const QString& text) = 0;
    // A question answered yes (true) or no (false).
    virtual bool askYesNo(const Question& question) = 0;
    // An input box; nullopt when cancelled.
    virtual std::optional<QString> inputText(const QString& caption, const QString& label,
                                             const QString& initial) = 0;
    // File dialogs; nullopt when cancelled, else the chosen path.
    virtual std::optional<QString> openFileName(const FileRequest& request) = 0;
    virtual std::optional<QString> saveFileName(const FileRequest& request) = 0;
    virtual std::optional<QString> directoryName(const QString& caption, const QString& start) = 0;
    // The font dialog; nullopt when cancelled.
    virtual std::optional<QFont> chooseFont(const QFont& initial) = 0;

    // The print dialog, starting on the sheet of `layout`, where the user picks
    // a printer (CUPS, or a PDF file) and its settings; the printer as set up
    // there, null when cancelled. A printer can be neither copied nor moved,
    // hence the pointer.
    virtual std::unique_ptr<QPrinter> choosePrinter(const QPageLayout& layout, const QString& documentName) = 0;
};

// Offers `previousFile` again in a file dialog's request, where its folder
// is an ordinary one (not a view of the system such as /proc, /sys or /dev,
// where merely listing the files can block) that the user may write to, for
// a save; otherwise the dialog starts in the home folder.
void offerPreviousFile(Prompt::FileRequest& request, const QString& previousFile, bool forSaving);

// The font the font dialog starts on for a window's `font`: the face it
// really draws with (the dialog lists installed faces, not the substituted
// names such as 細明體) at its size in points (the windows size theirs in
// pixels). Otherwise the dialog starts on the first face it lists.
QFont fontDialogStart(const QFont& font);
// What the dialog's choice means: `initial` itself when the dialog returns
// the font it showed at first (`shown`, the nearest it offers to the start:
// whole points, the face's own style), so that OK unchanged changes nothing.
QFont fontDialogChoice(const QFont& initial, const QFont& shown, const QFont& chosen);

// The prompt the program uses now: the real dialogs unless a test installed
// another one.
Prompt& prompt();

// Puts `replacement` in place for its own lifetime (tests).
class PromptOverride {
public:
    explicit PromptOverride(Prompt& replacement);
    ~PromptOverride();
    PromptOverride(const PromptOverride&) = delete;
    PromptOverride& operator=(const PromptOverride&) = delete;

private:
    Prompt* previous_;
};

}  // namespace tarnwell
