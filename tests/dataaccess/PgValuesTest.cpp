// What the PostgreSQL backend reports about a result: the field kind and
// declared sizes of each column type, and every value in its canonical text.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dataaccess/DbError.h"
#include "dataaccess/RowStore.h"
#include "dataaccess/postgres/PgConnection.h"
#include "support/TestEnvironment.h"

namespace {

using tarnwell::db::Column;
using tarnwell::db::Connection;
using tarnwell::db::Cursor;
using tarnwell::db::FieldKind;
using tarnwell::db::RowStore;

using Cell = std::optional<std::string>;
using Rows = std::vector<std::vector<Cell>>;

Rows readAll(Cursor& cursor) {
    RowStore store(cursor.columns().size());
    while (!cursor.atEnd()) {
        cursor.fetch(store, 500);
    }
    Rows rows(store.rowCount());
    for (std::size_t r = 0; r < store.rowCount(); ++r) {
        for (std::size_t c = 0; c < store.columnCount(); ++c) {
            const RowStore::Cell cell = store.cell(r, c);
            rows[r].push_back(cell.isNull ? Cell{} : Cell{std::string(cell.bytes)});
        }
    }
    return rows;
}

Rows query(Connection& connection, const std::string& sql) {
    auto cursor = connection.execute(sql);
    return readAll(*cursor);
}

void run(Connection& connection, const std::string& sql) {
    connection.execute(sql);
}

// One column of every type the backend names, declared in a table so the
// server reports declared sizes: its type, the kind and sizes it reports, a
// value and that value's canonical text.
struct TypedColumn {
    const char* type;
    const char* name;
    FieldKind kind;
    int size;
    int precision;
    std::string literal;
    std::string canonical;
};

const std::vector<TypedColumn> kTypedColumns = {
    {"smallint", "c_int2", FieldKind::Smallint, 0, 0, "-32768", "-32768"},
    {"integer", "c_int4", FieldKind::Integer, 0, 0, "2147483647", "2147483647"},
    {"bigint", "c_int8", FieldKind::LargeInt, 0, 0, "-9223372036854775808", "-9223372036854775808"},
    {"real", "c_float4", FieldKind::Float, 0, 0, "1.5", "1.5"},
    {"double precision", "c_float8", FieldKind::Float, 0, 0, "0.1", "0.1"},
    {"money", "c_money", FieldKind::Currency, 2, 0, "'-1234567.89'", "-1234567.89"},
    {"numeric(12,2)", "c_num12", FieldKind::BCD, 2, 12, "1234567890.12", "1234567890.12"},
    {"numeric(18,0)", "c_num18", FieldKind::BCD, 0, 18, "-123456789012345678", "-123456789012345678"},
    {"numeric(30,4)", "c_num30", FieldKind::FMTBcd, 4, 30, "-0.0001", "-0.0001"},
    {"numeric", "c_num", FieldKind::FMTBcd, 0, 0, "'NaN'", "NaN"},
    {"char(7)", "c_bpchar", FieldKind::FixedChar, 7, 0, "'ab'", "ab     "},
    {"\"char\"", "c_char", FieldKind::FixedChar, 1, 0, "'q'", "q"},
    {"varchar(20)", "c_varchar20", FieldKind::String, 20, 0, "'x y'", "x y"},
    {"varchar", "c_varchar", FieldKind::String, 0, 0, "'unbounded'", "unbounded"},
    {"name", "c_name", FieldKind::String, 63, 0, "'pg_class'", "pg_class"},
    {"text", "c_text", FieldKind::Memo, 0, 0, "'long text'", "long text"},
    {"bytea", "c_bytea", FieldKind::Blob, 0, 0, "'\\x00ff41'", std::string("\0\xff" "A", 3)},
    {"date", "c_date", FieldKind::Date, 0, 0, "'2024-02-29'", "2024-02-29"},
    {"time", "c_time", FieldKind::Time, 0, 0, "'23:59:59.999999'", "23:59:59.999999"},
    {"timetz", "c_timetz", FieldKind::Time, 0, 0, "'12:00:00+08'", "12:00:00+08"},
    {"timestamp", "c_timestamp", FieldKind::DateTime, 0, 0, "'2024-02-29 13:14:15.5'", "2024-02-29 13:14:15.5"},
    {"timestamp(3)", "c_timestamp3", FieldKind::DateTime, 0, 0, "'2024-02-29 13:14:15.1239'", "2024-02-29 13:14:15.124"},
    {"timestamptz", "c_timestamptz", FieldKind::DateTime, 0, 0, "'2024-02-29 13:14:15+00'", "2024-02-29 13:14:15+00"},
    {"boolean", "c_bool", FieldKind::Boolean, 0, 0, "true", "1"},
    {"uuid", "c_uuid", FieldKind::Guid, 0, 0, "'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11'", "a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11"},
    {"oid", "c_oid", FieldKind::Integer, 0, 0, "4000000000", "4000000000"},
    {"json", "c_json", FieldKind::Memo, 0, 0, "'{\"a\":  1}'", "{\"a\":  1}"},
    {"jsonb", "c_jsonb", FieldKind::Memo, 0, 0, "'{\"a\":  1}'", "{\"a\": 1}"},
    {"xml", "c_xml", FieldKind::Memo, 0, 0, "'<a>b</a>'", "<a>b</a>"},
    {"integer[]", "c_array", FieldKind::Memo, 0, 0, "'{1,NULL,3}'", "{1,NULL,3}"},
    {"interval", "c_interval", FieldKind::Memo, 0, 0, "'1 day 2 hours'", "1 day 02:00:00"},
};

std::unique_ptr<Connection> connectWithTypedTable(const tarnwell::test::TestServer& server) {
    auto connection = tarnwell::db::openPostgres(server.conninfo);
    run(*connection, "set TimeZone = 'UTC'");
    std::string create = "create temp table typed (";
    std::string values = "insert into typed values (";
    for (std::size_t i = 0; i < kTypedColumns.size(); ++i) {
        create += (i ? ", " : "") + std::string(kTypedColumns[i].name) + " " + kTypedColumns[i].type;
        values += (i ? ", " : "") + kTypedColumns[i].literal;
    }
    run(*connection, create + ")");
    run(*connection, values + ")");
    run(*connection, "insert into typed default values");  // all null
    return connection;
}

TEST(PgValues, EachColumnTypeGivesItsKindAndDeclaredSizes) {
    TARNWELL_REQUIRE_PG(server);
    auto connection = connectWithTypedTable(server);
    auto cursor = connection->execute("select * from typed");
    ASSERT_TRUE(cursor->hasResultSet());
    const std::vector<Column>& columns = cursor->columns();
    ASSERT_EQ(columns.size(), kTypedColumns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const TypedColumn& expected = kTypedColumns[i];
        SCOPED_TRACE(expected.type);
        EXPECT_EQ(columns[i].name, expected.name);
        EXPECT_EQ(columns[i].kind, expected.kind);
        EXPECT_EQ(columns[i].size, expected.size);
        EXPECT_EQ(columns[i].precision, expected.precision);
    }
}

TEST(PgValues, ExpressionsWithoutDeclaredSizesAndDomainsMapByTheirType) {
    TARNWELL_REQUIRE_PG(server);
    auto connection = tarnwell::db::openPostgres(server.conninfo);
    run(*connection, "create domain pg_temp.short_code as varchar(8)");
    auto cursor = connection->execute(
        "select 1 + 1 as sum, 'lit' as literal, 2.5 as num, cast('a' as pg_temp.short_code) as code, "
        "cast(7 as numeric(5,-2)) as rounded, now() - now() as span, 1::smallint::int8 as big");
    const std::vector<Column>& columns = cursor->columns();
    ASSERT_EQ(columns.size(), 7u);
    EXPECT_EQ(columns[0].kind, FieldKind::Integer);
    EXPECT_EQ(columns[1].kind, FieldKind::Memo);
    EXPECT_EQ(columns[2].kind, FieldKind::FMTBcd);
    EXPECT_EQ(columns[3].kind, FieldKind::String);
    EXPECT_EQ(columns[3].size, 8);
    EXPECT_EQ(columns[4].kind, FieldKind::BCD);
    EXPECT_EQ(columns[4].precision, 5);
    EXPECT_EQ(columns[4].size, 0);
    EXPECT_EQ(columns[5].kind, FieldKind::Memo);
    EXPECT_EQ(columns[6].kind, FieldKind::LargeInt);
    const Rows rows = readAll(*cursor);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], Cell("2"));
    EXPECT_EQ(rows[0][2], Cell("2.5"));
    EXPECT_EQ(rows[0][4], Cell("0"));
}

