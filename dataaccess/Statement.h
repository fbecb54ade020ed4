#pragma once

#include <cstdint>
#include <string>

#include "dataaccess/Connection.h"
#include "dataaccess/RowSource.h"

namespace tarnwell::db {

// A statement of either engine: the alias engine's Query and the
// connection-string engine's AdoQuery. Whoever runs SQL (a query window, its
// query thread, a batch run) drives both through this, and reads a result
// set through the RowSource side, packet by packet.
class Statement : public RowSource {
public:
    virtual const std::string& sql() const noexcept = 0;
    virtual void setSql(std::string sql) = 0;

    // Runs the SQL, expecting a result set. True when one came back: the
    // statement is then open on it. False when the statement returned none;
    // it has run all the same, and rowsAffected() tells what it changed.
    // Throws DbError with the engine's message.
    virtual bool openResult() = 0;
    // Runs the SQL for its effect; rows it returns are read and dropped, and
    // rowsAffected() counts them.
    virtual void execSql() = 0;
    virtual void close() = 0;
    // Rows changed by the last statement without a result set, or returned
    // to execSql(); -1 while a result set is open.
    virtual std::int64_t rowsAffected() const noexcept = 0;
    // Stops the running statement; any thread.
    virtual void cancel() noexcept = 0;

    // The run of a query window: the SQL is opened when it is row-returning
    // by its text (SqlText.h), executed otherwise. Returns whether a result
    // set came back (the statement is then open on it).
    bool run();

    // Like openResult(), but a statement without a result set is an error:
    // NoResultSetError, carrying the rows it changed.
    void open();

    // A refresh opens the same statement again.
    void rerun() override { open(); }

protected:
    // Why open() found no result set.
    virtual std::string noResultSetReason() const;

    // Reads what is left of a cursor's result and drops it; the rows read.
    static std::int64_t readToEnd(Cursor& cursor);
};

}  // namespace tarnwell::db
