#include "dataaccess/postgres/PgCatalog.h"

#include <algorithm>
#include <charconv>
#include <unordered_map>
#include <vector>

#include "dataaccess/DbError.h"
#include "dataaccess/postgres/PgTypes.h"

namespace tarnwell::db {

namespace {

// The schemas a catalog skips without counting: TOAST storage and the
// temporary schemas of sessions (the catalog's own has none in use).
constexpr const char* kInternalSchemas = "n.nspname !~ '^pg_(toast|temp_)'";

// What the first statement gives, a row of one of three parts.
enum Part { kSchemaRow = 0, kRelationRow = 1, kDomainRow = 2 };
enum RelationsColumn {
    kPart, kSchema, kUsable, kRelation, kRelationKind, kOid, kKeyColumns, kBaseType, kBaseTypeModifier,
};

// Every schema first (usable or not, in the order names resolve in), then
// the relations of the usable ones with the columns of their primary keys,
// then every domain with its base type. Opens the snapshot both statements
// read.
std::string relationsSql() {
    return std::string(
               "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY; "
               "WITH s AS (SELECT n.oid, n.nspname, has_schema_privilege(n.oid, 'USAGE') AS usable, "
               "array_position(current_schemas(false), n.nspname) AS on_path, "
               "n.nspname IN ('pg_catalog', 'information_schema') AS system "
               "FROM pg_namespace n WHERE ") +
           kInternalSchemas +
           ") "
           "SELECT 0 AS part, s.nspname, s.usable, NULL::name, NULL::\"char\", NULL::oid, NULL::int2vector, "
           "NULL::oid, NULL::integer, s.on_path, s.system FROM s "
           "UNION ALL "
           "SELECT 1, s.nspname, true, c.relname, c.relkind, c.oid, k.indkey, NULL, NULL, NULL, NULL "
           "FROM s JOIN pg_class c ON c.relnamespace = s.oid "
           "LEFT JOIN pg_index k ON k.indrelid = c.oid AND k.indisprimary "
           "WHERE s.usable AND c.relkind IN ('r', 'p', 'f', 'v', 'm') "
           "UNION ALL "
           "SELECT 2, NULL, NULL, NULL, NULL, t.oid, NULL, t.typbasetype, t.typtypmod, NULL, NULL "
           "FROM pg_type t WHERE t.typtype = 'd' "
           "ORDER BY part, on_path NULLS LAST, system, nspname";
}

enum ColumnsColumn { kColumnRelation, kPlace, kName, kType, kTypeModifier, kNotNull };

// Every column of every relation of the database. A plain scan of
// pg_attribute: joined to pg_class and pg_type the server's estimates go
// astray on large catalogs and it probes an index per relation, several
// times slower; the columns of relations not listed above (indexes, TOAST
// tables, schemas without rights) are dropped here instead. Type names come
// afterwards, once for each type and modifier (format_type() for every
// column would take the server longer than the rest together).
constexpr const char* kColumnsSql =
    "SELECT a.attrelid, a.attnum, a.attname, a.atttypid, a.atttypmod, a.attnotnull "
    "FROM pg_attribute a WHERE a.attnum > 0 AND NOT a.attisdropped";

// The column numbers of a primary key as int2vector's text writes them
// ("2 1").
std::vector<int> keyColumns(std::string_view text) {
    std::vector<int> columns;
    const char* p = text.data();
    const char* const end = text.data() + text.size();
    while (p < end) {
        int column = 0;
        const auto [next, error] = std::from_chars(p, end, column);
        if (error != std::errc()) {
            break;
        }
        columns.push_back(column);
        p = next;
        while (p < end && *p == ' ') {
            ++p;
        }
    }
    return columns;
}

RelationKind relationKind(std::string_view relkind) {
    return relkind == "v" || relkind == "m" ? RelationKind::View : RelationKind::Table;
}

class PgCatalogReader final : public ConnectionCatalogReader {
public:
    using ConnectionCatalogReader::ConnectionCatalogReader;

    Catalog read(const CatalogProgress& progress) override {
        return listThenReadColumns(
            progress,
            [this](CatalogBuilder& builder) {
                forEachRow(relationsSql(), [&](const RowStore& rows, std::size_t row) { addListed(builder, rows, row); });
            },
            [this](CatalogBuilder& builder) {
                try {
                    forEachRow(kColumnsSql, [&](const RowStore& rows, std::size_t row) { addColumn(builder, rows, row); });
                    nameTypes(builder);
                } catch (const DbError&) {
                    leaveTypesUnnamed(builder);
                    throw;
                }
            });
    }

private:
    struct Listed {
        CatalogBuilder::RelationHandle handle = 0;
        std::vector<int> keyColumns;
    };
    struct Domain {
        Oid baseType = 0;
        int modifier = -1;
    };

