#pragma once

#include <string>

#include "dataaccess/FieldKind.h"

namespace tarnwell::db {

// One column of a result set as a backend describes it.
//
// Cells travel and are held as bytes in a canonical text form per kind, the
// same whatever the engine, so that everything above the backends formats
// values in one place:
//   Smallint, Integer, Word, AutoInc, LargeInt    decimal digits, "-" sign
//   Float                                         the fewest digits that read
//                                                 back as the same value, "."
//                                                 as separator, plain for
//                                                 decimal exponents -4 to 14
//                                                 (-4 to 5 for single
//                                                 precision), else "1.5e+20",
//                                                 "2.5e-07"; "Infinity",
//                                                 "-Infinity", "NaN"
//   BCD, FMTBcd, Currency                         "-123.45" ("." separator, no
//                                                 grouping, the digits the
//                                                 engine keeps)
//   Boolean                                       "1" or "0"
//   Date                                          "YYYY-MM-DD"
//   Time                                          "HH:MM:SS", then "." and the
//                                                 fraction of a second without
//                                                 trailing zeros ("12:00:00.125",
//                                                 never ".125000", nothing when
//                                                 the fraction is zero)
//   DateTime, TimeStamp                           "YYYY-MM-DD " and the Time
//                                                 form (a time zone offset,
//                                                 where the engine gives one,
//                                                 follows as is)
//   Blob, Bytes, VarBytes, Graphic                the raw bytes
//   Guid                                          8-4-4-4-12 hexadecimal digits
//                                                 in lower case
//   everything else (text, ...)                   the engine's text, UTF-8 where
//                                                 the engine gives UTF-8; SQLite
//                                                 TEXT is passed on byte for byte
// A value the engine gives that does not fit its kind's form (a date beyond
// the year 9999, PostgreSQL's "infinity", a fraction finer than microseconds,
// an SQLite INTEGER column holding text) is kept as the engine's text.
// CanonicalText.h holds the conversions that several backends share.
struct Column {
    std::string name;
    FieldKind kind = FieldKind::Unknown;
    // Declared size: characters for String, FixedChar and WideString
    // (varchar(20) -> 20, 0 when unbounded); bytes for Bytes and VarBytes;
    // the scale for BCD, FMTBcd and Currency (numeric(12,2) -> 2); 0 otherwise.
    int size = 0;
    // Declared precision of numeric columns (numeric(12,2) -> 12), else 0.
    int precision = 0;
};

}  // namespace tarnwell::db
