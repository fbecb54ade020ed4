#include "dataaccess/mariadb/MariaDbCatalog.h"

#include <mysql.h>

#include <string>
#include <unordered_map>

#include "dataaccess/DbError.h"
#include "dataaccess/mariadb/MariaDbTypes.h"
#include "sqlsyntax/Keywords.h"

namespace tarnwell::db {

namespace {

// The character sets a result's columns carry: binary data's, and the
// session's utf8mb4 (four bytes a character at most) for text.
constexpr unsigned kBinaryCharset = 63;
constexpr unsigned kTextCharset = 45;
constexpr unsigned long kTextBytesPerCharacter = 4;
constexpr int kInet4TextLength = 15;
constexpr int kInet6TextLength = 39;

enum Part { kSchemaRow = 0, kRelationRow = 1 };
enum RelationsColumn { kPart, kSchema, kRelation, kRelationType };

// Every database first, in the order names resolve in, then every relation.
constexpr const char* kRelationsSql =
    "SELECT 0 AS part, SCHEMA_NAME AS name, NULL AS relation, NULL AS type, "
    "SCHEMA_NAME = DATABASE() AS own, "
    "SCHEMA_NAME IN ('information_schema', 'mysql', 'performance_schema', 'sys') AS system "
    "FROM information_schema.SCHEMATA "
    "UNION ALL "
    "SELECT 1, TABLE_SCHEMA, TABLE_NAME, TABLE_TYPE, NULL, NULL FROM information_schema.TABLES "
    "ORDER BY part, own DESC, system, name";

constexpr const char* kKeysSql =
    "SELECT TABLE_SCHEMA, TABLE_NAME, COLUMN_NAME, SEQ_IN_INDEX FROM information_schema.STATISTICS "
    "WHERE INDEX_NAME = 'PRIMARY'";

enum ColumnsColumn {
    kColumnSchema, kColumnRelation, kPlace, kName, kDataType, kColumnType, kCharacters, kOctets, kPrecision, kScale,
    kNullable,
};
constexpr const char* kColumnsSql =
    "SELECT TABLE_SCHEMA, TABLE_NAME, ORDINAL_POSITION, COLUMN_NAME, DATA_TYPE, COLUMN_TYPE, "
    "CHARACTER_MAXIMUM_LENGTH, CHARACTER_OCTET_LENGTH, NUMERIC_PRECISION, NUMERIC_SCALE, IS_NULLABLE "
    "FROM information_schema.COLUMNS";

RelationKind relationKind(std::string_view type) {
    return type == "VIEW" || type == "SYSTEM VIEW" ? RelationKind::View : RelationKind::Table;
}

std::string relationKey(std::string_view schema, std::string_view relation) {
    std::string key(schema);
    key += '\0';
    key += relation;
    return key;
}

// What information_schema tells of a column, as the field a result holding
// the column would describe.
struct DeclaredColumn {
    std::string_view dataType;
    std::string_view columnType;
    unsigned long characters = 0;
    unsigned long octets = 0;
    unsigned long precision = 0;
    unsigned long scale = 0;
};

MYSQL_FIELD textField(enum_field_types type, const DeclaredColumn& declared, bool binary) {
    MYSQL_FIELD field{};
    field.type = type;
    field.charsetnr = binary ? kBinaryCharset : kTextCharset;
    field.length = binary ? declared.octets : declared.characters * kTextBytesPerCharacter;
    return field;
}

MYSQL_FIELD resultField(const DeclaredColumn& declared) {
    const std::string_view type = declared.dataType;
    const bool unsignedColumn = declared.columnType.find("unsigned") != std::string_view::npos;
    MYSQL_FIELD field{};
    field.charsetnr = kBinaryCharset;
    field.flags = unsignedColumn ? UNSIGNED_FLAG : 0;
    static const std::pair<std::string_view, enum_field_types> kPlain[] = {
        {"tinyint", MYSQL_TYPE_TINY},      {"smallint", MYSQL_TYPE_SHORT},   {"mediumint", MYSQL_TYPE_INT24},
        {"int", MYSQL_TYPE_LONG},          {"bigint", MYSQL_TYPE_LONGLONG},  {"year", MYSQL_TYPE_YEAR},
        {"float", MYSQL_TYPE_FLOAT},       {"double", MYSQL_TYPE_DOUBLE},    {"date", MYSQL_TYPE_DATE},
        {"time", MYSQL_TYPE_TIME},         {"datetime", MYSQL_TYPE_DATETIME}, {"timestamp", MYSQL_TYPE_TIMESTAMP},
    };
    for (const auto& [name, plain] : kPlain) {
        if (type == name) {
            field.type = plain;
            return field;
        }
    }
    if (type == "decimal") {
        field.type = MYSQL_TYPE_NEWDECIMAL;
        field.decimals = static_cast<unsigned>(declared.scale);
        field.length = declared.precision + (declared.scale > 0 ? 1 : 0) + (unsignedColumn ? 0 : 1);
        return field;
    }
    if (type == "bit") {
        field.type = MYSQL_TYPE_BIT;
        field.length = declared.precision;
        return field;
    }
    if (type == "char" || type == "varchar" || type == "enum" || type == "set") {
        MYSQL_FIELD text = textField(type == "varchar" ? MYSQL_TYPE_VAR_STRING : MYSQL_TYPE_STRING, declared, false);
        text.flags = type == "enum" ? ENUM_FLAG : type == "set" ? SET_FLAG : 0;
        return text;
    }
    if (type == "binary" || type == "varbinary") {
        return textField(type == "binary" ? MYSQL_TYPE_STRING : MYSQL_TYPE_VAR_STRING, declared, true);
    }
    if (type.ends_with("text")) {
        return textField(MYSQL_TYPE_BLOB, declared, false);
    }
    if (type.ends_with("blob")) {
        return textField(MYSQL_TYPE_BLOB, declared, true);
    }
    field.type = MYSQL_TYPE_GEOMETRY;  // and the spatial types; others are told apart below
    return field;
}

bool isSpatial(std::string_view type) {
    return type == "geometry" || type == "point" || type == "linestring" || type == "polygon" ||
           type == "multipoint" || type == "multilinestring" || type == "multipolygon" ||
           type == "geometrycollection";
}

Column describeDeclared(const DeclaredColumn& declared) {
    if (declared.dataType == "uuid") {
        return Column{{}, FieldKind::Guid, 0, 0};
    }
    // information_schema gives the address types no length; a result, that
    // of their longest text ("255.255.255.255", eight groups of four digits).
    if (declared.dataType == "inet4") {
        return Column{{}, FieldKind::String, kInet4TextLength, 0};
    }
    if (declared.dataType == "inet6") {
        return Column{{}, FieldKind::String, kInet6TextLength, 0};
    }
    const MYSQL_FIELD field = resultField(declared);
    if (field.type == MYSQL_TYPE_GEOMETRY && !isSpatial(declared.dataType)) {
        return Column{{}, FieldKind::Memo, 0, 0};  // a type newer than this list: its text
    }
    return mariadb::describeColumn(field);
}

class MariaDbCatalogReader final : public ConnectionCatalogReader {
public:
    using ConnectionCatalogReader::ConnectionCatalogReader;

