#include "query/MemoText.h"

#include <QPlainTextEdit>
#include <QTextBlock>
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

bool isBlankText(const QTextDocument& document) {
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QString text = block.text();
        for (const QChar c : text) {
            // toPlainText() makes a no-break space a blank, and the
            // separators of lines line breaks.
            const char16_t unit = c.unicode();
            if (unit > 32 && unit != QChar::Nbsp && unit != QChar::LineSeparator &&
                unit != QChar::ParagraphSeparator && unit != 0xfdd0 && unit != 0xfdd1) {
                return false;
            }
        }
    }
    return true;
}

qsizetype positionOfUtf8Offset(const QString& text, std::size_t utf8Offset) {
    std::size_t bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (bytes >= utf8Offset) {
            return i;
        }
        const char16_t unit = text.at(i).unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < text.size() && QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            bytes += 4;
            ++i;
        } else if (QChar::isSurrogate(unit)) {
            ++bytes;  // a lone surrogate goes out as "?"
        } else {
            bytes += unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
        }
    }
    return text.size();
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
