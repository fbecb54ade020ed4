#include "session/ConnectionRegistry.h"

#include <QStringList>
#include <algorithm>

namespace tarnwell {

QString ConnectionStringValue(const QString& connectionString, const QString& key) {
    const qsizetype keyAt = connectionString.indexOf(key, 0, Qt::CaseSensitive);
    if (key.isEmpty() || keyAt < 0) {
        return {};
    }
    const qsizetype valueAt = keyAt + key.size();
    const qsizetype end = connectionString.indexOf(QLatin1Char(';'), valueAt);
    return connectionString.mid(valueAt, end < 0 ? -1 : end - valueAt);
}

bool ConnectionRegistry::hasBdeAlias(const QString& aliasName) const {
    return findBde(aliasName) != nullptr;
}

bool ConnectionRegistry::coversAdoConnection(const QString& provider,
                                             const QString& dataSource) const {
    if (provider.isEmpty() || dataSource.isEmpty()) {
        return false;
    }
    return std::any_of(ado_.begin(), ado_.end(), [&](const TAConnectedADO& entry) {
        return entry.ConnectionString.contains(provider, Qt::CaseSensitive) &&
               entry.ConnectionString.contains(dataSource, Qt::CaseSensitive);
    });
}

bool ConnectionRegistry::addBde(TAConnectedBDE entry) {
    if (hasBdeAlias(entry.AliasName)) {
        return false;
    }
    bde_.push_back(std::move(entry));
    emit changed();
    return true;
}

std::optional<int> ConnectionRegistry::addAdo(TAConnectedADO entry) {
    if (coversAdoConnection(entry.Provider, entry.DataSource)) {
        return std::nullopt;
    }
    ado_.push_back(std::move(entry));
    return static_cast<int>(ado_.size()) - 1;
}

const TAConnectedBDE* ConnectionRegistry::findBde(const QString& aliasName) const {
    const auto it = std::find_if(bde_.begin(), bde_.end(), [&](const TAConnectedBDE& entry) {
        return entry.AliasName == aliasName;
    });
    return it == bde_.end() ? nullptr : &*it;
}

const TAConnectedADO* ConnectionRegistry::adoAt(int position) const {
    if (position < 0 || static_cast<std::size_t>(position) >= ado_.size()) {
        return nullptr;
    }
    return &ado_[static_cast<std::size_t>(position)];
}

QStringList ConnectionRegistry::choicesFor(const QString& linkType) const {
    QStringList choices;
    if (linkType == QLatin1String("BDE")) {
        for (const TAConnectedBDE& entry : bde_) {
            choices << entry.AliasName;
        }
    } else if (linkType == QLatin1String("ADO")) {
        for (const TAConnectedADO& entry : ado_) {
            choices << entry.DataSource;
        }
    }
    return choices;
}

}  // namespace tarnwell
