// The SQLite backend: the shared contract, then what is SQLite's own (declared
// types, storage classes, several statements in one text, files).
#include <gtest/gtest.h>

#include <filesystem>

#include "ConformanceSuite.h"
#include "DataTestSupport.h"
#include "dataaccess/DbError.h"
#include "dataaccess/sqlite/SqliteCatalog.h"
#include "dataaccess/sqlite/SqliteConnection.h"
#include "dataaccess/sqlite/SqliteTypes.h"

namespace tarnwell::test {
namespace {

using db::DbError;
using db::FieldKind;
using db::RowStore;

std::string sqliteBlobLiteral(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out = "X'";
    for (char c : bytes) {
        out += kHex[static_cast<unsigned char>(c) >> 4];
        out += kHex[static_cast<unsigned char>(c) & 0x0f];
    }
    return out + "'";
}

BackendAdapter sqliteAdapter() {
    BackendAdapter adapter;
    adapter.name = "Sqlite";
    adapter.dialect = sql::Dialect::SQLite;
    adapter.makeTarget = [] {
        auto dir = std::make_shared<TempDir>();
        const std::string path = dir->file("conformance.db");
        BackendTarget target;
        target.connect = [path] { return db::openSqlite({path, false, true}); };
        target.driver = "SQLITE";
        target.aliasParams.append("PATH", path);
        target.connectionString = "Provider=SQLite.1;Data Source=" + path;
        target.resources = dir;
        target.connect();  // creates the file, so the engines (which never create) find it
        return target;
    };
    adapter.kinds = {
        {"VARCHAR(20)", FieldKind::String, 20, "'abc 中文'", "abc 中文"},
        {"CHAR(5)", FieldKind::FixedChar, 5, "'ab'", "ab"},
        {"NVARCHAR(40)", FieldKind::WideString, 40, "'繁體中文'", "繁體中文"},
        {"INTEGER", FieldKind::Integer, 0, "-2147483648", "-2147483648"},
        {"SMALLINT", FieldKind::Smallint, 0, "-32768", "-32768"},
        {"BIGINT", FieldKind::LargeInt, 0, "9223372036854775807", "9223372036854775807"},
        {"DOUBLE", FieldKind::Float, 0, "0.1", "0.1"},
        {"DOUBLE", FieldKind::Float, 0, "0.1 + 0.2", "0.30000000000000004"},
        {"REAL", FieldKind::Float, 0, "1e10", "10000000000"},
        {"FLOAT", FieldKind::Float, 0, "-2.5e-7", "-2.5e-07"},
        {"DOUBLE PRECISION", FieldKind::Float, 0, "9e999", "Infinity"},
        {"NUMERIC(12,2)", FieldKind::BCD, 2, "-1234.5", "-1234.50", 12},
        {"DECIMAL(20,4)", FieldKind::FMTBcd, 4, "12.5", "12.5000", 20},
        {"MONEY", FieldKind::Currency, 2, "99.9", "99.90"},
        {"DATE", FieldKind::Date, 0, "'2024-02-29'", "2024-02-29"},
        {"TIME", FieldKind::Time, 0, "'23:59:58.500'", "23:59:58.5"},
        {"TIMESTAMP", FieldKind::DateTime, 0, "'2024-02-29 23:59:58.1250'", "2024-02-29 23:59:58.125"},
        {"DATETIME", FieldKind::DateTime, 0, "'2024-02-29T23:59:58.000'", "2024-02-29 23:59:58"},
        {"BOOLEAN", FieldKind::Boolean, 0, "TRUE", "1"},
        {"BLOB", FieldKind::Blob, 0, "X'00FF10'", std::string("\0\xff\x10", 3)},
        {"TEXT", FieldKind::Memo, 0, "'memo'", "memo"},
        {"UUID", FieldKind::Guid, 0, "'A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11'", "a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11"},
    };
    adapter.textType = "TEXT";
    adapter.binaryType = "BLOB";
    adapter.binaryLiteral = sqliteBlobLiteral;
    // Counts for ever; only a cancel ends it.
    adapter.longRunningSql =
        "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT max(x) FROM c";
    adapter.syntaxErrorFragment = "near \"SELEC\": syntax error";
    adapter.placesSyntaxErrors = true;
    adapter.cancelFragment = "interrupted";
    adapter.nonUtf8TextLiteral = "CAST(x'a4a4ff0041' AS TEXT)";
    adapter.nonUtf8TextBytes = std::string("\xa4\xa4\xff\0A", 5);
    adapter.catalogSchema = "main";
    adapter.viewsCanFail = true;
    adapter.catalogReadsOneSnapshot = true;
    // Without a write-ahead log the catalog's read transaction keeps a
    // writer waiting until it ends.
    adapter.concurrentChangesSql = "PRAGMA journal_mode=WAL";
    return adapter;
}

INSTANTIATE_TEST_SUITE_P(Sqlite, ConnectionConformance, ::testing::Values(sqliteAdapter()), adapterName);
INSTANTIATE_TEST_SUITE_P(Sqlite, StoredBytesConformance, ::testing::Values(sqliteAdapter()), adapterName);

class SqliteBackend : public ::testing::Test {
protected:
    std::unique_ptr<db::Connection> connect() { return db::openSqlite({dir_.file("test.db"), false, true}); }
    TempDir dir_;
};

TEST(SqliteDeclaredTypes, NamesSizesAndPrecisionsReadWithoutRegardToCaseOrBlanks) {
    struct Case {
        const char* declared;
        FieldKind kind;
        int size;
        int precision;
    };
    const Case cases[] = {
        {"VARCHAR(20)", FieldKind::String, 20, 0},
        {"varchar ( 20 )", FieldKind::String, 20, 0},
        {"character varying(7)", FieldKind::String, 7, 0},
        {"VARCHAR", FieldKind::String, 0, 0},
        {"nvarchar (50)", FieldKind::WideString, 50, 0},
        {"CHAR(10)", FieldKind::FixedChar, 10, 0},
        {"char", FieldKind::FixedChar, 1, 0},
        {"NCHAR(3)", FieldKind::FixedChar, 3, 0},
        {"INT", FieldKind::Integer, 0, 0},
        {"integer", FieldKind::Integer, 0, 0},
        {"SMALLINT", FieldKind::Smallint, 0, 0},
        {"TINYINT", FieldKind::Smallint, 0, 0},
        {"BIGINT", FieldKind::LargeInt, 0, 0},
        {"UNSIGNED BIG INT", FieldKind::LargeInt, 0, 0},
        {"REAL", FieldKind::Float, 0, 0},
        {"double precision", FieldKind::Float, 0, 0},
        {"FLOAT", FieldKind::Float, 0, 0},
        {"NUMERIC(10,2)", FieldKind::BCD, 2, 10},
        {"numeric(18, 4)", FieldKind::BCD, 4, 18},
        {"DECIMAL(19,2)", FieldKind::FMTBcd, 2, 19},
        {"DECIMAL", FieldKind::BCD, 0, 0},
        {"MONEY", FieldKind::Currency, 2, 0},
        {"DATE", FieldKind::Date, 0, 0},
        {"time", FieldKind::Time, 0, 0},
        {"DATETIME", FieldKind::DateTime, 0, 0},
        {"timestamp(3)", FieldKind::DateTime, 0, 0},
        {"TIMESTAMP WITH TIME ZONE", FieldKind::DateTime, 0, 0},
        {"BOOLEAN", FieldKind::Boolean, 0, 0},
        {"BLOB", FieldKind::Blob, 0, 0},
        {"VARBINARY(16)", FieldKind::VarBytes, 16, 0},
        {"BINARY(4)", FieldKind::Bytes, 4, 0},
        {"TEXT", FieldKind::Memo, 0, 0},
        {"CLOB", FieldKind::Memo, 0, 0},
        {"uuid", FieldKind::Guid, 0, 0},
        {"GUID", FieldKind::Guid, 0, 0},
        // SQLite's affinity rules for names of its own making.
        {"MEDIUMINT UNSIGNED", FieldKind::Integer, 0, 0},
        {"VARYING TEXT", FieldKind::Memo, 0, 0},
        {"WIDECHAR(12)", FieldKind::String, 12, 0},
        {"FLOATING POINT", FieldKind::Integer, 0, 0},  // "INT" comes first, as in SQLite
        {"SOMETHING", FieldKind::Unknown, 0, 0},
        {"", FieldKind::Unknown, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.declared);
        const db::Column column = db::sqliteDeclaredColumn(c.declared);
        EXPECT_EQ(db::fieldKindName(column.kind), db::fieldKindName(c.kind));
        EXPECT_EQ(column.size, c.size);
        EXPECT_EQ(column.precision, c.precision);
    }
}

TEST_F(SqliteBackend, ExpressionsTakeTheirKindFromTheFirstRow) {
    auto connection = connect();
    auto cursor = connection->execute(
        "SELECT 1 + 1 AS i, 0.5 * 3 AS f, 'a' || 'b' AS t, x'00' AS b, NULL AS n, count(*) AS c "
        "FROM (SELECT 1)");
    const auto& columns = cursor->columns();
    EXPECT_EQ(columns[0].kind, FieldKind::LargeInt);
    EXPECT_EQ(columns[1].kind, FieldKind::Float);
    EXPECT_EQ(columns[2].kind, FieldKind::String);
    EXPECT_EQ(columns[2].size, 0);
    EXPECT_EQ(columns[3].kind, FieldKind::Blob);
    EXPECT_EQ(columns[4].kind, FieldKind::String);
    EXPECT_EQ(columns[5].kind, FieldKind::LargeInt);
    RowStore rows(columns.size());
    cursor->fetch(rows, 10);
    EXPECT_EQ(cellText(rows, 0, 0), "2");
    EXPECT_EQ(cellText(rows, 0, 1), "1.5");
    EXPECT_EQ(cellText(rows, 0, 2), "ab");

    auto none = connection->execute("SELECT 1 AS x WHERE 0");
    EXPECT_EQ(none->columns()[0].kind, FieldKind::String) << "no row to decide from";
}

TEST_F(SqliteBackend, CellsOfDeclaredTypesBecomeCanonicalTextWhateverTheirStorage) {
    auto connection = connect();
    connection->execute(
        "CREATE TABLE t (id INTEGER, price NUMERIC(10,2), f DOUBLE, flag BOOLEAN, at DATETIME, "
        "i INTEGER, g UUID, d DATE)");
    connection->execute(
        "INSERT INTO t VALUES "
        "(1, 12.5, 1e20, 0, '2024-01-02T03:04:05', 7, x'00112233445566778899aabbccddeeff', '2024-01-02'),"
        "(2, 3, 1.0, 'true', '2024-01-02 03:04', 'seven', 'not-a-uuid', 'soon'),"
        "(3, 1.005, 2.5e-7, 2, 1700000000, 1.5, NULL, 45000),"
        "(4, 1e20, 9e999, 'false', '2024-01-02 03:04:05.123456+08:00', NULL, NULL, NULL),"
        "(5, 'n/a', -9e999, 1.0, '', 9223372036854775807, NULL, NULL)");
    RowStore rows = fetchAll(*connection, "SELECT price, f, flag, at, i, g, d FROM t ORDER BY id");
    ASSERT_EQ(rows.rowCount(), 5u);
    // Decimals: padded to the scale, never rounded, never in exponent form.
    EXPECT_EQ(cellText(rows, 0, 0), "12.50");
    EXPECT_EQ(cellText(rows, 1, 0), "3.00");
    EXPECT_EQ(cellText(rows, 2, 0), "1.005");
    EXPECT_EQ(cellText(rows, 3, 0), "100000000000000000000.00");
    EXPECT_EQ(cellText(rows, 4, 0), "n/a");
    // Floats: the shortest text that reads back.
    EXPECT_EQ(cellText(rows, 0, 1), "1e+20");
    EXPECT_EQ(cellText(rows, 1, 1), "1");
    EXPECT_EQ(cellText(rows, 2, 1), "2.5e-07");
    EXPECT_EQ(cellText(rows, 3, 1), "Infinity");
    EXPECT_EQ(cellText(rows, 4, 1), "-Infinity");
    // Booleans.
    EXPECT_EQ(cellText(rows, 0, 2), "0");
    EXPECT_EQ(cellText(rows, 1, 2), "1");
    EXPECT_EQ(cellText(rows, 2, 2), "2") << "not a boolean: kept as stored";
    EXPECT_EQ(cellText(rows, 3, 2), "0");
    EXPECT_EQ(cellText(rows, 4, 2), "1");
    // Timestamps: ISO "T" and missing seconds brought to the canonical form.
    EXPECT_EQ(cellText(rows, 0, 3), "2024-01-02 03:04:05");
    EXPECT_EQ(cellText(rows, 1, 3), "2024-01-02 03:04:00");
    EXPECT_EQ(cellText(rows, 2, 3), "1700000000");
    EXPECT_EQ(cellText(rows, 3, 3), "2024-01-02 03:04:05.123456+08:00");
    EXPECT_EQ(cellText(rows, 4, 3), "");
    // Integers; text in an integer column stays text.
    EXPECT_EQ(cellText(rows, 0, 4), "7");
    EXPECT_EQ(cellText(rows, 1, 4), "seven");
    EXPECT_EQ(cellText(rows, 2, 4), "1.5");
    EXPECT_EQ(cellText(rows, 4, 4), "9223372036854775807");
    // A 16-byte blob in a UUID column reads as a UUID.
    EXPECT_EQ(cellText(rows, 0, 5), "00112233-4455-6677-8899-aabbccddeeff");
    EXPECT_EQ(cellText(rows, 1, 5), "not-a-uuid");
    EXPECT_EQ(cellText(rows, 1, 6), "soon");
    EXPECT_EQ(cellText(rows, 2, 6), "45000");
}

TEST_F(SqliteBackend, SeveralStatementsRunInOrderAndTheLastOneGivesTheResult) {
    auto connection = connect();
    auto script = connection->execute(
        "CREATE TABLE t (n INTEGER);  -- first\n"
        "INSERT INTO t VALUES (1), (2), (3);\n"
        "UPDATE t SET n = n * 10 WHERE n >= 2;\n"
        "/* a comment at the end */ ;  ");
    EXPECT_FALSE(script->hasResultSet());
    EXPECT_EQ(script->rowsAffected(), 5) << "three inserted and two updated";
    script.reset();

    auto mixed = connection->execute("DELETE FROM t WHERE n = 1; SELECT n FROM t ORDER BY n;");
    ASSERT_TRUE(mixed->hasResultSet());
    RowStore rows(1);
    EXPECT_EQ(mixed->fetch(rows, 10), 2u);
    EXPECT_EQ(cellText(rows, 0, 0), "20");
    mixed.reset();

    EXPECT_THROW(connection->execute("INSERT INTO t VALUES (4); SELEC 1; INSERT INTO t VALUES (5)"), DbError);
    EXPECT_EQ(scalar(*connection, "SELECT group_concat(n) FROM (SELECT n FROM t ORDER BY n)"), "4,20,30")
        << "statements before the faulty one ran, those after it did not";
    auto nothing = connection->execute("  -- only a comment\n");
    EXPECT_FALSE(nothing->hasResultSet());
    EXPECT_EQ(nothing->rowsAffected(), 0);
}

TEST_F(SqliteBackend, FetchStreamsAnEndlessResult) {
    auto connection = connect();
    // Reading ahead of what was asked would never end.
    auto cursor = connection->execute("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT x FROM c");
    RowStore rows(1);
    EXPECT_EQ(cursor->fetch(rows, 100), 100u);
    EXPECT_FALSE(cursor->atEnd());
    EXPECT_EQ(cursor->fetch(rows, 5), 5u);
    EXPECT_EQ(cellText(rows, 104, 0), "105");
}

TEST_F(SqliteBackend, AFailureInTheMiddleKeepsTheRowsBeforeIt) {
    auto connection = connect();
    auto cursor = connection->execute(
        "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 10) "
        "SELECT CASE WHEN x = 7 THEN abs(-9223372036854775807 - 1) ELSE x END FROM c");
    RowStore rows(1);
    try {
        cursor->fetch(rows, 100);
        FAIL() << "the overflow was not reported";
    } catch (const DbError& error) {
        EXPECT_NE(std::string(error.what()).find("integer overflow"), std::string::npos) << error.what();
    }
    EXPECT_EQ(rows.rowCount(), 6u);
    EXPECT_TRUE(cursor->atEnd());
}

TEST_F(SqliteBackend, FilesThatCannotBeOpenedSayWhy) {
    try {
        db::openSqlite({dir_.file("missing.db"), false, false});
        FAIL() << "a missing file was opened";
    } catch (const DbError& error) {
        EXPECT_NE(std::string(error.what()).find("missing.db"), std::string::npos) << error.what();
    }
    writeFile(dir_.file("text.db"), std::string(4096, 'x'));
    try {
        db::openSqlite({dir_.file("text.db"), false, false});
        FAIL() << "a text file was taken for a database";
    } catch (const DbError& error) {
        EXPECT_NE(std::string(error.what()).find("not a database"), std::string::npos) << error.what();
    }
    connect()->execute("CREATE TABLE t (n INTEGER)");
    auto readOnly = db::openSqlite({dir_.file("test.db"), true, false});
    EXPECT_EQ(scalar(*readOnly, "SELECT count(*) FROM t"), "0");
    try {
        readOnly->execute("INSERT INTO t VALUES (1)");
        FAIL() << "a read-only database was written";
    } catch (const DbError& error) {
        EXPECT_NE(std::string(error.what()).find("readonly"), std::string::npos) << error.what();
    }
}

}  // namespace
TEST_F(SqliteBackend, TheCatalogListsAttachedDatabasesAndSkipsOneThatIsGone) {
    connect()->execute("CREATE TABLE m (a INTEGER PRIMARY KEY, b)");
    db::openSqlite({dir_.file("other.db"), false, true})->execute("CREATE TABLE o (c TEXT NOT NULL)");
    auto reader = db::openSqliteCatalog({dir_.file("test.db"), false, false},
                                        {{"aux", dir_.file("other.db")}, {"lost", dir_.file("gone.db")}});
    const db::Catalog catalog = reader->read({});
    ASSERT_EQ(catalog.schemaCount(), 2u);
    EXPECT_EQ(catalog.schemaName(0), "main");
    EXPECT_EQ(catalog.schemaName(1), "aux");
    const auto other = catalog.findRelation("O");
    ASSERT_TRUE(other);
    EXPECT_EQ(catalog.relation(*other).schema, "aux");
    EXPECT_FALSE(catalog.column(*other, 0).nullable);
    const auto main = catalog.findRelation("main", "m");
    ASSERT_TRUE(main);
    EXPECT_EQ(catalog.column(*main, 0).keyPosition, 1);
    EXPECT_EQ(catalog.column(*main, 1).kind, FieldKind::String) << "no declared type: text of any length";
    EXPECT_EQ(catalog.column(*main, 1).typeName, "");
    EXPECT_EQ(catalog.gaps().schemasSkipped, 1);
    EXPECT_EQ(catalog.gaps().firstSkipped, "lost");
    EXPECT_NE(catalog.gaps().message.find("unable to open"), std::string::npos) << catalog.gaps().message;
    EXPECT_FALSE(std::filesystem::exists(dir_.file("gone.db"))) << "the catalog creates nothing";
}

}  // namespace tarnwell::test
