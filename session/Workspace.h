#pragma once

#include <QIcon>
#include <QList>
#include <memory>

#include "dataaccess/Session.h"
#include "dataaccess/StatementTurn.h"
#include "session/ConnectionCatalogs.h"
#include "session/ConnectionRegistry.h"

namespace tarnwell {

namespace db {
class AdoConnection;
class AdoQuery;
class Database;
}  // namespace db

// What the windows of the program share, owned by none of them: the alias
// engine's session with the browser's test database on it, the one
// connection-string connection and its query, the registry of the
// connections made during the run with the catalogs of those the windows
// are on, and the picture lists of the main toolbar
// and the browser's trees.
//
// It is made before the main window and destroyed after the last window;
// runs still using its session are stopped and waited for before the session
// goes. It needs no widgets: only the picture lists need a GUI application,
// and they are loaded when first asked for.
class Workspace {
public:
    // `session` is the alias engine's session to share; without one the
    // standard configuration is read (at its first use).
    explicit Workspace(std::unique_ptr<db::Session> session = nullptr);
    ~Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    db::Session& Session1() const { return *session_; }
    // The browser's test connection, database name "BDE_DBS".
    db::Database& BDE_DB() const { return *bdeDb_; }
    // The one connection-string connection and query of the process.
    db::AdoConnection& ADOCon1() const { return *adoCon1_; }
    db::AdoQuery& ADQ1() const { return *adq1_; }
    // Whose turn it is to use ADOCon1 and ADQ1: a query window runs and
    // fetches on them off the user-interface thread, so every user of
    // either holds this turn meanwhile, on whatever thread.
    db::StatementTurn& adoTurn() { return adoTurn_; }

    ConnectionRegistry& registry() { return registry_; }
    const ConnectionRegistry& registry() const { return registry_; }
    ConnectionCatalogs& catalogs() { return catalogs_; }

    // Three pictures of the main toolbar, nine of the ADO tree, four of the
    // BDE tree.
    const QList<QIcon>& ImageToolBar() const;
    const QList<QIcon>& ImageADO() const;
    const QList<QIcon>& ImageBDE() const;

private:
    struct Pictures;
    const Pictures& pictures() const;

    std::unique_ptr<db::Session> session_;
    std::unique_ptr<db::Database> bdeDb_;
    std::unique_ptr<db::AdoConnection> adoCon1_;
    std::unique_ptr<db::AdoQuery> adq1_;
    db::StatementTurn adoTurn_;
    ConnectionRegistry registry_;
    ConnectionCatalogs catalogs_;
    mutable std::unique_ptr<Pictures> pictures_;
};

// The pictures of a list kept as numbered SVG resources under `folder`.
QList<QIcon> loadImageList(const QString& folder, int count);

}  // namespace tarnwell
