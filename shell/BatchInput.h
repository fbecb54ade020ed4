#pragma once

#include <QString>
#include <optional>

namespace tarnwell {

class StopSignals;

// The SQL of a batch run as a query window's memo holds it: the file's text
// (read as SQL files are), one "\n" between lines. A file is read at once, so
// that a missing one is reported before a password is asked; standard input
// ("-") when the text is first asked for, as the password may come from the
// same terminal.
class BatchSqlText {
public:
    explicit BatchSqlText(const QString& file);

    // Throws a usage stop for a text of blanks only.
    QString text();
    // The file as messages name it: as given, "<stdin>" for standard input.
    QString shownName() const;

private:
    QString file_;
    std::optional<QString> text_;
};

// TARNWELL_PASSWORD when it is set, even empty.
std::optional<QString> passwordFromEnvironment();
// Whether a password can be asked: standard input is a terminal.
bool canAskPassword();
// Asks on the terminal, without echo (put back should a signal end the
// process meanwhile); blanks at the ends are dropped, as the login dialog
// drops them.
QString askPassword(const QString& question, StopSignals& stops);

}  // namespace tarnwell
