#include "query/TextReplace.h"

#include <QHash>

#include <array>

namespace tarnwell {

namespace {

char32_t codePointAt(const QString& text, qsizetype at) {
    const QChar first = text.at(at);
    if (first.isHighSurrogate() && at + 1 < text.size() && text.at(at + 1).isLowSurrogate()) {
        return QChar::surrogateToUcs4(first, text.at(at + 1));
    }
    return first.unicode();
}

QString characterOf(char32_t code) {
    // A lone surrogate stays itself rather than turning into U+FFFD.
    if (QChar::isSurrogate(code)) {
        return QString(QChar(static_cast<char16_t>(code)));
    }
    return QString::fromUcs4(std::array{code}.data(), 1);
}

// The locale's upper case of one character when it is one character again;
// otherwise the plain Unicode mapping, which never changes the length.
QString upperCaseOf(char32_t code, const QLocale& locale) {
    const QString character = characterOf(code);
    QString upper = locale.toUpper(character);
    if (upper.size() == character.size()) {
        return upper;
    }
    upper = characterOf(QChar::toUpper(code));
    return upper.size() == character.size() ? upper : character;
}

QList<qsizetype> findMatches(const QString& haystack, const QString& needle, bool all) {
    QList<qsizetype> matches;
    if (needle.isEmpty()) {
        return matches;
    }
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = haystack.indexOf(needle, from, Qt::CaseSensitive);
        if (at < 0) {
            break;
        }
        matches.append(at);
        if (!all) {
            break;
        }
        from = at + needle.size();
    }
    return matches;
}

QString withReplacements(const QString& text, const QList<qsizetype>& matches, qsizetype findLength,
                         const QString& replacement) {
    QString result;
    result.reserve(text.size() + matches.size() * (replacement.size() - findLength));
    qsizetype copied = 0;
    for (const qsizetype at : matches) {
        result += QStringView(text).sliced(copied, at - copied);
        result += replacement;
        copied = at + findLength;
    }
    result += QStringView(text).sliced(copied);
    return result;
}

}  // namespace

QString upperCasedInPlace(const QString& text, const QLocale& locale) {
    // Few distinct characters occur in SQL, so each is cased only once.
    QHash<char32_t, QString> cased;
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        const char32_t code = codePointAt(text, i);
        auto known = cased.constFind(code);
        if (known == cased.constEnd()) {
            known = cased.insert(code, upperCaseOf(code, locale));
        }
        result += *known;
        i += QChar::requiresSurrogates(code) ? 2 : 1;
    }
    return result;
}

ReplaceResult replaceInText(const QString& text, const QString& find, const QString& replacement,
                            ReplaceOptions options, const QLocale& locale) {
    ReplaceResult result;
    if (options.ignoreCase) {
        result.matches = findMatches(upperCasedInPlace(text, locale),
                                     upperCasedInPlace(find, locale), options.replaceAll);
    } else if (options.replaceAll) {
        result.matches = findMatches(text, find, true);
    }
    result.text = withReplacements(text, result.matches, find.size(), replacement);
    if (!options.replaceAll && !result.matches.isEmpty()) {
        result.selection = TextRange{result.matches.constFirst(), replacement.size()};
    }
    return result;
}

}  // namespace tarnwell
