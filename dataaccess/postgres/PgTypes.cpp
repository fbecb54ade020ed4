#include "dataaccess/postgres/PgTypes.h"

#include <algorithm>
#include <cstring>

namespace tarnwell::db::pg {

namespace {

// Built-in type OIDs. They are fixed in the server's catalogue since long
// before any version libpq 15 talks to; libpq ships no header naming them.
constexpr Oid kBool = 16;
constexpr Oid kBytea = 17;
constexpr Oid kChar = 18;  // the one-byte "char"
constexpr Oid kName = 19;
constexpr Oid kInt8 = 20;
constexpr Oid kInt2 = 21;
constexpr Oid kInt4 = 23;
constexpr Oid kText = 25;
constexpr Oid kOid = 26;
constexpr Oid kFloat4 = 700;
constexpr Oid kFloat8 = 701;
constexpr Oid kMoney = 790;
constexpr Oid kBpchar = 1042;
constexpr Oid kVarchar = 1043;
constexpr Oid kDate = 1082;
constexpr Oid kTime = 1083;
constexpr Oid kTimestamp = 1114;
constexpr Oid kTimestamptz = 1184;
constexpr Oid kTimetz = 1266;
constexpr Oid kNumeric = 1700;
constexpr Oid kUuid = 2950;

// A type modifier carries a four-byte header the server adds to every one.
constexpr int kTypeModifierHeader = 4;
// Identifiers (type name) hold at most this many bytes.
constexpr int kNameLength = 63;
// Up to this precision a numeric fits the BCD kind; beyond it, FMTBcd.
constexpr int kLargestBcdPrecision = 18;
// Digits after the point of money under lc_monetary=C.
constexpr int kMoneyScale = 2;

int declaredLength(int typeModifier) {
    return typeModifier >= kTypeModifierHeader ? typeModifier - kTypeModifierHeader : 0;
}

Column numericColumn(std::string name, int typeModifier) {
    Column column{std::move(name), FieldKind::FMTBcd, 0, 0};
    if (typeModifier < kTypeModifierHeader) {
        return column;  // numeric without (p,s): any precision, any scale
    }
    const int packed = typeModifier - kTypeModifierHeader;
    const int precision = (packed >> 16) & 0xffff;
    // The scale is an 11-bit signed field (numeric(5,-2) is allowed).
    const int scale = ((packed & 0x7ff) ^ 0x400) - 0x400;
    column.precision = precision;
    column.size = std::max(scale, 0);
    column.kind = precision > kLargestBcdPrecision ? FieldKind::FMTBcd : FieldKind::BCD;
    return column;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "\x00ff..." to bytes; false when the text is not of that form.
bool decodeHexBytea(std::string_view text, std::string& out) {
    if (text.size() < 2 || text[0] != '\\' || text[1] != 'x' || text.size() % 2 != 0) {
        return false;
    }
    out.resize((text.size() - 2) / 2);
    const char* in = text.data() + 2;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int high = hexValue(in[2 * i]);
        const int low = hexValue(in[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        out[i] = static_cast<char>((high << 4) | low);
    }
    return true;
}

// The escape form, should a session have switched bytea_output back to it.
bool decodeEscapedBytea(std::string_view text, std::string& out) {
    std::string terminated(text);
    std::size_t length = 0;
    unsigned char* bytes =
        PQunescapeBytea(reinterpret_cast<const unsigned char*>(terminated.c_str()), &length);
    if (bytes == nullptr) {
        return false;
    }
    out.assign(reinterpret_cast<const char*>(bytes), length);
    PQfreemem(bytes);
    return true;
}

// "$1,234.56", "-$1,234.56" (lc_monetary=C) to "1234.56", "-1234.56". Any
// other form (a session that changed lc_monetary) is not touched.
bool plainMoney(std::string_view text, std::string& out) {
    out.clear();
    std::size_t i = 0;
    if (i < text.size() && text[i] == '-') {
        out.push_back('-');
        ++i;
    }
    if (i < text.size() && text[i] == '$') {
        ++i;
    }
    bool digits = false;
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            out.push_back(c);
            digits = true;
        } else if (c == ',' && digits && !point) {
            continue;
        } else if (c == '.' && digits && !point) {
            out.push_back(c);
            point = true;
        } else {
            return false;
        }
    }
    return digits;
}

}  // namespace

Column describeColumn(std::string name, Oid type, int typeModifier) {
    auto column = [&](FieldKind kind, int size = 0) {
        return Column{std::move(name), kind, size, 0};
    };
    switch (type) {
    case kInt2: return column(FieldKind::Smallint);
    case kInt4: return column(FieldKind::Integer);
    case kOid: return column(FieldKind::Integer);
    case kInt8: return column(FieldKind::LargeInt);
    case kFloat4:
    case kFloat8: return column(FieldKind::Float);
    case kMoney: return column(FieldKind::Currency, kMoneyScale);
    case kNumeric: return numericColumn(std::move(name), typeModifier);
    case kBpchar: return column(FieldKind::FixedChar, declaredLength(typeModifier));
    case kChar: return column(FieldKind::FixedChar, 1);
    // varchar without a length is bounded by nothing but the server's field
    // limit: a String of size 0, as the column contract spells "unbounded".
    case kVarchar: return column(FieldKind::String, declaredLength(typeModifier));
    case kName: return column(FieldKind::String, kNameLength);
    case kBytea: return column(FieldKind::Blob);
    case kDate: return column(FieldKind::Date);
    case kTime:
    case kTimetz: return column(FieldKind::Time);
    case kTimestamp:
    case kTimestamptz: return column(FieldKind::DateTime);
    case kBool: return column(FieldKind::Boolean);
    case kUuid: return column(FieldKind::Guid);
    // text, json, jsonb, xml, arrays, ranges, interval, network and geometric
    // types, enums and anything user-defined: long or structured text.
    case kText:
    default: return column(FieldKind::Memo);
    }
}

CellConversion cellConversion(Oid type) {
    switch (type) {
    case kBool: return CellConversion::Boolean;
    case kBytea: return CellConversion::Bytea;
    case kMoney: return CellConversion::Money;
    default: return CellConversion::AsIs;
    }
}

void appendCell(RowStore& rows, CellConversion conversion, std::string_view text,
                std::string& scratch) {
    switch (conversion) {
    case CellConversion::AsIs:
        break;
    case CellConversion::Boolean:
        if (text == "t") {
            rows.append("1");
            return;
        }
        if (text == "f") {
            rows.append("0");
            return;
        }
        break;
    case CellConversion::Bytea:
        if (decodeHexBytea(text, scratch) || decodeEscapedBytea(text, scratch)) {
            rows.append(scratch);
            return;
        }
        break;
    case CellConversion::Money:
        if (plainMoney(text, scratch)) {
            rows.append(scratch);
            return;
        }
        break;
    }
    rows.append(text);
}

}  // namespace tarnwell::db::pg