    void addListed(CatalogBuilder& builder, const RowStore& rows, std::size_t row) {
        const std::string_view schema = textAt(rows, row, kSchema);
        switch (numberAt(rows, row, kPart)) {
        case kSchemaRow:
            isTrueAt(rows, row, kUsable) ? static_cast<void>(builder.addSchema(schema)) : builder.skipSchema(schema);
            return;
        case kRelationRow: {
            const CatalogBuilder::RelationHandle handle = builder.addRelation(
                builder.addSchema(schema), textAt(rows, row, kRelation), relationKind(textAt(rows, row, kRelationKind)));
            relations_.emplace(oidAt(rows, row, kOid), Listed{handle, keyColumns(textAt(rows, row, kKeyColumns))});
            return;
        }
        case kDomainRow:
            domains_.emplace(oidAt(rows, row, kOid),
                             Domain{oidAt(rows, row, kBaseType), static_cast<int>(numberAt(rows, row, kBaseTypeModifier))});
            return;
        }
    }

    // A domain reports its base type in a result, and so does the catalog (a
    // domain over a domain, the base of that).
    Domain resultType(Oid type, int modifier) const {
        Domain resolved{type, modifier};
        for (int depth = 0; depth < 32; ++depth) {
            const auto domain = domains_.find(resolved.baseType);
            if (domain == domains_.end()) {
                break;
            }
            resolved = domain->second;
        }
        return resolved;
    }

    void addColumn(CatalogBuilder& builder, const RowStore& rows, std::size_t row) {
        const auto relation = relations_.find(oidAt(rows, row, kColumnRelation));
        if (relation == relations_.end()) {
            return;
        }
        const int place = static_cast<int>(numberAt(rows, row, kPlace));
        const Domain type = resultType(oidAt(rows, row, kType), static_cast<int>(numberAt(rows, row, kTypeModifier)));
        const Column described = pg::describeColumn(std::string(), type.baseType, type.modifier);
        CatalogColumn column;
        column.name = textAt(rows, row, kName);
        column.typeName = typeKey(oidAt(rows, row, kType), static_cast<int>(numberAt(rows, row, kTypeModifier)));
        column.kind = described.kind;
        column.size = described.size;
        column.precision = described.precision;
        column.nullable = !isTrueAt(rows, row, kNotNull);
        const std::vector<int>& key = relation->second.keyColumns;
        const auto inKey = std::find(key.begin(), key.end(), place);
        column.keyPosition = inKey != key.end() ? static_cast<int>(inKey - key.begin()) + 1 : 0;
        builder.addColumn(relation->second.handle, place, column);
    }

    // The stand-in for a type's name until nameTypes() knows it.
    const std::string& typeKey(Oid type, int modifier) {
        const std::uint64_t pair = (std::uint64_t{type} << 32) | static_cast<std::uint32_t>(modifier);
        const auto [key, added] = typeKeys_.try_emplace(pair);
        if (added) {
            key->second = "\x01" + std::to_string(type) + " " + std::to_string(modifier);
        }
        return key->second;
    }

    void nameTypes(CatalogBuilder& builder) {
        if (typeKeys_.empty()) {
            return;
        }
        std::string values;
        for (const auto& [pair, key] : typeKeys_) {
            values += (values.empty() ? "(" : ", (") + std::to_string(pair >> 32) + ", " +
                      std::to_string(static_cast<std::int32_t>(pair & 0xffffffffu)) + ")";
        }
        forEachRow("SELECT v.t, v.m, format_type(v.t::oid, v.m) FROM (VALUES " + values + ") AS v(t, m)",
                   [&](const RowStore& rows, std::size_t row) {
                       builder.renameTypeName(typeKey(oidAt(rows, row, 0), static_cast<int>(numberAt(rows, row, 1))),
                                              textAt(rows, row, 2));
                   });
        typeKeys_.clear();
    }

    void leaveTypesUnnamed(CatalogBuilder& builder) {
        for (const auto& [pair, key] : typeKeys_) {
            builder.renameTypeName(key, {});
        }
        typeKeys_.clear();
    }

    static Oid oidAt(const RowStore& rows, std::size_t row, std::size_t column) {
        return static_cast<Oid>(numberAt(rows, row, column));
    }

    std::unordered_map<Oid, Listed> relations_;
    std::unordered_map<Oid, Domain> domains_;
    std::unordered_map<std::uint64_t, std::string> typeKeys_;  // type and modifier
};

}  // namespace

std::unique_ptr<CatalogReader> openPostgresCatalog(const PgSettings& settings) {
    return std::make_unique<PgCatalogReader>(openPostgres(settings));
}

}  // namespace tarnwell::db