TEST(PgValues, EveryTypeGivesCanonicalTextAndNullsStayNull) {
    TARNWELL_REQUIRE_PG(server);
    auto connection = connectWithTypedTable(server);
    const Rows rows = query(*connection, "select * from typed");
    ASSERT_EQ(rows.size(), 2u);
    for (std::size_t i = 0; i < kTypedColumns.size(); ++i) {
        SCOPED_TRACE(kTypedColumns[i].type);
        EXPECT_EQ(rows[0][i], Cell(kTypedColumns[i].canonical));
        EXPECT_EQ(rows[1][i], Cell{});
    }
}

TEST(PgValues, SpecialNumbersAndBooleansKeepTheirCanonicalSpelling) {
    TARNWELL_REQUIRE_PG(server);
    auto connection = tarnwell::db::openPostgres(server.conninfo);
    const Rows rows = query(*connection,
                            "select 'Infinity'::float8, '-Infinity'::float8, 'NaN'::float4, "
                            "1e100::float8, 0.1::float4, 1.0/3::float8, 'Infinity'::numeric, "
                            "false, '1234.5'::money, 0::money, "
                            "'infinity'::timestamp, '0044-03-15 BC'::date");
    ASSERT_EQ(rows.size(), 1u);
    const std::vector<Cell> expected = {
        "Infinity", "-Infinity",          "NaN",      "1e+100", "0.1",      "0.3333333333333333",
        "Infinity", "0",                  "1234.50",  "0.00",   "infinity", "0044-03-15 BC",
    };
    EXPECT_EQ(rows[0], expected);
}

