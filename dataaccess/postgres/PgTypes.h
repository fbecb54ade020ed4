#pragma once

// How PostgreSQL's column types map onto field kinds, and how the server's
// text output of a value becomes the canonical cell text of its kind.

#include <libpq-fe.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "dataaccess/Column.h"
#include "dataaccess/RowStore.h"

namespace tarnwell::db::pg {

// What a cell's text needs before it is stored. Most types already arrive in
// canonical form (the session pins DateStyle, bytea_output, lc_monetary and
// the float digits) and are stored as they come.
enum class CellConversion : std::uint8_t {
    AsIs,
    Boolean,  // "t"/"f" -> "1"/"0"
    Bytea,    // "\x0a1b..." -> the raw bytes
    Money,    // "-$1,234.56" -> "-1234.56"
};

// The column as the server describes it: kind and sizes from the type OID and
// the type modifier (PQftype, PQfmod).
Column describeColumn(std::string name, Oid type, int typeModifier);
CellConversion cellConversion(Oid type);

// Appends one non-null cell. `scratch` is a buffer reused across calls so the
// converted forms cost no allocation per cell.
void appendCell(RowStore& rows, CellConversion conversion, std::string_view text,
                std::string& scratch);

}  // namespace tarnwell::db::pg
