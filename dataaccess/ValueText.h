#pragma once

#include <QLocale>
#include <QString>

#include <cstddef>

#include "dataaccess/FieldKind.h"
#include "dataaccess/RowStore.h"

namespace tarnwell::db {

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
    // True when text() gives every value of `kind` as its bytes read as UTF-8
    // and nothing more, so that a writer of UTF-8 may take the bytes as they
    // are (where they are valid UTF-8).
    bool showsAsStored(FieldKind kind) const noexcept;

    const QLocale& locale() const noexcept { return locale_; }
    // The Qt date and time formats in use (the time format already without
    // its time zone part).
    const QString& dateFormat() const noexcept { return dateFormat_; }
    const QString& timeFormat() const noexcept { return timeFormat_; }

private:
    QString dateText(std::string_view bytes) const;
    QString timeText(std::string_view bytes) const;
    QString dateTimeText(std::string_view bytes) const;
    QString numberText(std::string_view bytes) const;

    QLocale locale_;
    QString dateFormat_;
    QString timeFormat_;
    QString decimalPoint_;
    bool pointIsDot_ = true;
};

// A locale's long time format made fit to show a time of day: the time zone
// part ("t", with the brackets or blank around it) removed, and the CLDR day
// period "B", which Qt does not know, replaced by Qt's AM/PM marker.
QString timeFormatWithoutZone(const QString& longTimeFormat);

// The text of one cell in the system locale's conventions.
QString valueText(FieldKind kind, const RowStore::Cell& cell);

}  // namespace tarnwell::db
