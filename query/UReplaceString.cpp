#include "query/UReplaceString.h"

#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTextCursor>

#include "query/MemoText.h"
#include "query/TextReplace.h"
#include "ui_UReplaceString.h"

namespace tarnwell {

namespace {

TFrmReplaceString* theReplaceDialog = nullptr;

// One undoable edit, as if typed: later matches first, so the positions of
// the earlier ones still hold.
void applyToMemo(QPlainTextEdit& memo, const ReplaceResult& result, qsizetype findLength,
                 const QString& replacement) {
    QTextCursor cursor(memo.document());
    cursor.beginEditBlock();
    for (auto at = result.matches.crbegin(); at != result.matches.crend(); ++at) {
        cursor.setPosition(*at);
        cursor.setPosition(*at + findLength, QTextCursor::KeepAnchor);
        cursor.insertText(replacement);
    }
    cursor.endEditBlock();
    if (result.selection) {
        QTextCursor selected(memo.document());
        selected.setPosition(result.selection->start);
        selected.setPosition(result.selection->start + result.selection->length,
                             QTextCursor::KeepAnchor);
        memo.setTextCursor(selected);
    }
}

}  // namespace

TFrmReplaceString::TFrmReplaceString(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::FrmReplaceString>()) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(233, 182);
    QFont font(QStringLiteral("細明體"));
    font.setPixelSize(16);
    setFont(font);
    // Closed by "關閉" or the title bar, the dialog is freed.
    setAttribute(Qt::WA_DeleteOnClose);
    connect(ui_->BitBtn1, &QPushButton::clicked, this, &TFrmReplaceString::BitBtn1Click);
    connect(ui_->BitBtn2, &QPushButton::clicked, this, &TFrmReplaceString::BitBtn2Click);
}

TFrmReplaceString::~TFrmReplaceString() {
    if (theReplaceDialog == this) {
        theReplaceDialog = nullptr;
    }
}

TFrmReplaceString* TFrmReplaceString::current() { return theReplaceDialog; }

void TFrmReplaceString::setMemo(QPlainTextEdit* memo) { memo_ = memo; }

QPlainTextEdit* TFrmReplaceString::memo() const { return memo_; }

void TFrmReplaceString::BitBtn1Click() {
    if (!memo_) {
        return;
    }
    const QString find = ui_->Edit1->text();
    const QString replacement = ui_->Edit2->text();
    const ReplaceOptions options{ui_->Chk1->isChecked(), ui_->Chk2->isChecked()};
    const ReplaceResult result =
        replaceInText(documentText(*memo_->document()), find, replacement, options);
    if (!result.matches.isEmpty()) {
        applyToMemo(*memo_, result, find.size(), replacement);
    }
}

void TFrmReplaceString::BitBtn2Click() { close(); }

void TFrmReplaceString::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (placed_) {
        return;
    }
    placed_ = true;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void showReplaceDialog(QPlainTextEdit& memo) {
    if (theReplaceDialog) {
        theReplaceDialog->setMemo(&memo);
        if (theReplaceDialog->isVisible()) {
            theReplaceDialog->raise();
            theReplaceDialog->activateWindow();
            return;
        }
    } else {
        theReplaceDialog = new TFrmReplaceString(memo.window());
        theReplaceDialog->setMemo(&memo);
    }
    QPointer<TFrmReplaceString> dialog = theReplaceDialog;
    dialog->exec();
    delete dialog.data();
}

}  // namespace tarnwell
