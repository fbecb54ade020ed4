#include "dataaccess/ValueText.h"

#include <QDate>
#include <QTime>

#include <algorithm>
#include <cstring>
#include <type_traits>

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

using Parts = CompiledDateTimeFormat::Parts;

// "YYYY-MM-DD" at the start of text, a valid QDate.
bool parseDate(std::string_view text, Parts& parts) {
    bool ok = text.size() >= 10 && text[4] == '-' && text[7] == '-';
    parts.year = digitsValue(text, 0, 4, ok);
    parts.month = digitsValue(text, 5, 2, ok);
    parts.day = digitsValue(text, 8, 2, ok);
    return ok && QDate::isValid(parts.year, parts.month, parts.day);
}

// "HH:MM:SS[.f...]" at the start of text, a valid QTime; `used` gets its
// length.
bool parseTime(std::string_view text, Parts& parts, std::size_t& used) {
    bool ok = text.size() >= 8 && text[2] == ':' && text[5] == ':';
    parts.hour = digitsValue(text, 0, 2, ok);
    parts.minute = digitsValue(text, 3, 2, ok);
    parts.second = digitsValue(text, 6, 2, ok);
    if (!ok) {
        return false;
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
            return false;
        }
        for (; digits < 3; ++digits) {
            millisecond *= 10;
        }
    }
    parts.millisecond = millisecond;
    return QTime::isValid(parts.hour, parts.minute, parts.second, parts.millisecond);
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

// A value's text is put together in one of these and handed on at once: its
// QString, or the bytes of a UTF-8 writer.
using Utf16 = CompiledDateTimeFormat::Utf16;

// UTF-8 into memory whose room the caller has made sure of.
struct Utf8Out {
    char* at;
};

void appendChar(Utf16& out, char c) { out.append(static_cast<char16_t>(c)); }
void appendChar(Utf8Out& out, char c) { *out.at++ = c; }

// Text known to be ASCII (digits, signs, a time zone offset).
void appendAscii(Utf16& out, std::string_view text) {
    for (const char c : text) {
        out.append(static_cast<char16_t>(c));
    }
}
void appendAscii(Utf8Out& out, std::string_view text) {
    if (text.size() == 1) {
        *out.at++ = text.front();  // the usual separator of a format's fields
        return;
    }
    std::memcpy(out.at, text.data(), text.size());
    out.at += text.size();
}

void appendQString(Utf16& out, const QString& text) {
    out.append(reinterpret_cast<const char16_t*>(text.utf16()), text.size());
}

// At most this many digits, which is more than any field of a date or time
// has.
constexpr std::size_t kMostDigits = 8;

