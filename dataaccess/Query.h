#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dataaccess/Statement.h"

namespace tarnwell::db {

class Session;
namespace detail {
struct QueryState;
}

// A statement of the alias engine, run on the database of its session that
// bears its database name.
//
// open() expects a result set; a statement without one has run all the same,
// and open() then throws NoResultSetError with the rows it changed
// (openResult() says so instead). execSql() runs a statement for its effect:
// rowsAffected() tells the rows changed (for a statement that did return
// rows, how many it returned).
//
// A query is driven from one thread at a time, which need not be the thread
// that opened its database; cancel() may come from any thread. While a
// statement runs, fetch() from another thread fails at once with a DbError
// rather than waiting for it.
//
// cancel() stops the statement the engine is running; one that arrives just
// before the statement reaches the engine can be missed, so a caller that
// must stop a run repeats it until the run ends (Database::close() does).
class Query : public Statement {
public:
    explicit Query(Session& session);
    ~Query() override;
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    const std::string& databaseName() const noexcept { return databaseName_; }
    void setDatabaseName(std::string name) { databaseName_ = std::move(name); }

    // Statement
    const std::string& sql() const noexcept override { return sql_; }
    void setSql(std::string sql) override { sql_ = std::move(sql); }
    bool openResult() override;
    void execSql() override;
    void close() override;
    std::int64_t rowsAffected() const noexcept override;
    void cancel() noexcept override;

    // RowSource
    bool active() const override;
    const std::vector<Column>& columns() const override;
    std::size_t fetch(RowStore& rows, std::size_t maxRows) override;
    std::size_t fetchFromRun(RowStore& rows, std::size_t maxRows, std::uint64_t run) override;
    bool atEnd() const override;
    std::uint64_t runId() const override;

private:
    // True when a result set is open.
    bool runSql(bool wantRows);
    // fetch() once the run lock is held.
    std::size_t fetchHoldingRun(RowStore& rows, std::size_t maxRows);

    Session& session_;
    std::string databaseName_;
    std::string sql_;
    std::shared_ptr<detail::QueryState> state_;
};

}  // namespace tarnwell::db
