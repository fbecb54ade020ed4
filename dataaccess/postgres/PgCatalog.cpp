#include "dataaccess/postgres/PgCatalog.h"

#include <unordered_map>

#include "dataaccess/DbError.h"
#include "dataaccess/postgres/PgTypes.h"

namespace tarnwell::db {

namespace {

// The schemas a catalog skips without counting: TOAST storage and the
// temporary schemas of sessions (the catalog's own has none in use).
constexpr const char* kInternalSchemas = "n.nspname !~ '^pg_(toast|temp_)'";
constexpr const char* kRelationKinds = "c.relkind IN ('r', 'p', 'f', 'v', 'm')";

// Every schema first (usable or not, in the order names resolve in), then
// the relations of the usable ones. Opens the snapshot both statements read.
std::string relationsSql() {
    return std::string(
               "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY; "
               "WITH s AS (SELECT n.oid, n.nspname, has_schema_privilege(n.oid, 'USAGE') AS usable, "
               "array_position(current_schemas(false), n.nspname) AS on_path, "
               "n.nspname IN ('pg_catalog', 'information_schema') AS system "
               "FROM pg_namespace n WHERE ") +
           kInternalSchemas +
           ") "
           "SELECT s.nspname, s.usable, NULL::name AS relname, NULL::\"char\" AS relkind, NULL::oid AS oid, "
           "0 AS part, s.on_path, s.system FROM s "
           "UNION ALL "
           "SELECT s.nspname, true, c.relname, c.relkind, c.oid, 1, NULL, NULL "
           "FROM s JOIN pg_class c ON c.relnamespace = s.oid WHERE s.usable AND " +
           kRelationKinds + " ORDER BY part, on_path NULLS LAST, system, nspname";
}

// Every column of the relations above: relation, place, name, the type a
// result reports (a domain's base type), its modifier, the declared type's
// name, NOT NULL, place in the primary key (int2vector subscripts start at 0).
std::string columnsSql() {
    return std::string(
               "SELECT a.attrelid, a.attnum, a.attname, "
               "CASE WHEN t.typtype = 'd' THEN t.typbasetype ELSE a.atttypid END, "
               "CASE WHEN t.typtype = 'd' THEN t.typtypmod ELSE a.atttypmod END, "
               "format_type(a.atttypid, a.atttypmod), a.attnotnull, "
               "array_position(k.indkey::int2[], a.attnum) + 1 - array_lower(k.indkey::int2[], 1) "
               "FROM pg_attribute a "
               "JOIN pg_class c ON c.oid = a.attrelid "
               "JOIN pg_namespace n ON n.oid = c.relnamespace "
               "JOIN pg_type t ON t.oid = a.atttypid "
               "LEFT JOIN pg_index k ON k.indrelid = a.attrelid AND k.indisprimary "
               "WHERE a.attnum > 0 AND NOT a.attisdropped AND ") +
           kRelationKinds + " AND " + kInternalSchemas + " AND has_schema_privilege(n.oid, 'USAGE')";
}

RelationKind relationKind(std::string_view relkind) {
    return relkind == "v" || relkind == "m" ? RelationKind::View : RelationKind::Table;
}

class PgCatalogReader final : public ConnectionCatalogReader {
public:
    using ConnectionCatalogReader::ConnectionCatalogReader;

    Catalog read(const CatalogProgress& progress) override {
        CatalogBuilder builder;
        try {
            forEachRow(relationsSql(), [&](const RowStore& rows, std::size_t row) { addListed(builder, rows, row); });
            if (progress.relationsListed) {
                progress.relationsListed(builder.relationCount());
            }
            forEachRow(columnsSql(), [&](const RowStore& rows, std::size_t row) { addColumn(builder, rows, row); });
        } catch (const DbError& error) {
            throwIfCancelled();
            builder.endEarly(error.what());
        }
        return builder.finish();
    }

private:
    void addListed(CatalogBuilder& builder, const RowStore& rows, std::size_t row) {
        const std::string_view schema = textAt(rows, row, 0);
        if (numberAt(rows, row, 5) == 0) {
            isTrueAt(rows, row, 1) ? static_cast<void>(builder.addSchema(schema)) : builder.skipSchema(schema);
            return;
        }
        const CatalogBuilder::RelationHandle handle =
            builder.addRelation(builder.addSchema(schema), textAt(rows, row, 2), relationKind(textAt(rows, row, 3)));
        relationOf_.emplace(static_cast<std::uint32_t>(numberAt(rows, row, 4)), handle);
    }

    void addColumn(CatalogBuilder& builder, const RowStore& rows, std::size_t row) {
        const auto relation = relationOf_.find(static_cast<std::uint32_t>(numberAt(rows, row, 0)));
        if (relation == relationOf_.end()) {
            return;
        }
        const std::string_view name = textAt(rows, row, 2);
        const Column described = pg::describeColumn(std::string(), static_cast<Oid>(numberAt(rows, row, 3)),
                                                    static_cast<int>(numberAt(rows, row, 4)));
        CatalogColumn column;
        column.name = name;
        column.typeName = textAt(rows, row, 5);
        column.kind = described.kind;
        column.size = described.size;
        column.precision = described.precision;
        column.nullable = !isTrueAt(rows, row, 6);
        column.keyPosition = static_cast<int>(numberAt(rows, row, 7));
        builder.addColumn(relation->second, static_cast<int>(numberAt(rows, row, 1)), column);
    }

    std::unordered_map<std::uint32_t, CatalogBuilder::RelationHandle> relationOf_;
};

}  // namespace

std::unique_ptr<CatalogReader> openPostgresCatalog(const PgSettings& settings) {
    return std::make_unique<PgCatalogReader>(openPostgres(settings));
}

}  // namespace tarnwell::db