    Catalog read(const CatalogProgress& progress) override {
        return listThenReadColumns(
            progress,
            [this](CatalogBuilder& builder) {
                forEachRow(kRelationsSql, [&](const RowStore& rows, std::size_t row) { addListed(builder, rows, row); });
            },
            [this](CatalogBuilder& builder) {
                forEachRow(kKeysSql, [&](const RowStore& rows, std::size_t row) { addKey(rows, row); });
                forEachRow(kColumnsSql, [&](const RowStore& rows, std::size_t row) { addColumn(builder, rows, row); });
                readColumnsLeftOver(builder);
            });
    }

private:
    void addListed(CatalogBuilder& builder, const RowStore& rows, std::size_t row) {
        const std::size_t schema = builder.addSchema(textAt(rows, row, kSchema));
        if (numberAt(rows, row, kPart) == kRelationRow) {
            const std::string_view name = textAt(rows, row, kRelation);
            relations_.emplace(relationKey(textAt(rows, row, kSchema), name),
                               builder.addRelation(schema, name, relationKind(textAt(rows, row, kRelationType))));
        }
    }

    void addKey(const RowStore& rows, std::size_t row) {
        std::string key = relationKey(textAt(rows, row, 0), textAt(rows, row, 1));
        key += '\0';
        key += textAt(rows, row, 2);
        keyPositions_.emplace(std::move(key), static_cast<int>(numberAt(rows, row, 3)));
    }

