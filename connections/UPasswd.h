#pragma once

#include <QDialog>
#include <memory>


namespace Ui {
class TfrmPasswd;
}

namespace tarnwell {

namespace db {
class Database;
}

// The login dialog of an alias. It hands nothing back to its caller: OK
// writes the user name and password straight into the parameter list of the
// test connection the caller opens next, and raises the accepted flag that
// the caller reads once the dialog has closed.
class TfrmPasswd : public QDialog {
    Q_OBJECT
public:
    // The login to `aliasName`, `userName` offered and the password empty.
    TfrmPasswd(db::Database& testConnection, const QString& aliasName, const QString& userName,
               QWidget* parent = nullptr);
    ~TfrmPasswd() override;

    // The dialog while it exists, else null.
    static TfrmPasswd* instance();

    // 1 once OK was pressed, 0 until then.
    int accepted() const { return accepted_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BitBtn1Click();

    std::unique_ptr<Ui::TfrmPasswd> ui;
    db::Database& testConnection_;
    int accepted_ = 0;
};

// The text with the blanks and control characters at both of its ends
// removed; other white space (an ideographic space) is kept, as it can be
// part of a password.
QString trimBlanks(const QString& text);

}  // namespace tarnwell
