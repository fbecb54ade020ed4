#include "query/SqlStringForm.h"

#include <QStringList>

namespace tarnwell {

namespace {

const QString lineBreak = QStringLiteral("\r\n");

struct MemoLines {
    QStringList lines;
    bool endsWithBreak = false;
};

MemoLines splitLines(const QString& text) {
    MemoLines memo;
    if (text.isEmpty()) {
        return memo;
    }
    memo.lines = text.split(lineBreak);
    // A break at the very end closes the last line; it does not open another.
    if (memo.lines.size() > 1 && memo.lines.constLast().isEmpty()) {
        memo.lines.removeLast();
        memo.endsWithBreak = true;
    }
    return memo;
}

QString joinLines(const MemoLines& memo) {
    QString text = memo.lines.join(lineBreak);
    if (memo.endsWithBreak) {
        text += lineBreak;
    }
    return text;
}

// Spaces, tabs and every other control character count as blank.
bool isBlank(QChar c) { return c.unicode() <= 32; }

// True when s[from, to) holds only blanks; an empty range is blank.
bool isBlankRange(const QString& s, qsizetype from, qsizetype to) {
    for (qsizetype i = from; i < to; ++i) {
        if (!isBlank(s.at(i))) {
            return false;
        }
    }
    return true;
}

// "sql := 'select" -> "select": the assignment, its ":=" and the one
// character after it (normally a blank) go.
QString dropAssignment(const QString& line) {
    const qsizetype at = line.indexOf(QStringLiteral(":="));
    return at < 0 ? line : line.mid(at + 3);
}

// A quote that opens the line after nothing but blanks goes, with the blanks.
QString dropLeadingQuote(QString s) {
    const qsizetype quote = s.indexOf(u'\'');
    if (quote >= 0 && isBlankRange(s, 0, quote)) {
        s.remove(0, quote + 1);
    }
    return s;
}

// Removes each "+'" (or "+ '", "+x'") that leads the line, keeping the
// indentation before the "+". The one character just before the quote is
// deliberately not looked at.
QString dropLeadingJoins(QString s) {
    for (;;) {
        const qsizetype plus = s.indexOf(u'+');
        if (plus < 0 || !isBlankRange(s, 0, plus)) {
            return s;
        }
        const qsizetype quote = s.indexOf(u'\'');
        // A "+" with no literal after it is not a join: leave the line alone.
        if (quote < plus) {
            return s;
        }
        if (!isBlankRange(s, plus + 1, quote - 1)) {
            return s;
        }
        s.remove(plus, quote - plus + 1);
    }
}

// The closing quote and whatever follows it ("+", ";", a comment) go.
QString dropTrailingPart(QString s) {
    const qsizetype quote = s.lastIndexOf(u'\'');
    if (quote >= 0) {
        s.truncate(quote);
    }
    return s;
}

}  // namespace

QString toProgramStringForm(const QString& text) {
    QString doubled = text;
    doubled.replace(u'\'', QStringLiteral("''"));
    MemoLines memo = splitLines(doubled);
    for (QString& line : memo.lines) {
        line = QStringLiteral("+'") + line + u'\'';
    }
    return joinLines(memo);
}

QString fromProgramStringForm(const QString& text) {
    MemoLines memo = splitLines(text);
    if (!memo.lines.isEmpty() && memo.lines.constFirst().contains(QStringLiteral(":="))) {
        memo.lines.first() = dropAssignment(memo.lines.constFirst());
    }
    for (QString& line : memo.lines) {
        line = dropTrailingPart(dropLeadingJoins(dropLeadingQuote(line)));
    }
    QString sql = joinLines(memo);
    sql.remove(u';');
    sql.replace(QStringLiteral("''"), QStringLiteral("'"));
    sql.remove(QStringLiteral("+'"));
    sql.remove(QStringLiteral("'+"));
    return sql;
}

}  // namespace tarnwell
