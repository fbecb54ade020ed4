#include "ui/Prompt.h"

#include <QApplication>
#include <QFileDialog>
#include <QFontDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPageLayout>
#include <QPrintDialog>
#include <QPrinter>

namespace tarnwell {

namespace {

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
        bool ok = false;
        QFont font = QFontDialog::getFont(&ok, initial, QApplication::activeWindow());
        return ok ? std::optional<QFont>(font) : std::nullopt;
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

Prompt& prompt() { return *currentPrompt(); }

PromptOverride::PromptOverride(Prompt& replacement) : previous_(currentPrompt()) {
    currentPrompt() = &replacement;
}

PromptOverride::~PromptOverride() { currentPrompt() = previous_; }

}  // namespace tarnwell
