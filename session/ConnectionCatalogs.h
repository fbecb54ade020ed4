#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "dataaccess/Backend.h"
#include "dataaccess/Catalog.h"
#include "sqlsyntax/Dialect.h"

namespace tarnwell {

// The catalog of one registered connection (its tables, views and columns),
// shared by the query windows on it. It loads on a thread of its own, over
// a connection of its own, while the windows go on; loading again (a refresh,
// a statement that changed the schema) leaves the catalog loaded before in
// use until the new one is there.
//
// The windows hold it; when the last one lets go (a window closing during a
// load) it goes at once: a load under way is cancelled and its thread left
// to end by itself, never waited for.
class SharedCatalog : public QObject {
    Q_OBJECT
public:
    ~SharedCatalog() override;

    const QString& key() const noexcept { return key_; }
    sql::Dialect dialect() const noexcept { return dialect_; }
    // The last catalog loaded; an empty one before the first load ends.
    std::shared_ptr<const db::Catalog> catalog() const { return catalog_; }
    bool loading() const noexcept { return loading_; }
    // A load has ended since the catalog was made (well or not).
    bool loadedOnce() const noexcept { return loadedOnce_; }
    // One line on what the last load could not read, or why it failed;
    // empty when it read everything.
    const QString& problem() const noexcept { return problem_; }

    // Loads anew; a load under way is cancelled.
    void reload();
    // Loads anew when a statement of `sql`, just run on the connection,
    // created, altered or dropped something.
    void reloadIfChangedBy(const QString& sql);

signals:
    void loadStarted();
    // catalog() and problem() tell how it went.
    void loadEnded();

private:
    friend class ConnectionCatalogs;
    struct Load;

    SharedCatalog(QString key, db::BackendSettings settings);
    void cancelLoad();
    void takeResult(std::uint64_t number, std::shared_ptr<const db::Catalog> catalog, const QString& failure);

    const QString key_;
    const db::BackendSettings settings_;
    const sql::Dialect dialect_;
    std::shared_ptr<const db::Catalog> catalog_;
    std::shared_ptr<Load> load_;
    std::uint64_t loadNumber_ = 0;
    bool loading_ = false;
    bool loadedOnce_ = false;
    QString problem_;
};

// The catalogs of the registered connections, one each, made and loaded the
// first time a window connects to its connection while none holds it.
class ConnectionCatalogs {
public:
    ConnectionCatalogs() = default;
    ConnectionCatalogs(const ConnectionCatalogs&) = delete;
    ConnectionCatalogs& operator=(const ConnectionCatalogs&) = delete;

    // The catalog of the connection `key` ("BDE:" and an alias, "ADO:" and a
    // connection string), loading from `settings` when it has to be made.
    std::shared_ptr<SharedCatalog> catalogOf(const QString& key, const std::function<db::BackendSettings()>& settings);
    // The one the windows hold now, if any.
    std::shared_ptr<SharedCatalog> find(const QString& key) const;

    // Loads under way in the process, cancelled ones that have not ended yet
    // included.
    static int loadsInFlight();

private:
    std::map<QString, std::weak_ptr<SharedCatalog>> catalogs_;
};

// The dialect of the SQL that reaches a backend (an ODBC driver's by its
// name, else the generic one).
sql::Dialect dialectOf(const db::BackendSettings& settings);

// One line on what a load could not read (empty when it read everything).
QString describeCatalogGaps(const db::CatalogGaps& gaps);

}  // namespace tarnwell
