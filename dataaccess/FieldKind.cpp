#include "dataaccess/FieldKind.h"

#include <array>

namespace tarnwell::db {

namespace {

constexpr std::array<std::string_view, kLastFieldKind + 1> kNames = {
    "Unknown",    "String",    "Smallint",    "Integer",     "Word",      "Boolean",
    "Float",      "Currency",  "BCD",         "Date",        "Time",      "DateTime",
    "Bytes",      "VarBytes",  "AutoInc",     "Blob",        "Memo",      "Graphic",
    "FmtMemo",    "ParadoxOle", "DBaseOle",   "TypedBinary", "Cursor",    "FixedChar",
    "WideString", "LargeInt",  "ADT",         "Array",       "Reference", "DataSet",
    "OraBlob",    "OraClob",   "Variant",     "Interface",   "IDispatch", "Guid",
    "TimeStamp",  "FMTBcd",
};

}  // namespace

std::string_view fieldKindName(int code) noexcept {
    if (code < 0 || code > kLastFieldKind) {
        return kNames[0];
    }
    return kNames[static_cast<std::size_t>(code)];
}

std::string_view fieldKindName(FieldKind kind) noexcept {
    return fieldKindName(static_cast<int>(kind));
}

bool isNumberKind(FieldKind kind) noexcept {
    switch (kind) {
        case FieldKind::Smallint:
        case FieldKind::Integer:
        case FieldKind::Word:
        case FieldKind::Float:
        case FieldKind::Currency:
        case FieldKind::BCD:
        case FieldKind::AutoInc:
        case FieldKind::LargeInt:
        case FieldKind::FMTBcd:
            return true;
        default:
            return false;
    }
}

}  // namespace tarnwell::db