template <typename Out>
void appendNumber(Out& out, int value, int width) {
    // The common widths of days, months, hours, minutes, seconds and years.
    if (value >= 0 && value < 100 && width <= 2) {
        if (value >= 10 || width == 2) {
            appendChar(out, static_cast<char>('0' + value / 10));
        }
        appendChar(out, static_cast<char>('0' + value % 10));
        return;
    }
    if (value >= 1000 && value < 10000 && width == 4) {
        appendChar(out, static_cast<char>('0' + value / 1000));
        appendChar(out, static_cast<char>('0' + value / 100 % 10));
        appendChar(out, static_cast<char>('0' + value / 10 % 10));
        appendChar(out, static_cast<char>('0' + value % 10));
        return;
    }
    char digits[12];
    char* const end = digits + sizeof digits;
    char* first = end;
    do {
        *--first = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0 && static_cast<std::size_t>(end - first) < kMostDigits);
    while (end - first < width) {
        *--first = '0';
    }
    appendAscii(out, std::string_view(first, static_cast<std::size_t>(end - first)));
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
            compiled.pieces_.back().literal.utf16 += text;
        } else {
            compiled.pieces_.push_back({Part::Literal, {text, {}}});
        }
    };
    const auto part = [&compiled](Part kind) { compiled.pieces_.push_back({kind, {}}); };
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
    for (Piece& piece : compiled.pieces_) {
        piece.literal.utf8 = piece.literal.utf16.toStdString();
    }
    const auto longest = [](const auto& texts) {
        std::size_t most = 0;
        for (const Text& text : texts) {
            most = std::max(most, text.utf8.size());
        }
        return most;
    };
    // The names as the locale writes them, taken from the locale itself.
    const auto text = [](const QString& utf16) { return Text{utf16, utf16.toStdString()}; };
    for (int month = 1; month <= 12; ++month) {
        const QDate date(2001, month, 1);
        compiled.monthShort_[month - 1] = text(locale.toString(date, QStringLiteral("MMM")));
        compiled.monthLong_[month - 1] = text(locale.toString(date, QStringLiteral("MMMM")));
    }
    for (int day = 1; day <= 7; ++day) {
        const QDate monday(2001, 1, 1);  // a Monday
        compiled.dayShort_[day - 1] = text(locale.toString(monday.addDays(day - 1), QStringLiteral("ddd")));
        compiled.dayLong_[day - 1] = text(locale.toString(monday.addDays(day - 1), QStringLiteral("dddd")));
    }
    compiled.amUpper_ = text(locale.toString(QTime(1, 0), QStringLiteral("AP")));
    compiled.pmUpper_ = text(locale.toString(QTime(13, 0), QStringLiteral("AP")));
    compiled.amLower_ = text(locale.toString(QTime(1, 0), QStringLiteral("ap")));
    compiled.pmLower_ = text(locale.toString(QTime(13, 0), QStringLiteral("ap")));
    compiled.twelveHour_ = twelveHour;
    // Writers of UTF-8 count on text without CR or tab (which they would
    // have to replace); a locale that writes them is left to QLocale.
    const auto breaksOrTabs = [](const Text& text) {
        return text.utf8.find_first_of("\r\t") != std::string::npos;
    };
    for (const auto* names : {&compiled.monthShort_, &compiled.monthLong_}) {
        if (std::any_of(names->begin(), names->end(), breaksOrTabs)) {
            return std::nullopt;
        }
    }
    for (const auto* names : {&compiled.dayShort_, &compiled.dayLong_}) {
        if (std::any_of(names->begin(), names->end(), breaksOrTabs)) {
            return std::nullopt;
        }
    }
    for (const Text* text : {&compiled.amUpper_, &compiled.pmUpper_, &compiled.amLower_, &compiled.pmLower_}) {
        if (breaksOrTabs(*text)) {
            return std::nullopt;
        }
    }
    for (const Piece& piece : compiled.pieces_) {
        if (breaksOrTabs(piece.literal)) {
            return std::nullopt;
        }
    }
    for (const Piece& piece : compiled.pieces_) {
        switch (piece.part) {
            case Part::Literal: compiled.maxUtf8Bytes_ += piece.literal.utf8.size(); break;
            case Part::DayShort: compiled.maxUtf8Bytes_ += longest(compiled.dayShort_); break;
            case Part::DayLong: compiled.maxUtf8Bytes_ += longest(compiled.dayLong_); break;
            case Part::MonthShort: compiled.maxUtf8Bytes_ += longest(compiled.monthShort_); break;
            case Part::MonthLong: compiled.maxUtf8Bytes_ += longest(compiled.monthLong_); break;
            case Part::AmPmUpper:
                compiled.maxUtf8Bytes_ += std::max(compiled.amUpper_.utf8.size(), compiled.pmUpper_.utf8.size());
                break;
            case Part::AmPmLower:
                compiled.maxUtf8Bytes_ += std::max(compiled.amLower_.utf8.size(), compiled.pmLower_.utf8.size());
                break;
            default: compiled.maxUtf8Bytes_ += kMostDigits; break;
        }
    }

    // Whatever this reading of the format missed shows here; QLocale then
    // does the work. Both forms are held to it.
    const auto matches = [&compiled](const Parts& parts, const QString& expected) {
        Utf16 utf16;
        compiled.append(utf16, parts);
        std::string utf8(compiled.maxUtf8Bytes(), '\0');
        utf8.resize(static_cast<std::size_t>(compiled.write(utf8.data(), parts) - utf8.data()));
        return QStringView(utf16.constData(), utf16.size()) == expected && utf8 == expected.toStdString();
    };
    if (what == For::Date) {
        for (int month = 1; month <= 12; ++month) {
            for (const int year : {987, 2001, 2024}) {
                const QDate date(year, month, month * 2 - 1);
                if (!matches(Parts{year, month, month * 2 - 1}, locale.toString(date, format))) {
                    return std::nullopt;
                }
            }
        }
    } else {
        for (const QTime time : {QTime(0, 0, 0), QTime(0, 5, 9), QTime(1, 2, 3), QTime(11, 59, 59),
                                 QTime(12, 0, 0), QTime(12, 30, 45), QTime(13, 7, 8), QTime(23, 59, 59)}) {
            Parts parts;
            parts.hour = time.hour();
            parts.minute = time.minute();
            parts.second = time.second();
            if (!matches(parts, locale.toString(time, format))) {
                return std::nullopt;
            }
        }
    }
    return compiled;
}

