#include "dataaccess/odbc/OdbcTypes.h"

#include "dataaccess/CanonicalText.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <string_view>

namespace tarnwell::db::odbc {

namespace {

// Drivers say "no limit" with 0, SQL_NO_TOTAL or a size beyond reason.
int declaredSize(SQLULEN size) {
    return size >= static_cast<SQLULEN>(INT_MAX) ? 0 : static_cast<int>(size);
}

std::string lowerAscii(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return lower;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// True when text[pos..] starts with the pattern, 'd' standing for a digit.
bool matchesShape(std::string_view text, std::size_t pos, std::string_view shape) {
    if (pos + shape.size() > text.size()) {
        return false;
    }
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const char c = text[pos + i];
        if (shape[i] == 'd' ? !isDigit(c) : c != shape[i]) {
            return false;
        }
    }
    return true;
}

Column kindFromSqlType(const DescribedColumn& described) {
    Column column;
    column.name = described.name;
    const int size = declaredSize(described.columnSize);
    switch (described.sqlType) {
    case SQL_INTEGER:
        column.kind = FieldKind::Integer;
        break;
    case SQL_SMALLINT:
    case SQL_TINYINT:
        column.kind = FieldKind::Smallint;
        break;
    case SQL_BIGINT:
        column.kind = FieldKind::LargeInt;
        break;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
        column.kind = FieldKind::Float;
        break;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
        column.precision = size;
        column.size = described.decimalDigits < 0 ? 0 : described.decimalDigits;
        // More digits than a 64-bit integer holds need the wide decimal kind.
        column.kind = size > 18 ? FieldKind::FMTBcd : FieldKind::BCD;
        break;
    case SQL_CHAR:
    case SQL_WCHAR:
        column.kind = FieldKind::FixedChar;
        column.size = size;
        break;
    case SQL_VARCHAR:
    case SQL_WVARCHAR:
        column.kind = FieldKind::String;
        column.size = size;
        break;
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR:
        column.kind = FieldKind::Memo;
        break;
    case SQL_BINARY:
        column.kind = FieldKind::Bytes;
        column.size = size;
        break;
    case SQL_VARBINARY:
        column.kind = FieldKind::VarBytes;
        column.size = size;
        break;
    case SQL_LONGVARBINARY:
        column.kind = FieldKind::Blob;
        break;
    case SQL_TYPE_DATE:
    case SQL_DATE:
        column.kind = FieldKind::Date;
        break;
    case SQL_TYPE_TIME:
    case SQL_TIME:
        column.kind = FieldKind::Time;
        break;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
        column.kind = FieldKind::DateTime;
        break;
    case SQL_BIT:
        column.kind = FieldKind::Boolean;
        break;
    case SQL_GUID:
        column.kind = FieldKind::Guid;
        break;
    default:
        if (described.sqlType >= SQL_INTERVAL_YEAR && described.sqlType <= SQL_INTERVAL_MINUTE_TO_SECOND) {
            // Intervals come as the driver's text, like a string.
            column.kind = FieldKind::String;
        }
        break;
    }
    return column;
}

void refineByTypeName(const std::string& typeName, Column& column) {
    const std::string name = lowerAscii(typeName);
    const bool binary = column.kind == FieldKind::Bytes || column.kind == FieldKind::VarBytes;
    const bool text = column.kind == FieldKind::String || column.kind == FieldKind::FixedChar;
    if (name == "blob" && binary) {
        column.kind = FieldKind::Blob;
        column.size = 0;
    } else if ((name == "bool" || name == "boolean") && (text || column.kind == FieldKind::Smallint)) {
        column.kind = FieldKind::Boolean;
        column.size = 0;
    } else if (name == "money" && (column.kind == FieldKind::Float || text)) {
        column.kind = FieldKind::Currency;
        column.size = 2;
        column.precision = 0;
    } else if (name == "uuid" && text) {
        column.kind = FieldKind::Guid;
        column.size = 0;
    }
}

// The driver's text of a number, read and written again in canonical form
// (drivers spell infinities their own way, "Inf" or "inf", and print as many
// digits as they like).
void canonicalFloat(SQLSMALLINT sqlType, std::string& text) {
    const char* first = text.data();
    const char* last = text.data() + text.size();
    NumberBuffer buffer;
    std::string_view canonical;
    if (sqlType == SQL_REAL) {
        float value = 0;
        const auto parsed = std::from_chars(first, last, value);
        if (parsed.ec != std::errc() || parsed.ptr != last) {
            return;
        }
        canonical = canonicalSingle(value, buffer);
    } else {
        double value = 0;
        const auto parsed = std::from_chars(first, last, value);
        if (parsed.ec != std::errc() || parsed.ptr != last) {
            return;
        }
        canonical = canonicalDouble(value, buffer);
    }
    text.assign(canonical);
}

void canonicalBoolean(std::string& text) {
    const std::string lower = lowerAscii(text);
    if (lower == "1" || lower == "t" || lower == "true") {
        text = "1";
    } else if (lower == "0" || lower == "f" || lower == "false") {
        text = "0";
    }
}

void canonicalDateTime(std::string& text) {
    if (!matchesShape(text, 0, "dddd-dd-dd") || text.size() < 11 || (text[10] != ' ' && text[10] != 'T')) {
        return;
    }
    std::string candidate = text;
    candidate[10] = ' ';
    if (canonicalizeTimeAt(candidate, 11)) {
        text = std::move(candidate);
    }
}

void canonicalTime(std::string& text) {
    std::string candidate = text;
    if (canonicalizeTimeAt(candidate, 0)) {
        text = std::move(candidate);
    }
}

// Money as the server prints it in the C locale ("$1,234.56", "-$0.50").
void canonicalCurrency(std::string& text) {
    std::string result;
    std::size_t pos = 0;
    if (pos < text.size() && text[pos] == '-') {
        result += '-';
        ++pos;
    }
    if (pos < text.size() && text[pos] == '$') {
        ++pos;
    }
    bool digits = false;
    for (; pos < text.size() && (isDigit(text[pos]) || text[pos] == ','); ++pos) {
        if (text[pos] != ',') {
            result += text[pos];
            digits = true;
        }
    }
    if (pos < text.size() && text[pos] == '.') {
        result += '.';
        for (++pos; pos < text.size() && isDigit(text[pos]); ++pos) {
            result += text[pos];
        }
    }
    if (digits && pos == text.size()) {
        text = std::move(result);
    }
}

}  // namespace

Column columnFor(const DescribedColumn& described) {
    Column column = kindFromSqlType(described);
    refineByTypeName(described.typeName, column);
    return column;
}

bool readsAsBinary(FieldKind kind) noexcept {
    switch (kind) {
    case FieldKind::Bytes:
    case FieldKind::VarBytes:
    case FieldKind::Blob:
    case FieldKind::Graphic:
        return true;
    default:
        return false;
    }
}

void canonicalizeCell(FieldKind kind, SQLSMALLINT sqlType, std::string& text) {
    switch (kind) {
    case FieldKind::Float:
        canonicalFloat(sqlType, text);
        break;
    case FieldKind::Boolean:
        canonicalBoolean(text);
        break;
    case FieldKind::Time:
        canonicalTime(text);
        break;
    case FieldKind::DateTime:
    case FieldKind::TimeStamp:
        canonicalDateTime(text);
        break;
    case FieldKind::Currency:
        canonicalCurrency(text);
        break;
    case FieldKind::Guid:
        lowerCaseGuid(text);
        break;
    default:
        break;
    }
}

}  // namespace tarnwell::db::odbc
