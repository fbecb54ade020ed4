#include "dataaccess/ValueText.h"

#include <QDate>
#include <QTime>

namespace tarnwell::db {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int digitsValue(std::string_view text, std::size_t at, std::size_t count, bool& ok) {
    int value = 0;
    if (at + count > text.size()) {
        ok = false;
        return 0;
    }
    for (std::size_t i = at; i < at + count; ++i) {
        if (!isDigit(text[i])) {
            ok = false;
            return 0;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// "YYYY-MM-DD" at the start of text.
QDate parseDate(std::string_view text) {
    bool ok = text.size() >= 10 && text[4] == '-' && text[7] == '-';
    const int year = digitsValue(text, 0, 4, ok);
    const int month = digitsValue(text, 5, 2, ok);
    const int day = digitsValue(text, 8, 2, ok);
    return ok ? QDate(year, month, day) : QDate();
}

// "HH:MM:SS[.f...]" at the start of text; `used` gets its length.
QTime parseTime(std::string_view text, std::size_t& used) {
    bool ok = text.size() >= 8 && text[2] == ':' && text[5] == ':';
    const int hour = digitsValue(text, 0, 2, ok);
    const int minute = digitsValue(text, 3, 2, ok);
    const int second = digitsValue(text, 6, 2, ok);
    if (!ok) {
        return QTime();
    }
    used = 8;
    int millisecond = 0;
    if (used < text.size() && text[used] == '.') {
        std::size_t digits = 0;
        ++used;
        while (used < text.size() && isDigit(text[used])) {
            if (digits < 3) {
                millisecond = millisecond * 10 + (text[used] - '0');
            }
            ++digits;
            ++used;
        }
        if (digits == 0) {
            return QTime();
        }
        for (; digits < 3; ++digits) {
            millisecond *= 10;
        }
    }
    return QTime(hour, minute, second, millisecond);
}

// A time zone offset as engines write it: "Z", "+08", "+08:00", "-0330".
bool isZoneOffset(std::string_view text) {
    if (text == "Z") {
        return true;
    }
    if (text.size() < 3 || (text[0] != '+' && text[0] != '-') || !isDigit(text[1]) || !isDigit(text[2])) {
        return false;
    }
    std::string_view rest = text.substr(3);
    if (!rest.empty() && rest[0] == ':') {
        rest.remove_prefix(1);
    }
    if (rest.empty()) {
        return true;
    }
    if (rest.size() >= 2 && isDigit(rest[0]) && isDigit(rest[1])) {
        rest.remove_prefix(2);
        if (rest.empty()) {
            return true;
        }
        // PostgreSQL may add seconds to an offset: "+05:53:28".
        return rest.size() == 3 && rest[0] == ':' && isDigit(rest[1]) && isDigit(rest[2]);
    }
    return false;
}

bool isNumberText(std::string_view text) {
    if (text == "NaN" || text == "Infinity" || text == "-Infinity") {
        return true;
    }
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        ++i;
    }
    std::size_t digits = 0;
    while (i < text.size() && isDigit(text[i])) {
        ++i;
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) {
        return false;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
            ++i;
        }
        std::size_t exponentDigits = 0;
        while (i < text.size() && isDigit(text[i])) {
            ++i;
            ++exponentDigits;
        }
        if (exponentDigits == 0) {
            return false;
        }
    }
    return i == text.size();
}

QString asStored(std::string_view bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString binaryText(std::string_view bytes) {
    if (bytes.size() > ValueFormatter::kLargestBinaryShown) {
        return QStringLiteral("(BLOB %1 bytes)").arg(static_cast<qulonglong>(bytes.size()));
    }
    static constexpr char16_t kHex[] = u"0123456789abcdef";
    QString text(static_cast<qsizetype>(2 + 2 * bytes.size()), Qt::Uninitialized);
    QChar* out = text.data();
    *out++ = u'\\';
    *out++ = u'x';
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        *out++ = QChar(kHex[byte >> 4]);
        *out++ = QChar(kHex[byte & 0x0f]);
    }
    return text;
}

bool isBinaryKind(FieldKind kind) {
    return kind == FieldKind::Blob || kind == FieldKind::Bytes || kind == FieldKind::VarBytes ||
           kind == FieldKind::Graphic;
}

}  // namespace

QString timeFormatWithoutZone(const QString& longTimeFormat) {
    QString out;
    out.reserve(longTimeFormat.size() + 2);
    bool quoted = false;
    for (qsizetype i = 0; i < longTimeFormat.size(); ++i) {
        const QChar c = longTimeFormat[i];
        if (c == u'\'') {
            quoted = !quoted;
            out += c;
            continue;
        }
        if (!quoted && (c == u't' || c == u'B')) {
            while (i + 1 < longTimeFormat.size() && longTimeFormat[i + 1] == c) {
                ++i;
            }
            if (c == u'B') {
                out += QStringLiteral("AP");
            }
            continue;
        }
        out += c;
    }
    out.replace(QStringLiteral("[]"), QString());
    out.replace(QStringLiteral("()"), QString());
    return out.simplified();
}

ValueFormatter::ValueFormatter(const QLocale& locale)
    : locale_(locale),
      dateFormat_(locale.dateFormat(QLocale::ShortFormat)),
      timeFormat_(timeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat))),
      decimalPoint_(locale.decimalPoint()),
      pointIsDot_(decimalPoint_ == QStringLiteral(".")) {}

