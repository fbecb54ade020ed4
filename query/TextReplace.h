#pragma once

#include <QList>
#include <QLocale>
#include <QString>
#include <optional>

namespace tarnwell {

// The two boxes of the replace dialog: "全文替換" and "不分大小寫".
struct ReplaceOptions {
    bool replaceAll = false;
    bool ignoreCase = false;
};

struct TextRange {
    qsizetype start = 0;
    qsizetype length = 0;
    friend bool operator==(const TextRange&, const TextRange&) = default;
};

struct ReplaceResult {
    QString text;                        // the whole text after the replace
    QList<qsizetype> matches;            // where the found text stood, left to right
    std::optional<TextRange> selection;  // what to select afterwards, if anything
};

// One press of "替換":
//   both boxes:        every match, letters compared after upper-casing by `locale`;
//   全文替換 only:      every exact match;
//   不分大小寫 only:    the first match, ignoring case; the replaced text is selected;
//   neither:           nothing.
// Matches do not overlap, are found left to right, and replaced text is never
// searched again. An empty `find` matches nothing. Positions count UTF-16
// units of `text`, the same units a QTextDocument counts.
ReplaceResult replaceInText(const QString& text, const QString& find, const QString& replacement,
                            ReplaceOptions options, const QLocale& locale = QLocale::system());

// `text` upper-cased by `locale` one character at a time, so that position i
// of the result is position i of `text` (no "ß" -> "SS" growth).
QString upperCasedInPlace(const QString& text, const QLocale& locale);

}  // namespace tarnwell
