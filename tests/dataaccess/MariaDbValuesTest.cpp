// The MariaDB backend: the shared suites, then the types MariaDB has and the
// other engines lack (zero dates, BIT, unsigned integers, ENUM and SET,
// spatial values, text in legacy character sets), each with the kind and the
// text it is given.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "ConformanceSuite.h"
#include "DataTestSupport.h"
#include "ServerTestSupport.h"
#include "dataaccess/ConnectionString.h"
#include "dataaccess/DbError.h"
#include "dataaccess/ValueText.h"
#include "dataaccess/mariadb/MariaDbCatalog.h"
#include "dataaccess/mariadb/MariaDbConnection.h"
#include "sqlsyntax/Keywords.h"
#include "support/TestEnvironment.h"

namespace tarnwell::test {
namespace {

using db::Column;
using db::FieldKind;

// The suite writes standard SQL, where || joins text; MariaDB reads it as OR
// unless told otherwise.
constexpr const char* kPipesJoinText = "SET SESSION sql_mode = CONCAT(@@sql_mode, ',PIPES_AS_CONCAT')";

std::string hexLiteral(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    if (bytes.empty()) {
        return "''";
    }
    std::string out = "x'";
    for (char c : bytes) {
        out += kHex[static_cast<unsigned char>(c) >> 4];
        out += kHex[static_cast<unsigned char>(c) & 0x0f];
    }
    return out + "'";
}

// The test server as the alias engine and the connection-string engine name
// it, with a login fault where asked.
BackendTarget mariaDbTarget(std::optional<LoginFault> fault = std::nullopt) {
    const MariaDbTestServer& server = *testMariaDbServer();
    const std::string host = fault == LoginFault::UnknownHost ? "no-such-host.invalid" : server.host;
    const std::string password = fault == LoginFault::WrongPassword ? "not-the-password" : server.password;
    BackendTarget target;
    target.connect = [settings = mariaDbSettingsOf(server)]() mutable {
        settings.initCommand = kPipesJoinText;
        return db::openMariaDb(settings);
    };
    target.driver = "MARIADB";
    target.aliasParams.append("SERVER NAME", host);
    target.aliasParams.append("PORT", server.port);
    target.aliasParams.append("DATABASE NAME", server.database);
    target.aliasParams.append("USER NAME", server.user);
    target.aliasParams.append("PASSWORD", password);
    target.aliasParams.append("INIT COMMAND", kPipesJoinText);
    db::ConnectionString string;
    string.set("Provider", "MariaDB.1");
    string.set("Data Source", host + ":" + server.port + "/" + server.database);
    string.set("User ID", server.user);
    string.set("Password", password);
    string.set("Init Command", kPipesJoinText);
    target.connectionString = string.text();
    return target;
}

BackendAdapter mariaDbAdapter() {
    BackendAdapter adapter;
    adapter.name = "MariaDb";
    adapter.dialect = sql::Dialect::MariaDB;
    adapter.unavailable = [] {
        return testMariaDbServer() ? std::string() : std::string("no MariaDB test server (package mariadb-server)");
    };
    adapter.makeTarget = [] { return mariaDbTarget(); };
    adapter.faultyTarget = [](LoginFault fault) { return mariaDbTarget(fault); };
    adapter.kinds = {
        {"integer", FieldKind::Integer, 0, "-2147483648", "-2147483648"},
        {"smallint", FieldKind::Smallint, 0, "7", "7"},
        {"bigint", FieldKind::LargeInt, 0, "9007199254740993", "9007199254740993"},
        {"double", FieldKind::Float, 0, "1e300", "1e+300"},
        {"double", FieldKind::Float, 0, "1e10", "10000000000"},
        {"double", FieldKind::Float, 0, "0.1e0 + 0.2e0", "0.30000000000000004"},
        {"double", FieldKind::Float, 0, "1.5e-7", "1.5e-07"},
        {"float", FieldKind::Float, 0, "2.5", "2.5"},
        // The server sends a FLOAT with six significant digits.
        {"float", FieldKind::Float, 0, "1234567", "1.23457e+06"},
        {"decimal(10,2)", FieldKind::BCD, 2, "-123.45", "-123.45", 10},
        {"decimal(5,2) unsigned", FieldKind::BCD, 2, "1.5", "1.50", 5},
        {"decimal(20,4)", FieldKind::FMTBcd, 4, "98765432109876.5432", "98765432109876.5432", 20},
        {"char(10)", FieldKind::FixedChar, 10, "'ab  '", "ab"},
        {"varchar(20)", FieldKind::String, 20, "'one\r\ntwo\tthree'", "one\r\ntwo\tthree"},
        {"text", FieldKind::Memo, 0, "'繁體中文'", "繁體中文"},
        {"longtext", FieldKind::Memo, 0, "'Último Pau-De-Arara'", "Último Pau-De-Arara"},
        {"json", FieldKind::Memo, 0, "'{\"a\": [1, \"二\"]}'", "{\"a\": [1, \"二\"]}"},
        {"blob", FieldKind::Blob, 0, "x'0102'", "\x01\x02"},
        {"binary(3)", FieldKind::Bytes, 3, "x'01'", std::string("\x01\0\0", 3)},
        {"varbinary(8)", FieldKind::VarBytes, 8, "x'03'", "\x03"},
        {"date", FieldKind::Date, 0, "'2024-02-29'", "2024-02-29"},
        {"time", FieldKind::Time, 0, "'13:14:15'", "13:14:15"},
        {"time(6)", FieldKind::Time, 0, "'13:14:15.5'", "13:14:15.5"},
        {"datetime(2)", FieldKind::DateTime, 0, "'2024-02-29 13:14:15.25'", "2024-02-29 13:14:15.25"},
        {"datetime", FieldKind::DateTime, 0, "'2024-02-29 13:14:15'", "2024-02-29 13:14:15"},
        {"timestamp(6) null", FieldKind::DateTime, 0, "'2024-02-29 13:14:15.125'", "2024-02-29 13:14:15.125"},
        // BOOLEAN is TINYINT(1), which holds any small number: a number it
        // stays, as the ODBC driver reports it.
        {"boolean", FieldKind::Smallint, 0, "true", "1"},
        {"bit(1)", FieldKind::Boolean, 0, "1", "1"},
        {"uuid", FieldKind::Guid, 0, "'6F9619FF-8B86-D011-B42D-00C04FC964FF'", "6f9619ff-8b86-d011-b42d-00c04fc964ff"},
    };
    adapter.textType = "longtext";
    adapter.binaryType = "longblob";
    adapter.binaryLiteral = hexLiteral;
    adapter.longRunningSql = "SELECT SLEEP(30)";
    adapter.syntaxErrorFragment = "You have an error in your SQL syntax";
    adapter.syntaxErrorState = "42000";
    adapter.placesSyntaxErrors = true;
    adapter.cancelFragment = "Query execution was interrupted";
    adapter.wrongPasswordFragment = "Access denied for user 'tarnwell'";
    adapter.unknownHostFragment = "Unknown server host 'no-such-host.invalid'";
    adapter.sessionEndedFragments = {"Lost connection", "server has gone away", "Connection was killed"};
    adapter.sessionIdSql = "SELECT CONNECTION_ID()";
    adapter.endSessionSql = "KILL {id}";
    adapter.numberedRowsSql = [](int count) {
        return "SELECT seq, repeat('x', 100) FROM seq_1_to_" + std::to_string(count);
    };
    adapter.catalogSchema = "tarnwell_test";
    adapter.quoteName = [](std::string_view name) { return sql::quoteIdentifier(sql::Dialect::MariaDB, name); };
    adapter.viewsCanFail = true;
    return adapter;
}

INSTANTIATE_TEST_SUITE_P(MariaDb, ConnectionConformance, ::testing::Values(mariaDbAdapter()), adapterName);
INSTANTIATE_TEST_SUITE_P(MariaDb, ServerConformance, ::testing::Values(mariaDbAdapter()), adapterName);

// One value in a column of one type, as the backend reports it and as the
// windows show it.
struct OneValue {
    Column column;
    std::optional<std::string> cell;
    std::string shown;
};

// `literal` stored in a column of type `ddl` (under `sqlMode`, when given),
// read back.
OneValue storedValue(db::Connection& connection, const std::string& ddl, const std::string& literal,
                     const std::string& sqlMode = {}) {
    if (!sqlMode.empty()) {
        connection.execute("SET SESSION sql_mode = '" + sqlMode + "'");
    }
    connection.execute("CREATE OR REPLACE TEMPORARY TABLE one_value (v " + ddl + ")");
    connection.execute("INSERT INTO one_value VALUES (" + literal + ")");
    auto cursor = connection.execute("SELECT v FROM one_value");
    OneValue value{cursor->columns().at(0), {}, {}};
    const ResultRows rows = readAll(*cursor);
    if (rows.size() == 1) {
        value.cell = rows[0][0];
    }
    db::RowStore store(1);
    store.beginRow();
    value.cell ? store.append(*value.cell) : store.appendNull();
    store.endRow();
    value.shown = db::valueText(value.column.kind, store.cell(0, 0)).toStdString();
    return value;
}

TEST(MariaDbValues, ZeroAndInvalidDatesAndLongTimesComeAsTheServerWritesThem) {
    TARNWELL_REQUIRE_MARIADB(server);
    auto connection = db::openMariaDb(mariaDbSettingsOf(server));
    const OneValue zeroDate = storedValue(*connection, "date", "'0000-00-00'", "ALLOW_INVALID_DATES");
    EXPECT_EQ(zeroDate.column.kind, FieldKind::Date);
    EXPECT_EQ(zeroDate.cell, "0000-00-00");
    EXPECT_EQ(zeroDate.shown, "0000-00-00") << "no such day: shown as stored";
    const OneValue zeroStamp = storedValue(*connection, "datetime(3)", "'0000-00-00 00:00:00'");
    EXPECT_EQ(zeroStamp.column.kind, FieldKind::DateTime);
    EXPECT_EQ(zeroStamp.cell, "0000-00-00 00:00:00");
    const OneValue invalid = storedValue(*connection, "date", "'2024-02-30'");
    EXPECT_EQ(invalid.cell, "2024-02-30");
    EXPECT_EQ(invalid.shown, "2024-02-30");
    const OneValue longTime = storedValue(*connection, "time(1)", "'-838:59:59.5'");
    EXPECT_EQ(longTime.column.kind, FieldKind::Time);
    EXPECT_EQ(longTime.cell, "-838:59:59.5");

    // A strict server refuses the invalid day itself.
    storedValue(*connection, "date", "NULL", "STRICT_ALL_TABLES");
    try {
        connection->execute("INSERT INTO one_value VALUES ('2024-02-30')");
        ADD_FAILURE() << "a strict server took 2024-02-30";
    } catch (const db::DbError& error) {
        EXPECT_NE(std::string(error.what()).find("Incorrect date value"), std::string::npos) << error.what();
    }
}

TEST(MariaDbValues, BitColumnsAreAFlagOrTheNumberTheirBitsMake) {
    TARNWELL_REQUIRE_MARIADB(server);
    auto connection = db::openMariaDb(mariaDbSettingsOf(server));
    const OneValue flag = storedValue(*connection, "bit(1)", "b'0'");
    EXPECT_EQ(flag.column.kind, FieldKind::Boolean);
    EXPECT_EQ(flag.cell, "0");
    EXPECT_EQ(flag.shown, "False");
    const OneValue ten = storedValue(*connection, "bit(10)", "b'1010101010'");
    EXPECT_EQ(ten.column.kind, FieldKind::LargeInt);
    EXPECT_EQ(ten.cell, "682");
    const OneValue full = storedValue(*connection, "bit(64)", "b'" + std::string(64, '1') + "'");
    EXPECT_EQ(full.cell, "18446744073709551615");
}

TEST(MariaDbValues, IntegersKeepEveryDigitAndGetAKindTheirRangeFits) {
    TARNWELL_REQUIRE_MARIADB(server);
    auto connection = db::openMariaDb(mariaDbSettingsOf(server));
    const struct {
        std::string ddl;
        std::string literal;
        FieldKind kind;
    } cases[] = {
        {"tinyint(1)", "-5", FieldKind::Smallint},
        {"tinyint unsigned", "255", FieldKind::Smallint},
        {"smallint unsigned", "65535", FieldKind::Word},
        {"mediumint unsigned", "16777215", FieldKind::Integer},
        {"int unsigned", "4294967295", FieldKind::LargeInt},
        {"bigint unsigned", "18446744073709551615", FieldKind::LargeInt},
        {"year", "2024", FieldKind::Smallint},
    };
    for (const auto& [ddl, literal, kind] : cases) {
        SCOPED_TRACE(ddl);
        const OneValue value = storedValue(*connection, ddl, literal);
        EXPECT_EQ(value.column.kind, kind);
        EXPECT_EQ(value.cell, literal);
        EXPECT_EQ(value.shown, literal);
    }
}

TEST(MariaDbValues, EnumAndSetAreTextSizedByTheirLongestValue) {
    TARNWELL_REQUIRE_MARIADB(server);
    auto connection = db::openMariaDb(mariaDbSettingsOf(server));
    const OneValue size = storedValue(*connection, "enum('小','中杯','特大杯')", "'中杯'");
    EXPECT_EQ(size.column.kind, FieldKind::String);
    EXPECT_EQ(size.column.size, 3);
    EXPECT_EQ(size.cell, "中杯") << "never padded to the width";
    const OneValue flags = storedValue(*connection, "set('x','yy','zzz')", "'zzz,x'");
    EXPECT_EQ(flags.column.kind, FieldKind::String);
    EXPECT_EQ(flags.column.size, 8);
    EXPECT_EQ(flags.cell, "x,zzz") << "in the order of the definition";
}

TEST(MariaDbValues, SpatialValuesAreTheServersBytesAndItsTextOnRequest) {
    TARNWELL_REQUIRE_MARIADB(server);
    auto connection = db::openMariaDb(mariaDbSettingsOf(server));
    const OneValue point = storedValue(*connection, "point", "ST_PointFromText('POINT(1 2)', 4326)");
    EXPECT_EQ(point.column.kind, FieldKind::Blob);
    ASSERT_TRUE(point.cell);
    ASSERT_EQ(point.cell->size(), 25u) << "a 4-byte SRID, then the WKB of a point";
    EXPECT_EQ(point.cell->substr(0, 6), std::string("\xe6\x10\0\0\x01\x01", 6)) << "SRID 4326, little-endian point";
    const ResultRows text = query(*connection, "SELECT ST_AsText(v) FROM one_value");
    EXPECT_EQ(text, ResultRows({{CellValue("POINT(1 2)")}}));
}

// The catalog describes a column from information_schema, a result from the
// field the server sends: the two must agree on MariaDB's own types too.
TEST(MariaDbValues, TheCatalogGivesEveryTypeTheKindAndSizesOfAResult) {
    TARNWELL_REQUIRE_MARIADB(server);
    const std::string table = "cat_types_" + std::to_string(::getpid());
    const std::vector<std::string> types = {
        "tinyint(1)", "tinyint unsigned", "smallint unsigned", "mediumint", "mediumint unsigned", "int unsigned",
        "bigint unsigned", "year", "float", "real", "decimal(30,10) unsigned", "bit(10)", "enum('小','中杯','特大杯')",
        "set('x','yy','zzz')", "char(5) character set latin1", "varchar(10) character set big5", "tinytext",
        "mediumblob", "binary(4)", "point", "multipolygon", "geometry", "inet4", "inet6", "time(3)", "timestamp(2) null",
    };
    auto connection = db::openMariaDb(mariaDbSettingsOf(server));
    std::string create = "CREATE TABLE " + table + " (k integer";
    for (std::size_t i = 0; i < types.size(); ++i) {
        create += ", c" + std::to_string(i) + " " + types[i];
    }
    connection->execute("DROP TABLE IF EXISTS " + table);
    connection->execute(create + ")");
    const std::vector<Column> result = connection->execute("SELECT * FROM " + table + " LIMIT 0")->columns();
    const db::Catalog catalog = db::openMariaDbCatalog(mariaDbSettingsOf(server))->read({});
    connection->execute("DROP TABLE " + table);
    const auto relation = catalog.findRelation(server.database, table);
    ASSERT_TRUE(relation);
    ASSERT_EQ(catalog.columnCount(*relation), result.size());
    for (std::size_t i = 1; i < result.size(); ++i) {
        const db::CatalogColumn column = catalog.column(*relation, i);
        SCOPED_TRACE(types[i - 1]);
        EXPECT_EQ(db::fieldKindName(column.kind), db::fieldKindName(result[i].kind));
        EXPECT_EQ(column.size, result[i].size);
        EXPECT_EQ(column.precision, result[i].precision);
    }
}

TEST(MariaDbValues, FourByteCharactersAndLegacyCharacterSetsArriveAsUtf8) {
    TARNWELL_REQUIRE_MARIADB(server);
    auto connection = db::openMariaDb(mariaDbSettingsOf(server));
    const OneValue emoji = storedValue(*connection, "varchar(3)", "'😀𠀋字'");
    EXPECT_EQ(emoji.column.size, 3) << "sized in characters, not in bytes";
    EXPECT_EQ(emoji.cell, "😀𠀋字");

    const OneValue big5 = storedValue(*connection, "char(4) character set big5", "'臺灣'");
    EXPECT_EQ(big5.column.kind, FieldKind::FixedChar);
    EXPECT_EQ(big5.column.size, 4);
    EXPECT_EQ(big5.cell, "臺灣");
    const OneValue gbk = storedValue(*connection, "varchar(10) character set gbk", "'中国'");
    EXPECT_EQ(gbk.column.kind, FieldKind::String);
    EXPECT_EQ(gbk.column.size, 10);
    EXPECT_EQ(gbk.cell, "中国");

    // What Big5 cannot hold is refused by a strict server, and stored as "?"
    // by a lenient one.
    connection->execute("SET SESSION sql_mode = 'STRICT_ALL_TABLES'");
    connection->execute("CREATE OR REPLACE TEMPORARY TABLE legacy (v varchar(4) character set big5)");
    EXPECT_THROW(connection->execute("INSERT INTO legacy VALUES ('😀')"), db::DbError);
    connection->execute("SET SESSION sql_mode = ''");
    connection->execute("INSERT INTO legacy VALUES ('😀台')");
    EXPECT_EQ(query(*connection, "SELECT v FROM legacy"), ResultRows({{CellValue("?台")}}));
}

}  // namespace
}  // namespace tarnwell::test
