#pragma once

#include <mutex>
#include <vector>

#include "dataaccess/Backend.h"
#include "dataaccess/Catalog.h"
#include "dataaccess/CatalogReader.h"

namespace tarnwell::db {

// What to load a catalog of: the database the user's connection reaches
// (Database::backendSettings(), AdoConnection::backendSettings()), and for
// SQLite the databases attached to that connection.
struct CatalogRequest {
    BackendSettings backend;
    std::vector<SqliteAttachment> attached;
    CatalogProgress progress;
};

// One load of a catalog, on a connection of its own. Made for a thread of
// its own: the owner gives a shared_ptr to a worker thread that calls
// load(); whoever no longer wants the catalog (a window closing) calls
// cancel() and lets go of its pointer, without waiting for the worker, which
// ends soon after and frees the loader with the last pointer.
class CatalogLoader {
public:
    explicit CatalogLoader(CatalogRequest request) : request_(std::move(request)) {}
    CatalogLoader(const CatalogLoader&) = delete;
    CatalogLoader& operator=(const CatalogLoader&) = delete;

    // Connects and reads (CatalogReader::read()): what could not be read is
    // in the catalog's gaps. Throws DbError with the engine's message when it
    // cannot connect, and when cancelled. Called once.
    Catalog load();

    // From any thread at any time, before load() too: load() throws DbError
    // at its next step or at its end (a connect under way ends first, within
    // the connection's time-out).
    void cancel() noexcept;

private:
    void checkNotCancelled();

    CatalogRequest request_;
    std::mutex mutex_;
    CatalogReader* reader_ = nullptr;  // while load() reads
    bool cancelled_ = false;
};

}  // namespace tarnwell::db