std::string allByteValues() {
    std::string bytes;
    for (int i = 0; i < 256; ++i) {
        bytes.push_back(static_cast<char>(i));
    }
    return bytes;
}

TEST(PgValues, BinaryDataComesBackByteForByteInEitherOutputForm) {
    TARNWELL_REQUIRE_PG(server);
    auto connection = tarnwell::db::openPostgres(server.conninfo);
    const std::string sql =
        "select decode(string_agg(lpad(to_hex(b), 2, '0'), '' order by b), 'hex'), "
        "''::bytea from generate_series(0, 255) b";
    const Rows hex = query(*connection, sql);
    EXPECT_EQ(hex[0][0], Cell(allByteValues()));
    EXPECT_EQ(hex[0][1], Cell(""));

    run(*connection, "set bytea_output = escape");
    const Rows escaped = query(*connection, sql);
    EXPECT_EQ(escaped[0][0], Cell(allByteValues()));
    EXPECT_EQ(escaped[0][1], Cell(""));
}

TEST(PgValues, TextWithLineBreaksTabsChineseAndMegabyteValuesIsKeptWhole) {
    TARNWELL_REQUIRE_PG(server);
    auto connection = tarnwell::db::openPostgres(server.conninfo);
    const std::string chinese = "資料庫查詢工具：繁體中文（測試）";
    const Rows rows = query(*connection,
                            "select E'a\\r\\nb\\tc\\n', '" + chinese + "'::varchar(30), "
                            "repeat('0123456789', 100000), '', repeat('字', 3)::char(5)");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], Cell("a\r\nb\tc\n"));
    EXPECT_EQ(rows[0][1], Cell(chinese));
    ASSERT_TRUE(rows[0][2].has_value());
    EXPECT_EQ(rows[0][2]->size(), 1000000u);
    EXPECT_EQ(rows[0][2]->substr(999990), "0123456789");
    EXPECT_EQ(rows[0][3], Cell(""));  // empty, not null
    EXPECT_EQ(rows[0][4], Cell("字字字  "));

    auto cursor = connection->execute("select '" + chinese + "' as \"欄位名稱\"");
    EXPECT_EQ(cursor->columns()[0].name, "欄位名稱");
}

TEST(PgValues, EmptyResultsAndWideResultsKeepTheirColumns) {
    TARNWELL_REQUIRE_PG(server);
    auto connection = tarnwell::db::openPostgres(server.conninfo);
    auto empty = connection->execute("select 1 as a, 'x'::varchar(3) as b where false");
    ASSERT_TRUE(empty->hasResultSet());
    ASSERT_EQ(empty->columns().size(), 2u);
    EXPECT_EQ(empty->columns()[1].size, 3);
    RowStore store(2);
    EXPECT_EQ(empty->fetch(store, 100), 0u);
    EXPECT_TRUE(empty->atEnd());
    empty.reset();

    std::string sql = "select ";
    for (int i = 1; i <= 1000; ++i) {
        sql += (i > 1 ? ", " : "") + std::to_string(i) + " as col" + std::to_string(i);
    }
    auto wide = connection->execute(sql);
    ASSERT_EQ(wide->columns().size(), 1000u);
    EXPECT_EQ(wide->columns()[999].name, "col1000");
    const Rows rows = readAll(*wide);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], Cell("1"));
    EXPECT_EQ(rows[0][999], Cell("1000"));
}

}  // namespace
