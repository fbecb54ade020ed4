#pragma once

#include <QString>
#include <cstddef>
#include <string_view>

class QPlainTextEdit;
class QTextDocument;

namespace tarnwell {

// The memo's text with "\r\n" between lines, as the SQL tools and SQL files
// take it.
QString memoText(const QPlainTextEdit& memo);

// Puts `text` ("\r\n", "\n" or "\r" between lines) into the memo as one edit,
// the way typing would: it can be undone and the memo reports the change. The
// caret goes to the start. Nothing happens when the text is already there.
void setMemoText(QPlainTextEdit& memo, const QString& text);

// The document's text with one "\n" per line break, so that position i of it
// is document position i (unlike toPlainText(), no character is altered).
QString documentText(const QTextDocument& document);

// The text's UTF-16 units, as the SQL lexer reads them; valid while the
// text lives unchanged.
inline std::u16string_view utf16Units(const QString& text) {
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

// Whether the document's plain text (toPlainText()) holds nothing but blanks
// and control characters (codes up to 32). Reads only as far as the first
// other character, so a long text costs no copy of it.
bool isBlankText(const QTextDocument& document);

// The position in `text` of the character that starts at byte `utf8Offset`
// of its UTF-8 form (QString::toUtf8()); the text's size past its end.
qsizetype positionOfUtf8Offset(const QString& text, std::size_t utf8Offset);

}  // namespace tarnwell
