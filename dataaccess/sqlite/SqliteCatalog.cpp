#include "dataaccess/sqlite/SqliteCatalog.h"

#include <unordered_map>

#include "dataaccess/DbError.h"
#include "dataaccess/sqlite/SqliteTypes.h"
#include "sqlsyntax/Keywords.h"

namespace tarnwell::db {

namespace {

// SQLite's hidden column marks (pragma_table_xinfo): 1 is a hidden column of
// a virtual table, which SELECT * leaves out; 2 and 3 are generated columns.
constexpr long long kHiddenOfVirtualTable = 1;

// The relations listed: tables and views, SQLite's own sqlite_* left out.
constexpr const char* kListed = "type IN ('table', 'view') AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'";
constexpr const char* kListedAs = "s.type IN ('table', 'view') AND s.name NOT LIKE 'sqlite\\_%' ESCAPE '\\'";

std::string quotedName(std::string_view name) { return sql::quoteIdentifier(sql::Dialect::SQLite, name); }

class SqliteCatalogReader final : public ConnectionCatalogReader {
public:
    SqliteCatalogReader(std::unique_ptr<Connection> connection, std::vector<SqliteAttachment> attached)
        : ConnectionCatalogReader(std::move(connection)), attached_(std::move(attached)) {}

    Catalog read(const CatalogProgress& progress) override {
        struct ReadTransaction {
            SqliteCatalogReader& reader;
            ~ReadTransaction() { reader.endReadTransaction(); }
        } transaction{*this};
        return listThenReadColumns(
            progress,
            [this](CatalogBuilder& builder) {
                attachDatabases(builder);
                run("BEGIN");
                listRelations(builder);
            },
            [this](CatalogBuilder& builder) {
                for (std::size_t schema = 0; schema < schemas_.size(); ++schema) {
                    readAllColumns(builder, schema);
                }
                for (CatalogBuilder::RelationHandle relation = 0; relation < builder.relationCount(); ++relation) {
                    if (builder.columnCount(relation) == 0) {
                        readColumns(builder, relation);
                    }
                }
            });
    }

private:
    // An attached file that cannot be opened is a schema left out.
    void attachDatabases(CatalogBuilder& builder) {
        for (const SqliteAttachment& attachment : attached_) {
            try {
                run("ATTACH DATABASE " + literal(attachment.path) + " AS " + quotedName(attachment.name));
            } catch (const DbError& error) {
                throwIfCancelled();
                builder.skipSchema(attachment.name, error.what());
            }
        }
    }

    // Ends the read transaction at once, cancelled or not: in a database
    // without a write-ahead log it keeps every writer waiting.
    void endReadTransaction() noexcept {
        try {
            connection().execute("COMMIT");
        } catch (const DbError&) {
            // None was begun.
        }
    }

    void listRelations(CatalogBuilder& builder) {
        std::vector<std::string> names;
        forEachRow("SELECT name FROM pragma_database_list WHERE name <> 'temp' ORDER BY seq",
                   [&names](const RowStore& rows, std::size_t row) { names.emplace_back(textAt(rows, row, 0)); });
        for (std::string& name : names) {
            Schema& schema = schemas_.emplace_back();
            schema.name = std::move(name);
            const std::size_t index = builder.addSchema(schema.name);
            try {
                forEachRow("SELECT name, type FROM " + quotedName(schema.name) + ".sqlite_schema WHERE " + kListed,
                           [&](const RowStore& rows, std::size_t row) {
                               const std::string_view relation = textAt(rows, row, 0);
                               const RelationKind kind =
                                   textAt(rows, row, 1) == "view" ? RelationKind::View : RelationKind::Table;
                               schema.relations.emplace(relation, builder.addRelation(index, relation, kind));
                           });
            } catch (const DbError& error) {
                throwIfCancelled();
                builder.skipSchema(schema.name, error.what());
            }
        }
    }

    // Every column of a schema's relations in one statement. A view that
    // fails ends it; the relations it did not reach are read one by one.
    void readAllColumns(CatalogBuilder& builder, std::size_t index) {
        const Schema& schema = schemas_[index];
        const std::string sql =
            "SELECT p.name, p.type, p.\"notnull\", p.pk, p.hidden, p.cid, s.name FROM " + quotedName(schema.name) +
            ".sqlite_schema AS s JOIN pragma_table_xinfo(s.name, " + literal(schema.name) + ") AS p WHERE " +
            kListedAs;
        try {
            forEachRow(sql, [&](const RowStore& rows, std::size_t row) {
                const auto relation = schema.relations.find(std::string(textAt(rows, row, 6)));
                if (relation != schema.relations.end() && numberAt(rows, row, 4) != kHiddenOfVirtualTable) {
                    addColumn(builder, relation->second, rows, row);
                }
            });
        } catch (const DbError&) {
            throwIfCancelled();
        }
    }

    void readColumns(CatalogBuilder& builder, CatalogBuilder::RelationHandle relation) {
        // Copied: adding columns moves the builder's names.
        const std::string schema(builder.relation(relation).schema);
        const std::string name(builder.relation(relation).name);
        const std::string sql = "SELECT name, type, \"notnull\", pk, hidden, cid FROM pragma_table_xinfo(" +
                                literal(name) + ", " + literal(schema) + ")";
        try {
            forEachRow(sql, [&](const RowStore& rows, std::size_t row) {
                if (numberAt(rows, row, 4) != kHiddenOfVirtualTable) {
                    addColumn(builder, relation, rows, row);
                }
            });
        } catch (const DbError& error) {
            throwIfCancelled();
            builder.skipRelation(relation, error.what());
            return;
        }
        if (builder.columnCount(relation) == 0) {
            // Gone: pragma_table_xinfo gives nothing for a missing table.
            builder.skipRelation(relation, "no such table: " + schema + "." + name);
        }
    }

    static void addColumn(CatalogBuilder& builder, CatalogBuilder::RelationHandle relation, const RowStore& rows,
                          std::size_t row) {
        const std::string_view declared = textAt(rows, row, 1);
        Column described = sqliteDeclaredColumn(declared);
        if (described.kind == FieldKind::Unknown) {
            described = Column{{}, FieldKind::String, 0, 0};
        }
        CatalogColumn column;
        column.name = textAt(rows, row, 0);
        column.typeName = declared;
        column.kind = described.kind;
        column.size = described.size;
        column.precision = described.precision;
        column.nullable = numberAt(rows, row, 2) == 0;
        column.keyPosition = static_cast<int>(numberAt(rows, row, 3));
        builder.addColumn(relation, static_cast<int>(numberAt(rows, row, 5)), column);
    }

    struct Schema {
        std::string name;
        std::unordered_map<std::string, CatalogBuilder::RelationHandle> relations;
    };

    std::vector<SqliteAttachment> attached_;
    std::vector<Schema> schemas_;
};

}  // namespace

std::unique_ptr<CatalogReader> openSqliteCatalog(const SqliteSettings& settings,
                                                 const std::vector<SqliteAttachment>& attached) {
    SqliteSettings readOnly = settings;
    readOnly.readOnly = true;
    readOnly.createIfMissing = false;
    return std::make_unique<SqliteCatalogReader>(openSqlite(readOnly), attached);
}

}  // namespace tarnwell::db
