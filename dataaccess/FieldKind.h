#pragma once

#include <cstdint>
#include <string_view>

namespace tarnwell::db {

// Field kind codes. The numeric values are fixed: the field list shows their
// names and the spreadsheet export tests the codes themselves.
enum class FieldKind : std::uint8_t {
    Unknown = 0,
    String = 1,
    Smallint = 2,
    Integer = 3,
    Word = 4,
    Boolean = 5,
    Float = 6,
    Currency = 7,
    BCD = 8,
    Date = 9,
    Time = 10,
    DateTime = 11,
    Bytes = 12,
    VarBytes = 13,
    AutoInc = 14,
    Blob = 15,
    Memo = 16,
    Graphic = 17,
    FmtMemo = 18,
    ParadoxOle = 19,
    DBaseOle = 20,
    TypedBinary = 21,
    Cursor = 22,
    FixedChar = 23,
    WideString = 24,
    LargeInt = 25,
    ADT = 26,
    Array = 27,
    Reference = 28,
    DataSet = 29,
    OraBlob = 30,
    OraClob = 31,
    Variant = 32,
    Interface = 33,
    IDispatch = 34,
    Guid = 35,
    TimeStamp = 36,
    FMTBcd = 37,
};

inline constexpr int kLastFieldKind = 37;

// Display name of a kind code ("Unknown" ... "Guid", then "TimeStamp" and
// "FMTBcd"); codes outside 0..37 give "Unknown".
std::string_view fieldKindName(FieldKind kind) noexcept;
std::string_view fieldKindName(int code) noexcept;

// Kinds whose values are numbers (integers, floats, currency, fixed-point).
bool isNumberKind(FieldKind kind) noexcept;

}  // namespace tarnwell::db