QString ValueFormatter::dateText(std::string_view bytes) const {
    const QDate date = bytes.size() == 10 ? parseDate(bytes) : QDate();
    return date.isValid() ? locale_.toString(date, dateFormat_) : asStored(bytes);
}

QString ValueFormatter::timeText(std::string_view bytes) const {
    std::size_t used = 0;
    const QTime time = parseTime(bytes, used);
    if (!time.isValid()) {
        return asStored(bytes);
    }
    const std::string_view zone = bytes.substr(used);
    if (!zone.empty() && !isZoneOffset(zone)) {
        return asStored(bytes);
    }
    QString text = locale_.toString(time, timeFormat_);
    if (!zone.empty()) {
        text += u' ';
        text += asStored(zone);
    }
    return text;
}

QString ValueFormatter::dateTimeText(std::string_view bytes) const {
    const QDate date = parseDate(bytes);
    if (!date.isValid() || bytes.size() < 19 || bytes[10] != ' ') {
        return asStored(bytes);
    }
    std::size_t used = 0;
    const QTime time = parseTime(bytes.substr(11), used);
    if (!time.isValid()) {
        return asStored(bytes);
    }
    const std::string_view zone = bytes.substr(11 + used);
    if (!zone.empty() && !isZoneOffset(zone)) {
        return asStored(bytes);
    }
    QString text = locale_.toString(date, dateFormat_);
    text += u' ';
    text += locale_.toString(time, timeFormat_);
    if (!zone.empty()) {
        text += u' ';
        text += asStored(zone);
    }
    return text;
}

QString ValueFormatter::numberText(std::string_view bytes) const {
    QString text = asStored(bytes);
    if (!pointIsDot_ && isNumberText(bytes)) {
        text.replace(u'.', decimalPoint_);
    }
    return text;
}

QString ValueFormatter::text(FieldKind kind, const RowStore::Cell& cell) const {
    if (cell.isNull) {
        return QString();
    }
    const std::string_view bytes = cell.bytes;
    switch (kind) {
        case FieldKind::Date:
            return dateText(bytes);
        case FieldKind::Time:
            return timeText(bytes);
        case FieldKind::DateTime:
        case FieldKind::TimeStamp:
            return dateTimeText(bytes);
        case FieldKind::Float:
        case FieldKind::BCD:
        case FieldKind::FMTBcd:
        case FieldKind::Currency:
            return numberText(bytes);
        case FieldKind::Boolean:
            if (bytes == "1") return QStringLiteral("True");
            if (bytes == "0") return QStringLiteral("False");
            return asStored(bytes);
        default:
            return isBinaryKind(kind) ? binaryText(bytes) : asStored(bytes);
    }
}

bool ValueFormatter::showsAsStored(FieldKind kind) const noexcept {
    switch (kind) {
        case FieldKind::Date:
        case FieldKind::Time:
        case FieldKind::DateTime:
        case FieldKind::TimeStamp:
        case FieldKind::Boolean:
            return false;
        case FieldKind::Float:
        case FieldKind::BCD:
        case FieldKind::FMTBcd:
        case FieldKind::Currency:
            return pointIsDot_;
        default:
            return !isBinaryKind(kind);
    }
}

QString valueText(FieldKind kind, const RowStore::Cell& cell) {
    static const ValueFormatter systemFormatter;
    return systemFormatter.text(kind, cell);
}

}  // namespace tarnwell::db
