#include "dataaccess/ValueText.h"

#include <QDate>
#include <QTime>
#include <QVarLengthArray>

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

// --- CompiledDateTimeFormat ------------------------------------------------------

namespace {

qsizetype repeatCount(const QString& format, qsizetype at) {
    qsizetype count = 1;
    while (at + count < format.size() && format.at(at + count) == format.at(at)) {
        ++count;
    }
    return count;
}

// Quoted text: '' stands for one quote, inside quotes and out.
QString quotedText(const QString& format, qsizetype& at) {
    ++at;
    if (at < format.size() && format.at(at) == u'\'') {
        ++at;
        return QStringLiteral("'");
    }
    QString text;
    while (at < format.size()) {
        if (format.at(at) == u'\'') {
            if (at + 1 < format.size() && format.at(at + 1) == u'\'') {
                text += u'\'';
                at += 2;
                continue;
            }
            ++at;
            break;
        }
        text += format.at(at++);
    }
    return text;
}

// A value's text is put together here and handed to its QString at once.
using TextBuffer = QVarLengthArray<char16_t, 96>;

void appendNumber(TextBuffer& out, int value, int width) {
    char16_t digits[8];
    int count = 0;
    do {
        digits[count++] = static_cast<char16_t>(u'0' + value % 10);
        value /= 10;
    } while (value > 0 && count < 8);
    for (int pad = count; pad < width; ++pad) {
        out.append(u'0');
    }
    while (count > 0) {
        out.append(digits[--count]);
    }
}

void appendText(TextBuffer& out, const QString& text) {
    out.append(reinterpret_cast<const char16_t*>(text.utf16()), text.size());
}

}  // namespace

std::optional<CompiledDateTimeFormat> CompiledDateTimeFormat::compile(const QString& format, For what,
                                                                      const QLocale& locale) {
    if (locale.zeroDigit() != QStringLiteral("0")) {
        return std::nullopt;
    }
    CompiledDateTimeFormat compiled;
    const auto literal = [&compiled](const QString& text) {
        if (!compiled.pieces_.empty() && compiled.pieces_.back().part == Part::Literal) {
            compiled.pieces_.back().literal += text;
        } else {
            compiled.pieces_.push_back({Part::Literal, text});
        }
    };
    const auto part = [&compiled](Part kind) { compiled.pieces_.push_back({kind, QString()}); };
    bool twelveHour = false;
    for (qsizetype at = 0; at < format.size();) {
        const QChar c = format.at(at);
        if (c == u'\'') {
            literal(quotedText(format, at));
            continue;
        }
        qsizetype repeat = repeatCount(format, at);
        const char16_t letter = c.unicode();
        if (what == For::Date && letter == u'y') {
            repeat = repeat >= 4 ? 4 : repeat >= 2 ? 2 : 1;
            repeat == 1 ? literal(QStringLiteral("y")) : part(repeat == 4 ? Part::Year4 : Part::Year2);
        } else if (what == For::Date && (letter == u'M' || letter == u'd')) {
            repeat = std::min<qsizetype>(repeat, 4);
            static constexpr Part months[] = {Part::Month, Part::Month2, Part::MonthShort, Part::MonthLong};
            static constexpr Part days[] = {Part::Day, Part::Day2, Part::DayShort, Part::DayLong};
            part((letter == u'M' ? months : days)[repeat - 1]);
        } else if (what == For::Time && (letter == u'h' || letter == u'H' || letter == u'm' || letter == u's')) {
            repeat = std::min<qsizetype>(repeat, 2);
            const bool two = repeat == 2;
            switch (letter) {
                case u'h': part(two ? Part::Hour2 : Part::Hour); break;
                case u'H': part(two ? Part::Hour24_2 : Part::Hour24); break;
                case u'm': part(two ? Part::Minute2 : Part::Minute); break;
                default: part(two ? Part::Second2 : Part::Second); break;
            }
        } else if (what == For::Time && (letter == u'a' || letter == u'A')) {
            const char16_t partner = letter == u'a' ? u'p' : u'P';
            repeat = at + 1 < format.size() && format.at(at + 1) == QChar(partner) ? 2 : 1;
            part(letter == u'a' ? Part::AmPmLower : Part::AmPmUpper);
            twelveHour = true;
        } else if (what == For::Time && (letter == u'z' || letter == u't')) {
            return std::nullopt;
        } else {
            literal(QString(repeat, c));
        }
        at += repeat;
    }
    // The names as the locale writes them, taken from the locale itself.
    for (int month = 1; month <= 12; ++month) {
        const QDate date(2001, month, 1);
        compiled.monthShort_[month - 1] = locale.toString(date, QStringLiteral("MMM"));
        compiled.monthLong_[month - 1] = locale.toString(date, QStringLiteral("MMMM"));
    }
    for (int day = 1; day <= 7; ++day) {
        const QDate monday(2001, 1, 1);  // a Monday
        compiled.dayShort_[day - 1] = locale.toString(monday.addDays(day - 1), QStringLiteral("ddd"));
        compiled.dayLong_[day - 1] = locale.toString(monday.addDays(day - 1), QStringLiteral("dddd"));
    }
    compiled.amUpper_ = locale.toString(QTime(1, 0), QStringLiteral("AP"));
    compiled.pmUpper_ = locale.toString(QTime(13, 0), QStringLiteral("AP"));
    compiled.amLower_ = locale.toString(QTime(1, 0), QStringLiteral("ap"));
    compiled.pmLower_ = locale.toString(QTime(13, 0), QStringLiteral("ap"));
    compiled.twelveHour_ = twelveHour;

    // Whatever this reading of the format missed shows here; QLocale then
    // does the work.
    if (what == For::Date) {
        for (int month = 1; month <= 12; ++month) {
            for (const int year : {987, 2001, 2024}) {
                const QDate date(year, month, month * 2 - 1);
                QString text;
                compiled.append(text, date);
                if (text != locale.toString(date, format)) {
                    return std::nullopt;
                }
            }
        }
    } else {
        for (const QTime time : {QTime(0, 0, 0), QTime(0, 5, 9), QTime(1, 2, 3), QTime(11, 59, 59),
                                 QTime(12, 0, 0), QTime(12, 30, 45), QTime(13, 7, 8), QTime(23, 59, 59)}) {
            QString text;
            compiled.append(text, time);
            if (text != locale.toString(time, format)) {
                return std::nullopt;
            }
        }
    }
    return compiled;
}

