#include "dataaccess/sqlite/SqliteTypes.h"

#include <array>
#include <charconv>
#include <string>

#include "dataaccess/TextTools.h"

namespace tarnwell::db {

namespace {

struct Declaration {
    std::string name;  // upper case, single blanks between words
    int args[2] = {-1, -1};
    int argCount = 0;
};

// "nvarchar (50)" -> {"NVARCHAR", {50}}; "NUMERIC(10, 2)" -> {"NUMERIC", {10, 2}}.
Declaration parse(std::string_view text) {
    Declaration d;
    std::size_t i = 0;
    bool pendingBlank = false;
    for (; i < text.size() && text[i] != '('; ++i) {
        if (isBlank(text[i])) {
            pendingBlank = !d.name.empty();
            continue;
        }
        if (pendingBlank) {
            d.name += ' ';
            pendingBlank = false;
        }
        d.name += upperAscii(text[i]);
    }
    if (i < text.size()) {
        ++i;  // '('
        while (i < text.size() && d.argCount < 2) {
            while (i < text.size() && (isBlank(text[i]) || text[i] == '+')) {
                ++i;
            }
            int value = 0;
            const auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), value);
            if (ec != std::errc()) {
                break;
            }
            d.args[d.argCount++] = value;
            i = static_cast<std::size_t>(end - text.data());
            while (i < text.size() && isBlank(text[i])) {
                ++i;
            }
            if (i >= text.size() || text[i] != ',') {
                break;
            }
            ++i;
        }
    }
    return d;
}

template <std::size_t N>
bool isOneOf(const std::string& name, const std::array<std::string_view, N>& names) {
    for (std::string_view candidate : names) {
        if (name == candidate) {
            return true;
        }
    }
    return false;
}

bool contains(const std::string& name, std::string_view part) { return name.find(part) != std::string::npos; }

Column make(FieldKind kind, int size = 0, int precision = 0) {
    Column c;
    c.kind = kind;
    c.size = size < 0 ? 0 : size;
    c.precision = precision < 0 ? 0 : precision;
    return c;
}

Column numeric(const Declaration& d) {
    const int precision = d.argCount >= 1 ? d.args[0] : 0;
    const int scale = d.argCount >= 2 ? d.args[1] : 0;
    return make(precision > 18 ? FieldKind::FMTBcd : FieldKind::BCD, scale, precision);
}

}  // namespace

Column sqliteDeclaredColumn(std::string_view declaredType) {
    const Declaration d = parse(declaredType);
    const std::string& n = d.name;
    const int first = d.argCount >= 1 ? d.args[0] : 0;
    if (n.empty()) {
        return make(FieldKind::Unknown);
    }

    static constexpr std::array<std::string_view, 4> kInteger = {"INT", "INTEGER", "MEDIUMINT", "INT4"};
    static constexpr std::array<std::string_view, 3> kSmallint = {"SMALLINT", "TINYINT", "INT2"};
    static constexpr std::array<std::string_view, 4> kLargeInt = {"BIGINT", "INT8", "UNSIGNED BIG INT",
                                                                  "LONG"};
    static constexpr std::array<std::string_view, 7> kVarchar = {
        "VARCHAR",      "CHARACTER VARYING", "VARYING CHARACTER", "CHAR VARYING",
        "VARCHAR2",     "STRING",            "VARYING CHAR"};
    static constexpr std::array<std::string_view, 5> kWide = {
        "NVARCHAR", "NATIONAL VARCHAR", "NATIONAL CHARACTER VARYING", "NVARCHAR2", "NCHAR VARYING"};
    static constexpr std::array<std::string_view, 5> kFixed = {"CHAR", "CHARACTER", "NCHAR",
                                                               "NATIVE CHARACTER", "NATIONAL CHARACTER"};
    static constexpr std::array<std::string_view, 7> kMemo = {"TEXT",     "CLOB",       "NTEXT", "LONGTEXT",
                                                              "MEDIUMTEXT", "TINYTEXT", "JSON"};
    static constexpr std::array<std::string_view, 7> kFloat = {
        "REAL", "DOUBLE", "DOUBLE PRECISION", "FLOAT", "FLOAT4", "FLOAT8", "BINARY_DOUBLE"};
    static constexpr std::array<std::string_view, 4> kNumeric = {"NUMERIC", "DECIMAL", "DEC", "NUMBER"};
    static constexpr std::array<std::string_view, 3> kMoney = {"MONEY", "SMALLMONEY", "CURRENCY"};
    static constexpr std::array<std::string_view, 2> kTime = {"TIME", "TIME WITH TIME ZONE"};
    static constexpr std::array<std::string_view, 7> kDateTime = {
        "DATETIME",          "TIMESTAMP",     "TIMESTAMPTZ",  "TIMESTAMP WITH TIME ZONE",
        "TIMESTAMP WITHOUT TIME ZONE", "SMALLDATETIME", "DATETIME2"};
    static constexpr std::array<std::string_view, 2> kBoolean = {"BOOLEAN", "BOOL"};
    static constexpr std::array<std::string_view, 6> kBlob = {"BLOB",  "BYTEA",    "IMAGE",
                                                              "LONGBLOB", "MEDIUMBLOB", "VARBINARY"};
    static constexpr std::array<std::string_view, 3> kGuid = {"UUID", "GUID", "UNIQUEIDENTIFIER"};

    if (isOneOf(n, kInteger)) return make(FieldKind::Integer);
    if (isOneOf(n, kSmallint)) return make(FieldKind::Smallint);
    if (isOneOf(n, kLargeInt)) return make(FieldKind::LargeInt);
    if (isOneOf(n, kWide)) return make(FieldKind::WideString, first);
    if (isOneOf(n, kVarchar)) return make(FieldKind::String, first);
    if (isOneOf(n, kFixed)) return make(FieldKind::FixedChar, d.argCount >= 1 ? first : 1);
    if (isOneOf(n, kMemo)) return make(FieldKind::Memo);
    if (isOneOf(n, kFloat)) return make(FieldKind::Float);
    if (isOneOf(n, kNumeric)) return numeric(d);
    if (isOneOf(n, kMoney)) return make(FieldKind::Currency, 2);
    if (n == "DATE") return make(FieldKind::Date);
    if (isOneOf(n, kTime)) return make(FieldKind::Time);
    if (isOneOf(n, kDateTime)) return make(FieldKind::DateTime);
    if (isOneOf(n, kBoolean)) return make(FieldKind::Boolean);
    if (n == "BINARY" && d.argCount >= 1) return make(FieldKind::Bytes, first);
    if (n == "VARBINARY" && d.argCount >= 1) return make(FieldKind::VarBytes, first);
    if (isOneOf(n, kBlob)) return make(FieldKind::Blob);
    if (isOneOf(n, kGuid)) return make(FieldKind::Guid);

    // SQLite's own affinity rules, in its order, for every other name.
    if (contains(n, "INT")) return make(FieldKind::Integer);
    if (contains(n, "CHAR")) return make(FieldKind::String, first);
    if (contains(n, "CLOB") || contains(n, "TEXT")) return make(FieldKind::Memo);
    if (contains(n, "BLOB")) return make(FieldKind::Blob);
    if (contains(n, "REAL") || contains(n, "FLOA") || contains(n, "DOUB")) return make(FieldKind::Float);
    return make(FieldKind::Unknown);
}

}  // namespace tarnwell::db
