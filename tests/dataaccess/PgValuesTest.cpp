// The PostgreSQL backend: the shared suites, then what PostgreSQL reports
// that no other engine does (expressions and domains, special values, the
// escape form of bytea).
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ConformanceSuite.h"
#include "DataTestSupport.h"
#include "dataaccess/DbError.h"
#include "dataaccess/RowStore.h"
#include "dataaccess/postgres/PgConnection.h"
#include "support/TestEnvironment.h"

namespace tarnwell::test {
namespace {

using tarnwell::db::Column;
using tarnwell::db::Connection;
using tarnwell::db::Cursor;
using tarnwell::db::FieldKind;
using tarnwell::db::RowStore;

std::string pgByteaLiteral(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "'\\x";
    for (char c : bytes) {
        out += kHex[static_cast<unsigned char>(c) >> 4];
        out += kHex[static_cast<unsigned char>(c) & 0x0f];
    }
    return out + "'::bytea";
}

// The test server as the alias engine and the connection-string engine name
// it, with a login fault where asked.
BackendTarget postgresTarget(std::optional<LoginFault> fault = std::nullopt) {
    const TestServer& server = *testServer();
    const std::string host = fault == LoginFault::UnknownHost ? "no-such-host.invalid" : server.host;
    const std::string password = fault == LoginFault::WrongPassword ? "not-the-password" : server.password;
    BackendTarget target;
    target.connect = [conninfo = server.conninfo] { return db::openPostgres(conninfo); };
    target.driver = "POSTGRESQL";
    target.aliasParams.append("SERVER NAME", host);
    target.aliasParams.append("PORT", server.port);
    target.aliasParams.append("DATABASE NAME", server.database);
    target.aliasParams.append("USER NAME", server.user);
    target.aliasParams.append("PASSWORD", password);
    target.connectionString = "Provider=PostgreSQL.1;Data Source=" + host + ":" + server.port + "/" +
                              server.database + ";User ID=" + server.user + ";Password=" + password;
    return target;
}

BackendAdapter postgresAdapter() {
    BackendAdapter adapter;
    adapter.name = "Postgres";
    adapter.dialect = sql::Dialect::PostgreSQL;
    adapter.unavailable = [] {
        return testServer() ? std::string() : std::string("no PostgreSQL test server (run the tests through ctest)");
    };
    adapter.makeTarget = [] { return postgresTarget(); };
    adapter.faultyTarget = [](LoginFault fault) { return postgresTarget(fault); };
    adapter.kinds = {
        {"smallint", FieldKind::Smallint, 0, "-32768", "-32768"},
        {"integer", FieldKind::Integer, 0, "2147483647", "2147483647"},
        {"bigint", FieldKind::LargeInt, 0, "-9223372036854775808", "-9223372036854775808"},
        {"real", FieldKind::Float, 0, "1.5", "1.5"},
        {"real", FieldKind::Float, 0, "1234567", "1.234567e+06"},
        {"double precision", FieldKind::Float, 0, "0.1", "0.1"},
        {"double precision", FieldKind::Float, 0, "0.1::float8 + 0.2::float8", "0.30000000000000004"},
        {"double precision", FieldKind::Float, 0, "1e10", "10000000000"},
        {"double precision", FieldKind::Float, 0, "'-Infinity'", "-Infinity"},
        {"money", FieldKind::Currency, 2, "'-1234567.89'", "-1234567.89"},
        {"numeric(12,2)", FieldKind::BCD, 2, "1234567890.12", "1234567890.12", 12},
        {"numeric(18,0)", FieldKind::BCD, 0, "-123456789012345678", "-123456789012345678", 18},
        {"numeric(30,4)", FieldKind::FMTBcd, 4, "-0.0001", "-0.0001", 30},
        {"numeric", FieldKind::FMTBcd, 0, "'NaN'", "NaN"},
        {"char(7)", FieldKind::FixedChar, 7, "'ab'", "ab     "},
        {"char(5)", FieldKind::FixedChar, 5, "'字字字'", "字字字  "},
        {"\"char\"", FieldKind::FixedChar, 1, "'q'", "q"},
        {"varchar(20)", FieldKind::String, 20, "'x y'", "x y"},
        {"varchar", FieldKind::String, 0, "'unbounded'", "unbounded"},
        {"name", FieldKind::String, 63, "'pg_class'", "pg_class"},
        {"text", FieldKind::Memo, 0, "'long text'", "long text"},
        {"bytea", FieldKind::Blob, 0, "'\\x00ff41'", std::string("\0\xff" "A", 3)},
        {"date", FieldKind::Date, 0, "'2024-02-29'", "2024-02-29"},
        {"time", FieldKind::Time, 0, "'23:59:59.999999'", "23:59:59.999999"},
        {"time", FieldKind::Time, 0, "'23:59:59.500'", "23:59:59.5"},
        {"timetz", FieldKind::Time, 0, "'12:00:00+08'", "12:00:00+08"},
        {"timestamp", FieldKind::DateTime, 0, "'2024-02-29 13:14:15.5'", "2024-02-29 13:14:15.5"},
        {"timestamp(3)", FieldKind::DateTime, 0, "'2024-02-29 13:14:15.1239'", "2024-02-29 13:14:15.124"},
        {"boolean", FieldKind::Boolean, 0, "true", "1"},
        {"uuid", FieldKind::Guid, 0, "'A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11'", "a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11"},
        {"oid", FieldKind::Integer, 0, "4000000000", "4000000000"},
        {"json", FieldKind::Memo, 0, "'{\"a\":  1}'", "{\"a\":  1}"},
        {"jsonb", FieldKind::Memo, 0, "'{\"a\":  1}'", "{\"a\": 1}"},
        {"xml", FieldKind::Memo, 0, "'<a>b</a>'", "<a>b</a>"},
        {"integer[]", FieldKind::Memo, 0, "'{1,NULL,3}'", "{1,NULL,3}"},
        {"interval", FieldKind::Memo, 0, "'1 day 2 hours'", "1 day 02:00:00"},
    };
    adapter.textType = "text";
    adapter.binaryType = "bytea";
    adapter.binaryLiteral = pgByteaLiteral;
    adapter.longRunningSql = "SELECT pg_sleep(30)";
    adapter.syntaxErrorFragment = "syntax error at or near \"SELEC\"";
    adapter.syntaxErrorState = "42601";
    adapter.placesSyntaxErrors = true;
    adapter.cancelFragment = "canceling statement due to user request";
    adapter.wrongPasswordFragment = "password authentication failed for user \"" + std::string("tarnwell") + "\"";
    adapter.unknownHostFragment = "could not translate host name \"no-such-host.invalid\"";
    adapter.sessionEndedFragments = {"terminating connection due to administrator command",
                                     "server closed the connection unexpectedly"};
    adapter.sessionIdSql = "SELECT pg_backend_pid()";
    adapter.endSessionSql = "SELECT pg_terminate_backend({id})";
    adapter.numberedRowsSql = [](int count) {
        return "SELECT g, repeat('x', 100) FROM generate_series(1, " + std::to_string(count) + ") g";
    };
    adapter.catalogSchema = "public";
    adapter.catalogReadsOneSnapshot = true;
    return adapter;
}

INSTANTIATE_TEST_SUITE_P(Postgres, ConnectionConformance, ::testing::Values(postgresAdapter()), adapterName);
INSTANTIATE_TEST_SUITE_P(Postgres, ServerConformance, ::testing::Values(postgresAdapter()), adapterName);



using Cell = CellValue;
using Rows = ResultRows;

void run(Connection& connection, const std::string& sql) {
    connection.execute(sql);
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

TEST(PgValues, SpecialValuesAndTimeZonesKeepTheirCanonicalSpelling) {
    TARNWELL_REQUIRE_PG(server);
    auto connection = tarnwell::db::openPostgres(server.conninfo);
    run(*connection, "set TimeZone = 'UTC'");
    const Rows rows = query(*connection,
                            "select 'Infinity'::float8, '-Infinity'::float8, 'NaN'::float4, "
                            "1e100::float8, 0.1::float4, 1.0/3::float8, 'Infinity'::numeric, "
                            "false, '1234.5'::money, 0::money, "
                            "'infinity'::timestamp, '0044-03-15 BC'::date, "
                            "'2024-02-29 13:14:15.5+08'::timestamptz, '-0'::float8");
    ASSERT_EQ(rows.size(), 1u);
    const std::vector<Cell> expected = {
        "Infinity", "-Infinity", "NaN",      "1e+100",   "0.1",           "0.3333333333333333",
        "Infinity", "0",         "1234.50",  "0.00",     "infinity",      "0044-03-15 BC",
        "2024-02-29 05:14:15.5+00", "-0",
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

}  // namespace
}  // namespace tarnwell::test