void CompiledDateTimeFormat::append(QString& out, QDate date) const { appendParts(out, date, QTime()); }

void CompiledDateTimeFormat::append(QString& out, QTime time) const { appendParts(out, QDate(), time); }

void CompiledDateTimeFormat::appendParts(QString& text, QDate date, QTime time) const {
    TextBuffer out;
    // QDate works out each part from its day number anew: once is enough.
    int year = 0;
    int month = 0;
    int day = 0;
    date.getDate(&year, &month, &day);
    int hour12 = time.hour() % 12;
    if (hour12 == 0) {
        hour12 = 12;
    }
    const int hour = twelveHour_ ? hour12 : time.hour();
    for (const Piece& piece : pieces_) {
        switch (piece.part) {
            case Part::Literal: appendText(out, piece.literal); break;
            case Part::Day: appendNumber(out, day, 1); break;
            case Part::Day2: appendNumber(out, day, 2); break;
            case Part::DayShort: appendText(out, dayShort_[date.dayOfWeek() - 1]); break;
            case Part::DayLong: appendText(out, dayLong_[date.dayOfWeek() - 1]); break;
            case Part::Month: appendNumber(out, month, 1); break;
            case Part::Month2: appendNumber(out, month, 2); break;
            case Part::MonthShort: appendText(out, monthShort_[month - 1]); break;
            case Part::MonthLong: appendText(out, monthLong_[month - 1]); break;
            case Part::Year2: appendNumber(out, year % 100, 2); break;
            case Part::Year4: appendNumber(out, year, 4); break;
            case Part::Hour: appendNumber(out, hour, 1); break;
            case Part::Hour2: appendNumber(out, hour, 2); break;
            case Part::Hour24: appendNumber(out, time.hour(), 1); break;
            case Part::Hour24_2: appendNumber(out, time.hour(), 2); break;
            case Part::Minute: appendNumber(out, time.minute(), 1); break;
            case Part::Minute2: appendNumber(out, time.minute(), 2); break;
            case Part::Second: appendNumber(out, time.second(), 1); break;
            case Part::Second2: appendNumber(out, time.second(), 2); break;
            case Part::AmPmUpper: appendText(out, time.hour() < 12 ? amUpper_ : pmUpper_); break;
            case Part::AmPmLower: appendText(out, time.hour() < 12 ? amLower_ : pmLower_); break;
        }
    }
    text.append(QStringView(out.constData(), out.size()));
}

// --- ValueFormatter ----------------------------------------------------------------

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
      pointIsDot_(decimalPoint_ == QStringLiteral(".")),
      compiledDate_(CompiledDateTimeFormat::compile(dateFormat_, CompiledDateTimeFormat::For::Date, locale)),
      compiledTime_(CompiledDateTimeFormat::compile(timeFormat_, CompiledDateTimeFormat::For::Time, locale)) {}

QString ValueFormatter::formatted(QDate date) const {
    if (!compiledDate_) {
        return locale_.toString(date, dateFormat_);
    }
    QString text;
    text.reserve(dateFormat_.size() + 8);
    compiledDate_->append(text, date);
    return text;
}

void ValueFormatter::appendFormatted(QString& out, QTime time) const {
    if (compiledTime_) {
        compiledTime_->append(out, time);
    } else {
        out += locale_.toString(time, timeFormat_);
    }
}

QString ValueFormatter::dateText(std::string_view bytes) const {
    const QDate date = bytes.size() == 10 ? parseDate(bytes) : QDate();
    return date.isValid() ? formatted(date) : asStored(bytes);
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
    QString text;
    appendFormatted(text, time);
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
    QString text = formatted(date);
    text += u' ';
    appendFormatted(text, time);
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
