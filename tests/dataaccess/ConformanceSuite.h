#pragma once

// The Connection/Cursor contract, tested alike for every backend. A backend
// takes part by instantiating the suite with an adapter:
//
//   INSTANTIATE_TEST_SUITE_P(Sqlite, ConnectionConformance,
//                            ::testing::Values(sqliteAdapter()), adapterName);
//
// The adapter says how to reach a scratch database, which DDL type names give
// which kinds, and how to make a statement that runs long enough to be
// cancelled.

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataaccess/Connection.h"
#include "dataaccess/FieldKind.h"
#include "dataaccess/ParamList.h"

namespace tarnwell::test {

// One column kind: its DDL type, what the backend reports for it, a sample
// value as an SQL literal and that value's canonical text (Column.h).
struct KindCase {
    std::string ddlType;
    db::FieldKind kind = db::FieldKind::Unknown;
    int size = 0;
    std::string literal;
    std::string canonical;
};

// A database the tests may create tables in, reachable both directly and
// through an alias of the alias engine.
struct BackendTarget {
    std::function<std::unique_ptr<db::Connection>()> connect;
    std::string driver;         // the alias's TYPE
    db::ParamList aliasParams;  // parameters reaching the same database
    std::shared_ptr<void> resources;  // released when the test ends
};

struct BackendAdapter {
    std::string name;  // test name suffix: "Sqlite", "Postgres", ...
    // Why the backend cannot run here ("" when it can). Under CI=true a
    // reason fails the test instead of skipping it.
    std::function<std::string()> unavailable;
    std::function<BackendTarget()> makeTarget;

    std::vector<KindCase> kinds;
    std::string textType;    // unbounded text
    std::string binaryType;  // binary data
    std::function<std::string(std::string_view bytes)> binaryLiteral;
    // Runs for minutes unless cancelled, and returns a result set.
    std::string longRunningSql;
    // A part of the engine's message for the statement "SELEC 1".
    std::string syntaxErrorFragment;
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
    // A table name of this test only (test processes may share a server).
    std::string table(std::string_view base) const;

private:
    BackendTarget target_;
};

// An SQL string literal of text (quotes doubled).
std::string sqlText(std::string_view text);

}  // namespace tarnwell::test
