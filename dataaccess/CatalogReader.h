#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataaccess/Catalog.h"
#include "dataaccess/Column.h"
#include "dataaccess/Connection.h"
#include "dataaccess/DbError.h"
#include "dataaccess/RowStore.h"

namespace tarnwell::db {

// What a load tells as it goes, on the thread that loads.
struct CatalogProgress {
    // The tables and views are listed (this many); their columns come next.
    std::function<void(std::size_t relations)> relationsListed;
};

// Reads the catalog of one database on a connection of its own, never on one
// that runs a user's statements (which may be busy). Each backend makes its
// own, connected, through its open...Catalog function; CatalogLoader.h picks
// the backend.
//
// read() runs on one thread at a time, which need not be the one that made
// the reader; cancel() may come from any thread at any time.
class CatalogReader {
public:
    virtual ~CatalogReader() = default;

    // Reads every schema the user may read, its tables and views, and their
    // columns. A part the user may not read or the engine fails on is left
    // out and counted (Catalog::gaps()); when the engine fails so that
    // nothing more can be read (the server went away), what was read before
    // is kept and the failure noted. Throws DbError only when cancelled.
    virtual Catalog read(const CatalogProgress& progress) = 0;

    // Makes a read() in progress on another thread, or the next one, throw
    // DbError at its next step; a statement running on the engine is asked
    // to stop. A reader once cancelled stays so.
    virtual void cancel() noexcept = 0;
};

// The error of a cancelled load.
DbError catalogCancelledError();

// What the readers share: the cancel flag, and the course of a read.
class CatalogReaderBase : public CatalogReader {
protected:
    void noteCancelled() noexcept { cancelled_ = true; }
    void throwIfCancelled() const;

    // Lists the relations (`list`), says how many to `progress`, then reads
    // their columns (`columns`). When the engine fails in either so that
    // nothing more can be read, what was read is kept and the failure noted;
    // a cancel is thrown on.
    Catalog listThenReadColumns(const CatalogProgress& progress, const std::function<void(CatalogBuilder&)>& list,
                                const std::function<void(CatalogBuilder&)>& columns);

private:
    std::atomic<bool> cancelled_{false};
};

// A reader that reads through the statements of a Connection.
class ConnectionCatalogReader : public CatalogReaderBase {
public:
    explicit ConnectionCatalogReader(std::unique_ptr<Connection> connection) : connection_(std::move(connection)) {}

    void cancel() noexcept override {
        noteCancelled();
        connection_->cancel();
    }

protected:
    Connection& connection() noexcept { return *connection_; }

    // Runs `sql` and hands every row of its result to `take`, a batch at a
    // time, so a result of any size holds little memory. Throws the engine's
    // DbError, or catalogCancelledError() when the reader was cancelled.
    void forEachRow(const std::string& sql, const std::function<void(const RowStore& rows, std::size_t row)>& take);
    // Runs `sql` for its effect.
    void run(const std::string& sql);
    // The columns of `sql`'s result, as the field list shows them.
    std::vector<Column> resultColumns(const std::string& sql);

    // A row's cells as the readers take them.
    static std::string_view textAt(const RowStore& rows, std::size_t row, std::size_t column) noexcept;
    static long long numberAt(const RowStore& rows, std::size_t row, std::size_t column) noexcept;  // 0 for NULL
    static bool isTrueAt(const RowStore& rows, std::size_t row, std::size_t column) noexcept;
    // An SQL string literal of `text` (quotes doubled).
    static std::string literal(std::string_view text);

private:
    std::unique_ptr<Connection> connection_;
};

}  // namespace tarnwell::db
