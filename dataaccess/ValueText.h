#pragma once

#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>
#include <QVarLengthArray>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dataaccess/FieldKind.h"
#include "dataaccess/RowStore.h"

namespace tarnwell::db {

// A locale's date or time format made ready once, so that each value costs no
// reading of the format and no questions to the locale: the same text as
// QLocale::toString(), for the formats it can make (digits 0 to 9, no time
// zone or fraction); compile() gives nothing for any other. The text comes as
// UTF-16 or, for writers of UTF-8, as UTF-8 without a detour through UTF-16.
class CompiledDateTimeFormat {
public:
    enum class For { Date, Time };
    // A date or a time of day by its fields, which make a valid QDate or
    // QTime; only those of the format's kind are read.
    struct Parts {
        int year = 1, month = 1, day = 1;
        int hour = 0, minute = 0, second = 0, millisecond = 0;
    };
    using Utf16 = QVarLengthArray<char16_t, 96>;

    static std::optional<CompiledDateTimeFormat> compile(const QString& format, For what, const QLocale& locale);

    void append(Utf16& out, const Parts& parts) const;
    // The UTF-8 text from `out` on, which has room for maxUtf8Bytes(); the
    // end of it.
    char* write(char* out, const Parts& parts) const;
    std::size_t maxUtf8Bytes() const noexcept { return maxUtf8Bytes_; }

private:
    enum class Part : std::uint8_t {
        Literal, Day, Day2, DayShort, DayLong, Month, Month2, MonthShort, MonthLong, Year2, Year4,
        Hour, Hour2, Hour24, Hour24_2, Minute, Minute2, Second, Second2, AmPmUpper, AmPmLower,
    };
    // A locale's text in both forms, made once.
    struct Text {
        QString utf16;
        std::string utf8;
    };
    struct Piece {
        Part part;
        Text literal;
    };

    template <typename Out>
    void appendParts(Out& out, const Parts& parts) const;

    std::vector<Piece> pieces_;
    std::array<Text, 12> monthShort_, monthLong_;
    std::array<Text, 7> dayShort_, dayLong_;
    Text amUpper_, pmUpper_, amLower_, pmLower_;
    std::size_t maxUtf8Bytes_ = 0;
    bool twelveHour_ = false;
};

// Turns a cell's canonical text (see Column.h) into the text users see, in
// the conventions of one locale:
//   Date                 the locale's short date format
//   Time                 its long time format without the time zone part
//   DateTime, TimeStamp  short date, a blank, long time; a time zone offset
//                        that the engine gave follows after a blank
//   Float, BCD, FMTBcd,  the locale's decimal separator, no grouping, the
//   Currency             digits as stored (no rounding, no currency sign)
//   Boolean              "True" or "False"
//   Blob, Bytes,         "\x" and two lower-case hex digits per byte, as psql
//   VarBytes, Graphic    shows them; a value above kLargestBinaryShown bytes
//                        shows as "(BLOB n bytes)" instead
//   everything else      the bytes read as UTF-8, invalid bytes replaced
// NULL gives an empty (null) string. A value that does not read as its kind
// (a date beyond the year 9999, text in an integer column) is shown as stored.
// Fractions of a second are not shown: the long time format has none.
//
// Formatting happens only when asked; nothing is kept per cell. A formatter
// is cheap to copy and may be used from several threads at once.
class ValueFormatter {
public:
    static constexpr std::size_t kLargestBinaryShown = 64 * 1024;

    explicit ValueFormatter(const QLocale& locale = QLocale::system());

    QString text(FieldKind kind, const RowStore::Cell& cell) const;
    // The same text as text() of a non-null cell, as UTF-8 straight into a
    // writer's memory, for the kinds whose text is made here (dates, times,
    // booleans, numbers in a locale whose decimal separator is not a point):
    // utf8Room() is the room it may take (0 for a kind it never writes), and
    // writeUtf8() writes the text from `out` on and gives its end, or nullptr
    // for a value that text() has to make (what it wrote then means nothing).
    // What writeUtf8() writes never holds a CR or a tab.
    // A `memo`, one for each field and used with one formatter only, keeps
    // the day last written: a field of timestamps often holds the same day
    // record after record.
    class Utf8Memo {
        friend class ValueFormatter;
        std::string day_;   // the value's first ten bytes, a valid date
        std::string text_;  // its text
    };
    std::size_t utf8Room(FieldKind kind, std::size_t size) const noexcept;
    char* writeUtf8(FieldKind kind, std::string_view bytes, char* out, Utf8Memo* memo = nullptr) const;
    // True when text() gives every value of `kind` as its bytes read as UTF-8
    // and nothing more, so that a writer of UTF-8 may take the bytes as they
    // are (where they are valid UTF-8).
    bool showsAsStored(FieldKind kind) const noexcept {
        const auto bit = static_cast<unsigned>(kind);
        return bit < 64 ? ((storedKinds_ >> bit) & 1u) != 0 : kindShowsAsStored(kind);
    }

    const QLocale& locale() const noexcept { return locale_; }
    // The Qt date and time formats in use (the time format already without
    // its time zone part).
    const QString& dateFormat() const noexcept { return dateFormat_; }
    const QString& timeFormat() const noexcept { return timeFormat_; }

private:
    // The text of a date, time or date-and-time value into `out` (UTF-16 or
    // UTF-8); false, with nothing appended, when the value does not read as
    // its kind.
    template <typename Out>
    bool appendDateTime(FieldKind kind, std::string_view bytes, Out& out, Utf8Memo* memo) const;
    template <typename Out>
    void appendDate(Out& out, const CompiledDateTimeFormat::Parts& date) const;
    template <typename Out>
    void appendTime(Out& out, const CompiledDateTimeFormat::Parts& time) const;
    QString numberText(std::string_view bytes) const;
    bool kindShowsAsStored(FieldKind kind) const noexcept;

    QLocale locale_;
    QString dateFormat_;
    QString timeFormat_;
    QString decimalPoint_;
    std::string decimalPointUtf8_;
    bool pointIsDot_ = true;
    std::optional<CompiledDateTimeFormat> compiledDate_;
    std::optional<CompiledDateTimeFormat> compiledTime_;
    std::uint64_t storedKinds_ = 0;  // bit k: showsAsStored(FieldKind k)
};

// A locale's long time format made fit to show a time of day: the time zone
// part ("t", with the brackets or blank around it) removed, and the CLDR day
// period "B", which Qt does not know, replaced by Qt's AM/PM marker.
QString timeFormatWithoutZone(const QString& longTimeFormat);

// The text of one cell in the system locale's conventions.
QString valueText(FieldKind kind, const RowStore::Cell& cell);

}  // namespace tarnwell::db
