#include "query/MemoText.h"

#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>

namespace tarnwell {

QString documentText(const QTextDocument& document) {
    QString text = document.toRawText();
    for (QChar& c : text) {
        switch (c.unicode()) {
        case QChar::ParagraphSeparator:
        case QChar::LineSeparator:
        case 0xfdd0:  // frame boundaries; a plain-text memo has none, but keep positions true
        case 0xfdd1:
            c = u'\n';
            break;
        default:
            break;
        }
    }
    return text;
}

QString memoText(const QPlainTextEdit& memo) {
    return documentText(*memo.document()).replace(u'\n', QStringLiteral("\r\n"));
}

void setMemoText(QPlainTextEdit& memo, const QString& text) {
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    if (documentText(*memo.document()) == lines) {
        return;
    }
    QTextCursor cursor(memo.document());
    cursor.beginEditBlock();
    cursor.select(QTextCursor::Document);
    cursor.insertText(lines);
    cursor.endEditBlock();
    memo.moveCursor(QTextCursor::Start);
}

}  // namespace tarnwell