void CompiledDateTimeFormat::append(Utf16& out, const Parts& parts) const { appendParts(out, parts); }

char* CompiledDateTimeFormat::write(char* out, const Parts& parts) const {
    Utf8Out utf8{out};
    appendParts(utf8, parts);
    return utf8.at;
}

template <typename Out>
void CompiledDateTimeFormat::appendParts(Out& out, const Parts& parts) const {
    const auto localText = [&out](const Text& text) {
        if constexpr (std::is_same_v<Out, Utf8Out>) {
            appendAscii(out, text.utf8);  // as bytes: any UTF-8 will do
        } else {
            appendQString(out, text.utf16);
        }
    };
    const auto dayOfWeek = [&parts] { return QDate(parts.year, parts.month, parts.day).dayOfWeek(); };
    int hour12 = parts.hour % 12;
    if (hour12 == 0) {
        hour12 = 12;
    }
    const int hour = twelveHour_ ? hour12 : parts.hour;
    for (const Piece& piece : pieces_) {
        switch (piece.part) {
            case Part::Literal: localText(piece.literal); break;
            case Part::Day: appendNumber(out, parts.day, 1); break;
            case Part::Day2: appendNumber(out, parts.day, 2); break;
            case Part::DayShort: localText(dayShort_[dayOfWeek() - 1]); break;
            case Part::DayLong: localText(dayLong_[dayOfWeek() - 1]); break;
            case Part::Month: appendNumber(out, parts.month, 1); break;
            case Part::Month2: appendNumber(out, parts.month, 2); break;
            case Part::MonthShort: localText(monthShort_[parts.month - 1]); break;
            case Part::MonthLong: localText(monthLong_[parts.month - 1]); break;
            case Part::Year2: appendNumber(out, parts.year % 100, 2); break;
            case Part::Year4: appendNumber(out, parts.year, 4); break;
            case Part::Hour: appendNumber(out, hour, 1); break;
            case Part::Hour2: appendNumber(out, hour, 2); break;
            case Part::Hour24: appendNumber(out, parts.hour, 1); break;
            case Part::Hour24_2: appendNumber(out, parts.hour, 2); break;
            case Part::Minute: appendNumber(out, parts.minute, 1); break;
            case Part::Minute2: appendNumber(out, parts.minute, 2); break;
            case Part::Second: appendNumber(out, parts.second, 1); break;
            case Part::Second2: appendNumber(out, parts.second, 2); break;
            case Part::AmPmUpper: localText(parts.hour < 12 ? amUpper_ : pmUpper_); break;
            case Part::AmPmLower: localText(parts.hour < 12 ? amLower_ : pmLower_); break;
        }
    }
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
      decimalPointUtf8_(decimalPoint_.toStdString()),
      pointIsDot_(decimalPoint_ == QStringLiteral(".")),
      compiledDate_(CompiledDateTimeFormat::compile(dateFormat_, CompiledDateTimeFormat::For::Date, locale)),
      compiledTime_(CompiledDateTimeFormat::compile(timeFormat_, CompiledDateTimeFormat::For::Time, locale)) {
    for (unsigned kind = 0; kind < 64; ++kind) {
        if (kindShowsAsStored(static_cast<FieldKind>(kind))) {
            storedKinds_ |= std::uint64_t{1} << kind;
        }
    }
}

template <typename Out>
void ValueFormatter::appendDate(Out& out, const Parts& date) const {
    if constexpr (std::is_same_v<Out, Utf8Out>) {
        out.at = compiledDate_->write(out.at, date);  // only called with a compiled format
    } else if (compiledDate_) {
        compiledDate_->append(out, date);
    } else {
        appendQString(out, locale_.toString(QDate(date.year, date.month, date.day), dateFormat_));
    }
}

template <typename Out>
void ValueFormatter::appendTime(Out& out, const Parts& time) const {
    if constexpr (std::is_same_v<Out, Utf8Out>) {
        out.at = compiledTime_->write(out.at, time);
    } else if (compiledTime_) {
        compiledTime_->append(out, time);
    } else {
        appendQString(out, locale_.toString(QTime(time.hour, time.minute, time.second, time.millisecond),
                                            timeFormat_));
    }
}

template <typename Out>
bool ValueFormatter::appendDateTime(FieldKind kind, std::string_view bytes, Out& out, Utf8Memo* memo) const {
    constexpr std::size_t kDateBytes = 10;  // "YYYY-MM-DD"
    Parts date;
    Parts time;
    std::size_t used = 0;
    // The day of the value before, known to be a valid date, needs neither
    // reading nor writing again.
    const bool sameDay = memo != nullptr && kind != FieldKind::Time && !memo->day_.empty() &&
                         bytes.substr(0, kDateBytes) == memo->day_;
    const auto readDate = [&] { return sameDay || parseDate(bytes, date); };
    const auto writeDate = [&] {
        if constexpr (std::is_same_v<Out, Utf8Out>) {
            if (sameDay) {
                appendAscii(out, memo->text_);
                return;
            }
            char* const start = out.at;
            appendDate(out, date);
            if (memo != nullptr) {
                memo->day_.assign(bytes.substr(0, kDateBytes));
                memo->text_.assign(start, out.at);
            }
        } else {
            appendDate(out, date);
        }
    };
    if (kind == FieldKind::Date) {
        if (bytes.size() != kDateBytes || !readDate()) {
            return false;
        }
        writeDate();
        return true;
    }
    std::string_view zone;
    if (kind == FieldKind::Time) {
        if (!parseTime(bytes, time, used)) {
            return false;
        }
        zone = bytes.substr(used);
    } else {
        if (bytes.size() < 19 || !readDate() || bytes[kDateBytes] != ' ' ||
            !parseTime(bytes.substr(kDateBytes + 1), time, used)) {
            return false;
        }
        zone = bytes.substr(kDateBytes + 1 + used);
    }
    if (!zone.empty() && !isZoneOffset(zone)) {
        return false;
    }
    if (kind != FieldKind::Time) {
        writeDate();
        appendChar(out, ' ');
    }
    appendTime(out, time);
    if (!zone.empty()) {
        appendChar(out, ' ');
        appendAscii(out, zone);
    }
    return true;
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
        case FieldKind::Time:
        case FieldKind::DateTime:
        case FieldKind::TimeStamp: {
            Utf16 out;
            if (!appendDateTime(kind, bytes, out, nullptr)) {
                return asStored(bytes);
            }
            return QStringView(out.constData(), out.size()).toString();
        }
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

std::size_t ValueFormatter::utf8Room(FieldKind kind, std::size_t size) const noexcept {
    // A time zone offset is copied from the value, so its size bounds it.
    switch (kind) {
        case FieldKind::Date:
            return compiledDate_ ? compiledDate_->maxUtf8Bytes() : 0;
        case FieldKind::Time:
            return compiledTime_ ? compiledTime_->maxUtf8Bytes() + 1 + size : 0;
        case FieldKind::DateTime:
        case FieldKind::TimeStamp:
            return compiledDate_ && compiledTime_
                       ? compiledDate_->maxUtf8Bytes() + 1 + compiledTime_->maxUtf8Bytes() + 1 + size
                       : 0;
        case FieldKind::Float:
        case FieldKind::BCD:
        case FieldKind::FMTBcd:
        case FieldKind::Currency:
            // A separator of CR or tab is for text() (and the writers' replacement).
            return pointIsDot_ || decimalPointUtf8_.find_first_of("\r\t") != std::string::npos
                       ? 0
                       : size * std::max<std::size_t>(1, decimalPointUtf8_.size());
        case FieldKind::Boolean:
            return 5;  // "False"
        default:
            return 0;
    }
}

char* ValueFormatter::writeUtf8(FieldKind kind, std::string_view bytes, char* out, Utf8Memo* memo) const {
    if (utf8Room(kind, bytes.size()) == 0) {
        return nullptr;
    }
    Utf8Out utf8{out};
    switch (kind) {
        case FieldKind::Date:
        case FieldKind::Time:
        case FieldKind::DateTime:
        case FieldKind::TimeStamp:
            return appendDateTime(kind, bytes, utf8, memo) ? utf8.at : nullptr;
        case FieldKind::Boolean:
            if (bytes == "1") {
                appendAscii(utf8, "True");
                return utf8.at;
            }
            if (bytes == "0") {
                appendAscii(utf8, "False");
                return utf8.at;
            }
            return nullptr;
        default:  // a number, with a decimal separator other than the point
            if (!isNumberText(bytes)) {
                return nullptr;
            }
            for (const char c : bytes) {
                if (c == '.') {
                    appendAscii(utf8, decimalPointUtf8_);
                } else {
                    appendChar(utf8, c);
                }
            }
            return utf8.at;
    }
}

bool ValueFormatter::kindShowsAsStored(FieldKind kind) const noexcept {
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
