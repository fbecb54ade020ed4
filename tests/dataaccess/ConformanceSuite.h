#pragma once

// One suite for every backend: what the engines above the backends (the alias
// engine's Query and the connection-string engine's AdoQuery, each feeding a
// client dataset) must give, whatever database answers. A backend takes part
// by instantiating the suites with an adapter:
//
//   INSTANTIATE_TEST_SUITE_P(Sqlite, ConnectionConformance,
//                            ::testing::Values(sqliteAdapter()), adapterName);
//
// ServerConformance holds what only applies to a database server (logins, a
// server that goes away); StoredBytesConformance what only applies where text
// is stored byte for byte (SQLite). The adapter says how to reach a scratch
// database through both engines, which DDL type names give which kinds and
// which canonical text, and what the engine's own messages look like.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "dataaccess/Connection.h"
#include "dataaccess/FieldKind.h"
#include "dataaccess/ParamList.h"
#include "sqlsyntax/Dialect.h"

namespace tarnwell::test {

// One column kind: its DDL type, what the backend reports for it, a sample
// value as an SQL literal and that value's canonical text (Column.h).
struct KindCase {
    std::string ddlType;
    db::FieldKind kind = db::FieldKind::Unknown;
    int size = 0;
    std::string literal;
    std::string canonical;
    int precision = 0;
};

// A database the tests may create tables in, reachable directly and through
// both engines.
struct BackendTarget {
    std::function<std::unique_ptr<db::Connection>()> connect;
    std::string driver;            // the alias's TYPE
    db::ParamList aliasParams;     // the alias's parameters
    std::string connectionString;  // for the connection-string engine
    std::shared_ptr<void> resources;  // released when the test ends
};

// What can be wrong with a login.
enum class LoginFault { WrongPassword, UnknownHost };

struct BackendAdapter {
    std::string name;  // test name suffix: "Sqlite", "Postgres", ...
    // Why the backend cannot run here ("" when it can). Under CI=true a
    // reason fails the test instead of skipping it.
    std::function<std::string()> unavailable;
    std::function<BackendTarget()> makeTarget;
    // The SQL dialect of the database behind it.
    sql::Dialect dialect = sql::Dialect::Generic;

    std::vector<KindCase> kinds;
    std::string textType;    // unbounded text
    std::string binaryType;  // binary data
    std::function<std::string(std::string_view bytes)> binaryLiteral;
    // Runs for minutes unless cancelled, and returns a result set.
    std::string longRunningSql;
    // Parts of the engine's messages: for "SELEC 1", and for a statement
    // that was cancelled.
    std::string syntaxErrorFragment;
    std::string syntaxErrorState;  // its SQLSTATE, "" where the engine gives none
    // The error of a syntax error says where in the statement it lies.
    bool placesSyntaxErrors = false;
    std::string cancelFragment;

    // Database servers only (ServerConformance): the target with a login
    // fault, and the engine's words for each fault.
    std::function<BackendTarget(LoginFault)> faultyTarget;
    std::string wrongPasswordFragment;
    std::string unknownHostFragment;
    // What the engine says when the server ends the session mid-result (any
    // one of them).
    std::vector<std::string> sessionEndedFragments;
    // SQL giving the id of this session's server process, and SQL ending the
    // session of the process "{id}" from another session (a result, if it
    // gives one, is true).
    std::string sessionIdSql;
    std::string endSessionSql;
    // SQL whose result is `count` rows: the numbers from 1 up, and a text of
    // 100 characters.
    std::function<std::string(int count)> numberedRowsSql;
    // The driver reads a whole result while the statement runs, so a server
    // that goes away later takes no rows with it.
    bool resultArrivesWhole = false;

    // The catalog: the schema the test's tables are listed in, and a name
    // quoted for DDL (in double quotes unless given).
    std::string catalogSchema;
    std::function<std::string(std::string_view name)> quoteName;
    // Columns whose kind or sizes the catalog reports otherwise than a
    // result does: the DDL type, and what the catalog says.
    std::vector<KindCase> catalogKindQuirks;
    // The driver numbers a primary key's columns in their order in the
    // table, not in the key's.
    bool keyPositionsInColumnOrder = false;
    // A view can be left failing, its table dropped under it.
    bool viewsCanFail = false;
    // The catalog reads one snapshot: a table dropped after the listing
    // keeps its columns (otherwise it is skipped and counted). SQL that lets
    // another session drop a table while the catalog reads ("" when nothing
    // has to).
    bool catalogReadsOneSnapshot = false;
    std::string concurrentChangesSql;

    // Text stored byte for byte only (StoredBytesConformance): an SQL
    // expression whose value is TEXT holding the bytes A4 A4 FF 00 41 (Big5
    // for a Chinese character, a byte no UTF-8 has, a NUL, "A"), and the
    // bytes that come back (all of them, unless the engine ends text at a
    // NUL).
    std::string nonUtf8TextLiteral;
    std::string nonUtf8TextBytes;
};

std::string adapterName(const ::testing::TestParamInfo<BackendAdapter>& info);
// Shown as its name, so test names stay the same from run to run.
void PrintTo(const BackendAdapter& adapter, std::ostream* out);

class ConnectionConformance : public ::testing::TestWithParam<BackendAdapter> {
protected:
    void SetUp() override;

    const BackendAdapter& adapter() const { return GetParam(); }
    BackendTarget& target() { return target_; }
    std::unique_ptr<db::Connection> connect() { return target_.connect(); }
    // A table name of this test only (test processes may share a database).
    std::string table(std::string_view base) const;

private:
    BackendTarget target_;
};

class ServerConformance : public ConnectionConformance {};
class StoredBytesConformance : public ConnectionConformance {};

// An SQL string literal of text (quotes doubled).
std::string sqlText(std::string_view text);

}  // namespace tarnwell::test
