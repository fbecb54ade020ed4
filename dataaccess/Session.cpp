#include "dataaccess/Session.h"

#include <algorithm>

#include "dataaccess/Database.h"
#include "dataaccess/odbc/OdbcConnection.h"

namespace tarnwell::db {

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

AliasDefinition builtInDemo(const std::string& demoDatabase) {
    AliasDefinition demo;
    demo.name = "DEMO";
    demo.driver = std::string(kDriverSqlite);
    demo.params.append("PATH", demoDatabase);
    return demo;
}

}  // namespace

bool Session::CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const noexcept {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return lower(x) < lower(y); });
}

SessionConfig standardSessionConfig(const std::string& demoDatabase) {
    SessionConfig config;
    config.aliasFile = standardAliasFile();
    config.demoDatabase = demoDatabase;
    config.listOdbcDataSources = true;
    return config;
}

Session::Session(SessionConfig config) : config_(std::move(config)) {}

Session::~Session() = default;

std::unique_ptr<Session> Session::fromStandardLocations(const std::string& demoDatabase) {
    return std::make_unique<Session>(standardSessionConfig(demoDatabase));
}

void Session::load() const {
    std::call_once(loadOnce_, [this] {
        aliases_.push_back(builtInDemo(config_.demoDatabase));
        AliasFileContents file = readAliasFile(config_.aliasFile);
        problems_ = std::move(file.problems);
        for (AliasDefinition& alias : file.aliases) {
            if (equalsIgnoringCase(alias.name, "DEMO")) {
                AliasDefinition& demo = aliases_.front();
                demo.params = std::move(alias.params);
                if (!alias.driver.empty()) {
                    demo.driver = std::move(alias.driver);
                }
                continue;
            }
            aliases_.push_back(std::move(alias));
        }
        if (!config_.listOdbcDataSources) {
            return;
        }
        std::vector<OdbcDataSource> sources;
        try {
            sources = listOdbcDataSources();
        } catch (const std::exception& error) {
            problems_.push_back(std::string("ODBC data sources: ") + error.what());
        }
        for (const OdbcDataSource& source : sources) {
            if (find(source.name) != nullptr) {
                continue;
            }
            AliasDefinition alias;
            alias.name = source.name;
            alias.driver = std::string(kDriverOdbc);
            alias.odbcDataSource = true;
            for (const auto& [key, value] : source.keys) {
                alias.params.append(key, value);
            }
            aliases_.push_back(std::move(alias));
        }
    });
}

const AliasDefinition* Session::find(std::string_view alias) const {
    for (const AliasDefinition& definition : aliases_) {
        if (equalsIgnoringCase(definition.name, alias)) {
            return &definition;
        }
    }
    return nullptr;
}

std::vector<std::string> Session::aliasNames() const {
    load();
    std::vector<std::string> names;
    names.reserve(aliases_.size());
    for (const AliasDefinition& alias : aliases_) {
        names.push_back(alias.name);
    }
    return names;
}

bool Session::isAlias(std::string_view alias) const {
    load();
    return find(alias) != nullptr;
}

AliasDefinition Session::alias(std::string_view alias) const {
    load();
    const AliasDefinition* definition = find(alias);
    if (definition == nullptr) {
        throw DbError("Unknown alias: " + std::string(alias));
    }
    return *definition;
}

ParamList Session::aliasParams(std::string_view alias) const { return this->alias(alias).params; }

std::string Session::aliasDriverName(std::string_view alias) const { return this->alias(alias).driver; }

std::vector<std::string> Session::configurationProblems() const {
    load();
    return problems_;
}

void Session::registerDatabase(Database& database) {
    std::lock_guard lock(databasesMutex_);
    const auto [it, inserted] = databases_.emplace(database.databaseName(), &database);
    if (!inserted) {
        throw DbError("Duplicate database name: " + database.databaseName());
    }
    databaseOrder_.push_back(database.databaseName());
}

void Session::unregisterDatabase(Database& database) noexcept {
    std::lock_guard lock(databasesMutex_);
    const auto it = databases_.find(database.databaseName());
    if (it != databases_.end() && it->second == &database) {
        databases_.erase(it);
        databaseOrder_.erase(std::find(databaseOrder_.begin(), databaseOrder_.end(), database.databaseName()));
    }
}

std::vector<std::string> Session::databaseNames() const {
    std::lock_guard lock(databasesMutex_);
    return databaseOrder_;
}

bool Session::hasDatabase(std::string_view name) const {
    std::lock_guard lock(databasesMutex_);
    return databases_.find(std::string(name)) != databases_.end();
}

}  // namespace tarnwell::db
