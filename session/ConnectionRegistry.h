#pragma once

#include <QObject>
#include <QString>
#include <optional>
#include <vector>

namespace tarnwell {

// One BDE alias that was logged into during the run.
struct TAConnectedBDE {
    QString AliasName;
    QString ServerName;
    QString DatabaseName;
    QString UserName;
    QString Password;
};

// One ADO connection that was opened during the run.
struct TAConnectedADO {
    QString ConnectionString;  // as the opened connection reports it
    QString Provider;
    QString DataSource;
};

// The value after the first case-sensitive occurrence of `key` (which carries
// its "="), up to the next ";" or the end; empty when the key is absent. No
// quoting is understood.
QString ConnectionStringValue(const QString& connectionString, const QString& key);

// The memory of the connections made during the run. Entries are only ever
// appended; their positions are what the query windows' connection lists and
// the ADO tree refer to.
//
// Its listeners (the query windows, each refilling its own connection list)
// hear of it through changed(), in the order they began to listen: after an
// alias was registered, and whenever RefreshConnectAliases() asks, as the
// new-connection command does once the connection is filed, whether or not
// it registered one.
class ConnectionRegistry : public QObject {
    Q_OBJECT
public:
    const std::vector<TAConnectedBDE>& ConnectedBDE() const { return bde_; }
    const std::vector<TAConnectedADO>& ConnectedADO() const { return ado_; }

    bool hasBdeAlias(const QString& aliasName) const;
    // True when some entry's connection string holds both texts; an empty
    // provider or data source covers nothing.
    bool coversAdoConnection(const QString& provider, const QString& dataSource) const;

    // Appends unless the alias name is there already (exact comparison);
    // true when it appended, and the listeners are told.
    bool addBde(TAConnectedBDE entry);
    // Appends unless covered; the new position, or nothing when covered. The
    // listeners are told by the caller (RefreshConnectAliases).
    std::optional<int> addAdo(TAConnectedADO entry);

    // Tells the listeners to refill their lists.
    void RefreshConnectAliases() { emit changed(); }

    // The first entry with this alias name (exact comparison), if any.
    const TAConnectedBDE* findBde(const QString& aliasName) const;
    // The entry at `position`, if the position is inside the list.
    const TAConnectedADO* adoAt(int position) const;

    // What a connection list shows for a link type: alias names for "BDE",
    // data sources for "ADO", in registration order; nothing otherwise.
    QStringList choicesFor(const QString& linkType) const;

signals:
    void changed();

private:
    std::vector<TAConnectedBDE> bde_;
    std::vector<TAConnectedADO> ado_;
};

}  // namespace tarnwell
