#include "dataaccess/mariadb/MariaDbTypes.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "dataaccess/CanonicalText.h"

namespace tarnwell::db::mariadb {

namespace {

// The character set number of binary data (BINARY, VARBINARY, BLOB, BIT,
// numbers); text columns carry the session's utf8mb4 instead.
constexpr unsigned kBinaryCharset = 63;
// Up to this precision a decimal fits the BCD kind; beyond it, FMTBcd.
constexpr int kLargestBcdPrecision = 18;
// Where the time of day starts in "YYYY-MM-DD HH:MM:SS".
constexpr std::size_t kTimeOfDayAt = 11;

bool isBinary(const MYSQL_FIELD& field) { return field.charsetnr == kBinaryCharset; }
bool isUnsigned(const MYSQL_FIELD& field) { return (field.flags & UNSIGNED_FLAG) != 0; }

// The server gives a column's width in bytes of the result's character set:
// four a character in utf8mb4.
int lengthInCharacters(const MYSQL_FIELD& field) {
    unsigned long bytesPerCharacter = 1;
    if (!isBinary(field)) {
        if (const MARIADB_CHARSET_INFO* charset = mariadb_get_charset_by_nr(field.charsetnr)) {
            bytesPerCharacter = std::max(1u, charset->char_maxlen);
        }
    }
    const unsigned long characters = field.length / bytesPerCharacter;
    return characters > static_cast<unsigned long>(INT32_MAX) ? 0 : static_cast<int>(characters);
}

// The name the server gives a type of its own beyond the classic ones
// ("uuid", "inet6", "point"), or a format ("json"); "" for the others and
// for servers that do not say (MySQL).
std::string_view fieldAttribute(const MYSQL_FIELD& field, mariadb_field_attr_t which) {
    MARIADB_CONST_STRING attribute{};
    if (mariadb_field_attr(&attribute, &field, which) != 0 || attribute.str == nullptr) {
        return {};
    }
    return std::string_view(attribute.str, attribute.length);
}

Column decimalColumn(std::string name, const MYSQL_FIELD& field) {
    // The width counts the digits, the point when there is a fraction and the
    // sign unless the column is unsigned.
    const int decimals = static_cast<int>(field.decimals);
    const int overhead = (decimals > 0 ? 1 : 0) + (isUnsigned(field) ? 0 : 1);
    const int precision = std::max(0, static_cast<int>(field.length) - overhead);
    const FieldKind kind = precision > kLargestBcdPrecision ? FieldKind::FMTBcd : FieldKind::BCD;
    return Column{std::move(name), kind, decimals, precision};
}

Column textColumn(std::string name, const MYSQL_FIELD& field) {
    const std::string_view dataType = fieldAttribute(field, MARIADB_FIELD_ATTR_DATA_TYPE_NAME);
    const std::string_view format = fieldAttribute(field, MARIADB_FIELD_ATTR_FORMAT_NAME);
    const int length = lengthInCharacters(field);
    if (dataType == "uuid") {
        return Column{std::move(name), FieldKind::Guid, 0, 0};
    }
    if (format == "json") {
        return Column{std::move(name), FieldKind::Memo, 0, 0};
    }
    if (isBinary(field)) {
        const FieldKind kind = field.type == MYSQL_TYPE_STRING ? FieldKind::Bytes : FieldKind::VarBytes;
        return Column{std::move(name), kind, length, 0};
    }
    // ENUM, SET and the address types travel as CHAR, but their values are
    // never padded to the width.
    const bool fixed = field.type == MYSQL_TYPE_STRING && (field.flags & (ENUM_FLAG | SET_FLAG)) == 0 &&
                       dataType.empty();
    return Column{std::move(name), fixed ? FieldKind::FixedChar : FieldKind::String, length, 0};
}

FieldKind integerKind(const MYSQL_FIELD& field) {
    const bool unsignedField = isUnsigned(field);
    switch (field.type) {
    case MYSQL_TYPE_TINY: return FieldKind::Smallint;
    case MYSQL_TYPE_SHORT: return unsignedField ? FieldKind::Word : FieldKind::Smallint;
    case MYSQL_TYPE_INT24: return FieldKind::Integer;
    case MYSQL_TYPE_LONG: return unsignedField ? FieldKind::LargeInt : FieldKind::Integer;
    default: return FieldKind::LargeInt;
    }
}

// A BIT(n) value: n bits in big-endian bytes, at most eight of them.
std::uint64_t bitValue(std::string_view bytes) {
    std::uint64_t value = 0;
    for (const char byte : bytes) {
        value = (value << 8) | static_cast<unsigned char>(byte);
    }
    return value;
}

template <typename Number>
bool appendCanonicalFloating(RowStore& rows, std::string_view text) {
    Number value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || stop != end) {
        return false;
    }
    NumberBuffer buffer;
    if constexpr (sizeof(Number) == sizeof(float)) {
        rows.append(canonicalSingle(value, buffer));
    } else {
        rows.append(canonicalDouble(value, buffer));
    }
    return true;
}

bool appendCanonicalTime(RowStore& rows, std::string_view text, std::size_t at, std::string& scratch) {
    if (text.size() < at || !timeNeedsCanonicalizing(text, at)) {
        return false;
    }
    scratch.assign(text);
    if (!canonicalizeTimeAt(scratch, at)) {
        return false;
    }
    rows.append(scratch);
    return true;
}

}  // namespace

