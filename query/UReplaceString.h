#pragma once

#include <QDialog>
#include <QPointer>
#include <memory>

class QPlainTextEdit;

namespace Ui {
class FrmReplaceString;
}

namespace tarnwell {

// The find-and-replace dialog of a query window. It works on the whole text
// of the memo it is handed; there is at most one at a time.
class TFrmReplaceString : public QDialog {
    Q_OBJECT
public:
    explicit TFrmReplaceString(QWidget* parent = nullptr);
    ~TFrmReplaceString() override;

    // The dialog that exists now, or null.
    static TFrmReplaceString* current();

    void setMemo(QPlainTextEdit* memo);
    QPlainTextEdit* memo() const;

public slots:
    void BitBtn1Click();  // "替換"
    void BitBtn2Click();  // "關閉"

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::FrmReplaceString> ui_;
    QPointer<QPlainTextEdit> memo_;
    bool placed_ = false;
};

// What the query window's "取代字串" button does: creates the dialog if there
// is none, hands it `memo`, shows it modally and destroys it when it returns,
// so every press starts with empty edits and clear boxes. Called again while
// the dialog is up, it only hands over the memo and brings the dialog forward.
void showReplaceDialog(QPlainTextEdit& memo);

}  // namespace tarnwell
