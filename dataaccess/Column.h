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
//   Float                                         shortest text that reads back
//                                                 exactly, "." as separator,
//                                                 "Infinity", "-Infinity", "NaN"
//   BCD, FMTBcd, Currency                         "-123.45" ("." separator, no grouping)
//   Boolean                                       "1" or "0"
//   Date                                          "YYYY-MM-DD"
//   Time                                          "HH:MM:SS" or "HH:MM:SS.ffffff"
//   DateTime, TimeStamp                           "YYYY-MM-DD HH:MM:SS[.ffffff]"
//                                                 (a time zone offset, where the
//                                                 engine gives one, follows as is)
//   Blob, Bytes, VarBytes, Graphic                the raw bytes
//   everything else (text, Guid, ...)             the engine's text, UTF-8 where
//                                                 the engine gives UTF-8; SQLite
//                                                 TEXT is passed on byte for byte
// A value the engine gives that does not fit its kind's form (a date beyond
// the year 9999, an SQLite INTEGER column holding text) is kept as the
// engine's text.
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