Column describeColumn(const MYSQL_FIELD& field) {
    std::string name(field.name, field.name_length);
    auto column = [&](FieldKind kind, int size = 0) { return Column{std::move(name), kind, size, 0}; };
    switch (field.type) {
    case MYSQL_TYPE_TINY:
    case MYSQL_TYPE_SHORT:
    case MYSQL_TYPE_INT24:
    case MYSQL_TYPE_LONG:
    case MYSQL_TYPE_LONGLONG: return column(integerKind(field));
    case MYSQL_TYPE_YEAR: return column(FieldKind::Smallint);
    case MYSQL_TYPE_FLOAT:
    case MYSQL_TYPE_DOUBLE: return column(FieldKind::Float);
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL: return decimalColumn(std::move(name), field);
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_NEWDATE: return column(FieldKind::Date);
    case MYSQL_TYPE_TIME: return column(FieldKind::Time);
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_TIMESTAMP: return column(FieldKind::DateTime);
    case MYSQL_TYPE_BIT: return column(field.length == 1 ? FieldKind::Boolean : FieldKind::LargeInt);
    case MYSQL_TYPE_STRING:
    case MYSQL_TYPE_VAR_STRING:
    case MYSQL_TYPE_VARCHAR:
    case MYSQL_TYPE_ENUM:
    case MYSQL_TYPE_SET: return textColumn(std::move(name), field);
    case MYSQL_TYPE_TINY_BLOB:
    case MYSQL_TYPE_MEDIUM_BLOB:
    case MYSQL_TYPE_LONG_BLOB:
    case MYSQL_TYPE_BLOB: return column(isBinary(field) ? FieldKind::Blob : FieldKind::Memo);
    case MYSQL_TYPE_GEOMETRY: return column(FieldKind::Blob);
    // JSON (as MySQL sends it, in the binary character set), a column of
    // NULLs only, and anything newer: its text.
    default: return column(FieldKind::Memo);
    }
}

CellConversion cellConversion(const MYSQL_FIELD& field) {
    switch (field.type) {
    case MYSQL_TYPE_FLOAT: return CellConversion::Single;
    case MYSQL_TYPE_DOUBLE: return CellConversion::Double;
    case MYSQL_TYPE_TIME: return CellConversion::Time;
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_TIMESTAMP: return CellConversion::DateTime;
    case MYSQL_TYPE_BIT: return field.length == 1 ? CellConversion::BitFlag : CellConversion::BitNumber;
    default: return CellConversion::AsIs;
    }
}

void appendCell(RowStore& rows, CellConversion conversion, std::string_view text, std::string& scratch) {
    switch (conversion) {
    case CellConversion::AsIs:
        break;
    case CellConversion::Double:
        if (appendCanonicalFloating<double>(rows, text)) {
            return;
        }
        break;
    case CellConversion::Single:
        if (appendCanonicalFloating<float>(rows, text)) {
            return;
        }
        break;
    case CellConversion::Time:
        if (appendCanonicalTime(rows, text, 0, scratch)) {
            return;
        }
        break;
    case CellConversion::DateTime:
        if (appendCanonicalTime(rows, text, kTimeOfDayAt, scratch)) {
            return;
        }
        break;
    case CellConversion::BitFlag:
        rows.append(bitValue(text) != 0 ? "1" : "0");
        return;
    case CellConversion::BitNumber: {
        char digits[24];
        const auto written = std::to_chars(digits, digits + sizeof digits, bitValue(text));
        rows.append(std::string_view(digits, static_cast<std::size_t>(written.ptr - digits)));
        return;
    }
    }
    rows.append(text);
}

}  // namespace tarnwell::db::mariadb
