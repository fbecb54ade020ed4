#include "session/ConnectionCatalogs.h"

#include <QStringList>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>

#include "dataaccess/CatalogLoader.h"
#include "dataaccess/odbc/OdbcConnection.h"
#include "sqlsyntax/StatementSplitter.h"

namespace tarnwell {

namespace {

std::atomic<int> loadsRunning{0};

// Engine messages may run over lines; a status line holds one.
constexpr qsizetype kLongestMessage = 200;

QString oneLine(const std::string& text) {
    QString line = QString::fromStdString(text).simplified();
    if (line.size() > kLongestMessage) {
        line = line.left(kLongestMessage) + QStringLiteral("…");
    }
    return line;
}

bool containsIgnoringCase(const std::string& text, const char* part) {
    return QString::fromStdString(text).contains(QLatin1String(part), Qt::CaseInsensitive);
}

}  // namespace

// One load, shared by the catalog that wants it and the thread that runs it:
// the result goes to `receiver` while there is one.
struct SharedCatalog::Load {
    explicit Load(db::CatalogRequest request) : loader(std::move(request)) {}

    db::CatalogLoader loader;
    std::mutex mutex;
    SharedCatalog* receiver = nullptr;
};

SharedCatalog::SharedCatalog(QString key, db::BackendSettings settings)
    : key_(std::move(key)),
      settings_(std::move(settings)),
      dialect_(dialectOf(settings_)),
      catalog_(std::make_shared<const db::Catalog>()) {}

SharedCatalog::~SharedCatalog() { cancelLoad(); }

void SharedCatalog::cancelLoad() {
    if (!load_) {
        return;
    }
    {
        const std::lock_guard lock(load_->mutex);
        load_->receiver = nullptr;
    }
    load_->loader.cancel();
    load_.reset();
    loading_ = false;
}

void SharedCatalog::reload() {
    cancelLoad();
    auto load = std::make_shared<Load>(db::CatalogRequest{settings_, {}, {}});
    load->receiver = this;
    const std::uint64_t number = ++loadNumber_;
    load_ = load;
    loading_ = true;
    ++loadsRunning;
    try {
        std::thread([load = std::move(load), number]() mutable {
            std::shared_ptr<const db::Catalog> catalog;
            QString failure;
            try {
                catalog = std::make_shared<const db::Catalog>(load->loader.load());
            } catch (const std::exception& error) {
                failure = QString::fromUtf8(error.what());
            }
            {
                const std::lock_guard lock(load->mutex);
                // Posted while the receiver is sure to exist: it clears
                // itself under this lock before it goes, and a posted call
                // dies with its receiver.
                if (SharedCatalog* receiver = load->receiver) {
                    QMetaObject::invokeMethod(
                        receiver, [receiver, number, catalog, failure] { receiver->takeResult(number, catalog, failure); },
                        Qt::QueuedConnection);
                }
            }
            load.reset();
            --loadsRunning;
        }).detach();
    } catch (const std::system_error& error) {
        --loadsRunning;
        takeResult(number, nullptr, QString::fromUtf8(error.what()));
        return;
    }
    emit loadStarted();
}

void SharedCatalog::reloadIfChangedBy(const QString& sql) {
    const std::u16string_view text(reinterpret_cast<const char16_t*>(sql.utf16()), static_cast<std::size_t>(sql.size()));
    const std::vector<sql::Utf16Statement> statements = sql::splitStatements(dialect_, text);
    if (std::any_of(statements.begin(), statements.end(),
                    [this](const sql::Utf16Statement& statement) { return sql::changesSchema(dialect_, statement.text); })) {
        reload();
    }
}

void SharedCatalog::takeResult(std::uint64_t number, std::shared_ptr<const db::Catalog> catalog, const QString& failure) {
    if (number != loadNumber_) {
        return;  // a load since replaced
    }
    load_.reset();
    loading_ = false;
    loadedOnce_ = true;
    if (catalog) {
        catalog_ = std::move(catalog);
        problem_ = describeCatalogGaps(catalog_->gaps());
    } else {
        // What was read before stays in use.
        problem_ = QStringLiteral("無法讀取資料表清單：") + oneLine(failure.toStdString());
    }
    emit loadEnded();
}

std::shared_ptr<SharedCatalog> ConnectionCatalogs::catalogOf(const QString& key,
                                                             const std::function<db::BackendSettings()>& settings) {
    if (std::shared_ptr<SharedCatalog> held = find(key)) {
        return held;
    }
    std::erase_if(catalogs_, [](const auto& entry) { return entry.second.expired(); });
    std::shared_ptr<SharedCatalog> made(new SharedCatalog(key, settings()));
    catalogs_[key] = made;
    made->reload();
    return made;
}

std::shared_ptr<SharedCatalog> ConnectionCatalogs::find(const QString& key) const {
    const auto found = catalogs_.find(key);
    return found == catalogs_.end() ? nullptr : found->second.lock();
}

int ConnectionCatalogs::loadsInFlight() { return loadsRunning.load(); }

sql::Dialect dialectOf(const db::BackendSettings& settings) {
    switch (settings.kind) {
    case db::BackendKind::Sqlite:
        return sql::Dialect::SQLite;
    case db::BackendKind::Postgres:
        return sql::Dialect::PostgreSQL;
    case db::BackendKind::MariaDb:
        return sql::Dialect::MariaDB;
    case db::BackendKind::Odbc:
        break;
    }
    std::string driver = db::odbcConnectionStringValue(settings.odbcConnectionString, "DRIVER");
    if (driver.empty()) {
        const QString dsn = QString::fromStdString(db::odbcConnectionStringValue(settings.odbcConnectionString, "DSN"));
        for (const db::OdbcDataSource& source : db::listOdbcDataSources()) {
            if (dsn.compare(QString::fromStdString(source.name), Qt::CaseInsensitive) == 0) {
                driver = source.driver;
                break;
            }
        }
    }
    // A driver named by its library: psqlodbcw.so, libsqlite3odbc.so, libmaodbc.so.
    if (containsIgnoringCase(driver, "psqlodbc")) {
        return sql::Dialect::PostgreSQL;
    }
    if (containsIgnoringCase(driver, "maodbc")) {
        return sql::Dialect::MariaDB;
    }
    return sql::dialectForDbmsName(driver);
}

QString describeCatalogGaps(const db::CatalogGaps& gaps) {
    if (gaps.empty()) {
        return {};
    }
    QStringList parts;
    if (gaps.schemasSkipped > 0) {
        parts << QStringLiteral("%1 個結構描述").arg(gaps.schemasSkipped);
    }
    if (gaps.relationsSkipped > 0) {
        parts << QStringLiteral("%1 個資料表或檢視的欄位").arg(gaps.relationsSkipped);
    }
    QString line;
    if (!parts.isEmpty()) {
        line = QStringLiteral("無法讀取 ") + parts.join(QStringLiteral("、"));
        if (!gaps.firstSkipped.empty()) {
            line += QStringLiteral("（") + oneLine(gaps.firstSkipped) +
                    (gaps.schemasSkipped + gaps.relationsSkipped > 1 ? QStringLiteral(" 等") : QString()) +
                    QStringLiteral("）");
        }
    }
    if (gaps.endedEarly) {
        line += (line.isEmpty() ? QString() : QStringLiteral("；")) + QStringLiteral("讀取中斷，只列出已讀到的部分");
    }
    if (!gaps.message.empty()) {
        line += QStringLiteral("：") + oneLine(gaps.message);
    }
    return line;
}

}  // namespace tarnwell
