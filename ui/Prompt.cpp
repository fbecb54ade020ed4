#include "ui/Prompt.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QFontInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QPageLayout>
#include <QPrintDialog>
#include <QPrinter>

#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace tarnwell {

namespace {

// Folders that are views of the running system rather than of files: a
// file dialog that lists them reads their entries, and some entries block
// (/proc/kmsg). /dev is devtmpfs, which statfs() cannot tell from tmpfs.
bool isSystemView(const QString& folder) {
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical == QLatin1String("/dev") ||
        (canonical.startsWith(QLatin1String("/dev/")) && !canonical.startsWith(QLatin1String("/dev/shm")))) {
        return true;
    }
    struct statfs system {};
    if (::statfs(QFile::encodeName(canonical).constData(), &system) != 0) {
        return true;
    }
    switch (static_cast<unsigned long>(system.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case BPF_FS_MAGIC:
        return true;
    default:
        return false;
    }
}

// Real dialogs, parented to the window the user is working in.
class WidgetPrompt final : public Prompt {
public:
    void showMessage(const QString& text) override {
        QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text,
                        QMessageBox::Ok, QApplication::activeWindow());
        box.exec();
    }

    bool askYesNo(const Question& question) override {
        QMessageBox box(QMessageBox::NoIcon,
                        question.caption.isEmpty() ? QApplication::applicationName() : question.caption,
                        question.text, QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
        box.setDefaultButton(question.defaultButton == Question::Button::No ? QMessageBox::No : QMessageBox::Yes);
        // Closing the box with Escape or its title bar answers No.
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    }

    std::optional<QString> inputText(const QString& caption, const QString& label,
                                     const QString& initial) override {
        bool ok = false;
        QString text = QInputDialog::getText(QApplication::activeWindow(), caption, label,
                                             QLineEdit::Normal, initial, &ok);
        return ok ? std::optional<QString>(text) : std::nullopt;
    }

    std::optional<QString> openFileName(const FileRequest& request) override {
        return runFileDialog(request, QFileDialog::AcceptOpen);
    }

    std::optional<QString> saveFileName(const FileRequest& request) override {
        return runFileDialog(request, QFileDialog::AcceptSave);
    }

    std::optional<QString> directoryName(const QString& caption, const QString& start) override {
        QString dir = QFileDialog::getExistingDirectory(QApplication::activeWindow(), caption, start);
        return dir.isEmpty() ? std::nullopt : std::optional<QString>(dir);
    }

    std::optional<QFont> chooseFont(const QFont& initial) override {
        QFontDialog dialog(QApplication::activeWindow());
        dialog.setCurrentFont(fontDialogStart(initial));
        const QFont shown = dialog.currentFont();
        if (dialog.exec() != QDialog::Accepted) {
            return std::nullopt;
        }
        return fontDialogChoice(initial, shown, dialog.selectedFont());
    }

    std::unique_ptr<QPrinter> choosePrinter(const QPageLayout& layout, const QString& documentName) override {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setPageLayout(layout);
        printer->setDocName(documentName);
        QPrintDialog dialog(printer.get(), QApplication::activeWindow());
        // The pages are made while they print, so there is no range to pick
        // from, nor a selection.
        dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
        dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
        dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
        if (dialog.exec() != QDialog::Accepted) {
            return nullptr;
        }
        return printer;
    }

private:
    static std::optional<QString> runFileDialog(const FileRequest& request,
                                                QFileDialog::AcceptMode mode) {
        QFileDialog dialog(QApplication::activeWindow(), request.caption, request.directory,
                           request.filter);
        dialog.setAcceptMode(mode);
        // Files are replaced without a question.
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                           : QFileDialog::AnyFile);
        dialog.setDefaultSuffix(request.defaultSuffix);
        if (!request.fileName.isEmpty()) {
            dialog.selectFile(request.fileName);
        }
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return std::nullopt;
        }
        return dialog.selectedFiles().constFirst();
    }
};

Prompt*& currentPrompt() {
    static WidgetPrompt widgets;
    static Prompt* current = &widgets;
    return current;
}

}  // namespace

void offerPreviousFile(Prompt::FileRequest& request, const QString& previousFile, bool forSaving) {
    const QString folder = QFileInfo(previousFile).absolutePath();
    const bool ordinary = !previousFile.isEmpty() && QFileInfo(folder).isDir() && !isSystemView(folder) &&
                          (!forSaving || ::access(QFile::encodeName(folder).constData(), W_OK) == 0);
    if (ordinary) {
        request.fileName = previousFile;
    } else if (!previousFile.isEmpty()) {
        request.directory = QDir::homePath();
    }
}

QFont fontDialogStart(const QFont& font) {
    const QFontInfo drawn(font);
    QFont start(drawn.family());
    start.setPointSizeF(drawn.pointSizeF());
    start.setWeight(static_cast<QFont::Weight>(drawn.weight()));
    start.setItalic(drawn.italic());
    start.setUnderline(font.underline());
    start.setStrikeOut(font.strikeOut());
    return start;
}

QFont fontDialogChoice(const QFont& initial, const QFont& shown, const QFont& chosen) {
    return chosen == shown ? initial : chosen;
}

Prompt& prompt() { return *currentPrompt(); }

PromptOverride::PromptOverride(Prompt& replacement) : previous_(currentPrompt()) {
    currentPrompt() = &replacement;
}

PromptOverride::~PromptOverride() { currentPrompt() = previous_; }

}  // namespace tarnwell