    void addColumn(CatalogBuilder& builder, const RowStore& rows, std::size_t row) {
        std::string key = relationKey(textAt(rows, row, kColumnSchema), textAt(rows, row, kColumnRelation));
        const auto relation = relations_.find(key);
        if (relation == relations_.end()) {
            return;
        }
        DeclaredColumn declared;
        declared.dataType = textAt(rows, row, kDataType);
        declared.columnType = textAt(rows, row, kColumnType);
        declared.characters = static_cast<unsigned long>(numberAt(rows, row, kCharacters));
        declared.octets = static_cast<unsigned long>(numberAt(rows, row, kOctets));
        declared.precision = static_cast<unsigned long>(numberAt(rows, row, kPrecision));
        declared.scale = static_cast<unsigned long>(numberAt(rows, row, kScale));
        const Column described = describeDeclared(declared);
        CatalogColumn column;
        column.name = textAt(rows, row, kName);
        column.typeName = declared.columnType;
        column.kind = described.kind;
        column.size = described.size;
        column.precision = described.precision;
        column.nullable = textAt(rows, row, kNullable) == "YES";
        key += '\0';
        key += column.name;
        const auto place = keyPositions_.find(key);
        column.keyPosition = place != keyPositions_.end() ? place->second : 0;
        builder.addColumn(relation->second, static_cast<int>(numberAt(rows, row, kPlace)), column);
    }

    // The server leaves out of information_schema what it cannot read (a
    // view over a dropped table, with a warning): the relation's own result
    // says why, or, should it have been made meanwhile, what its columns are.
    void readColumnsLeftOver(CatalogBuilder& builder) {
        for (CatalogBuilder::RelationHandle relation = 0; relation < builder.relationCount(); ++relation) {
            if (builder.columnCount(relation) > 0) {
                continue;
            }
            const CatalogRelation listed = builder.relation(relation);
            const std::string sql = "SELECT * FROM " + sql::quoteIdentifier(sql::Dialect::MariaDB, listed.schema) +
                                    "." + sql::quoteIdentifier(sql::Dialect::MariaDB, listed.name) + " LIMIT 0";
            try {
                const std::vector<Column> columns = resultColumns(sql);
                for (std::size_t i = 0; i < columns.size(); ++i) {
                    addResultColumn(builder, relation, static_cast<int>(i + 1), columns[i]);
                }
            } catch (const DbError& error) {
                throwIfCancelled();
                builder.skipRelation(relation, error.what());
            }
        }
    }

    static void addResultColumn(CatalogBuilder& builder, CatalogBuilder::RelationHandle relation, int place,
                                const Column& result) {
        CatalogColumn column;
        column.name = result.name;
        column.kind = result.kind;
        column.size = result.size;
        column.precision = result.precision;
        builder.addColumn(relation, place, column);
    }

    std::unordered_map<std::string, CatalogBuilder::RelationHandle> relations_;
    std::unordered_map<std::string, int> keyPositions_;  // schema, relation and column
};

}  // namespace

std::unique_ptr<CatalogReader> openMariaDbCatalog(const MariaDbSettings& settings) {
    return std::make_unique<MariaDbCatalogReader>(openMariaDb(settings));
}

}  // namespace tarnwell::db
