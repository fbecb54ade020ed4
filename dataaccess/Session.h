#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "dataaccess/AliasFile.h"
#include "dataaccess/DbError.h"
#include "dataaccess/ParamList.h"

namespace tarnwell::db {

class Database;

// Where a session takes its aliases from.
struct SessionConfig {
    // The alias file to read; "" reads none.
    std::string aliasFile;
    // The sample database behind the built-in DEMO alias (its PATH).
    std::string demoDatabase;
    // Whether unixODBC's data sources are listed as aliases of type ODBC.
    bool listOdbcDataSources = true;
};

// The configuration the program runs with: the standard alias file
// (standardAliasFile()), the given sample database, ODBC data sources listed.
SessionConfig standardSessionConfig(const std::string& demoDatabase);

// The alias engine's session: the aliases with their drivers and parameters,
// and the registry of the databases opened through it.
//
// Aliases, in this order: the built-in DEMO (TYPE SQLITE, PATH = the sample
// database), then the alias file's sections in file order (a section named
// DEMO replaces the built-in's parameters, and its TYPE, in place), then every
// unixODBC data source as an alias of type ODBC whose parameters are the data
// source's keys. A name that is already taken is not listed again. Alias and
// database names compare without regard to ASCII case.
//
// The configuration is read once, at the first question; aliases added to the
// file later are seen by the next session only.
//
// Thread-safe: the query threads of several windows use one session at once.
// A session must outlive every Database made on it.
class Session {
public:
    explicit Session(SessionConfig config);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // A session on the standard configuration.
    static std::unique_ptr<Session> fromStandardLocations(const std::string& demoDatabase);

    const SessionConfig& config() const noexcept { return config_; }

    std::vector<std::string> aliasNames() const;
    bool isAlias(std::string_view alias) const;
    // The alias's parameters (TYPE not among them). Throws DbError for an
    // unknown alias.
    ParamList aliasParams(std::string_view alias) const;
    // The alias's driver type ("SQLITE", "POSTGRESQL", "MARIADB", ...). Throws DbError
    // for an unknown alias.
    std::string aliasDriverName(std::string_view alias) const;
    // The whole definition, for the engine itself.
    AliasDefinition alias(std::string_view alias) const;

    // What was wrong with the alias file ("<file>:<line>: <what>"), for the
    // program to show; the aliases that parsed are loaded regardless.
    std::vector<std::string> configurationProblems() const;

    // Names of the databases made on this session, in creation order.
    std::vector<std::string> databaseNames() const;
    bool hasDatabase(std::string_view name) const;

private:
    friend class Database;
    friend class Query;

    struct CaseInsensitiveLess {
        bool operator()(const std::string& a, const std::string& b) const noexcept;
    };

    void load() const;
    const AliasDefinition* find(std::string_view alias) const;

    void registerDatabase(Database& database);
    void unregisterDatabase(Database& database) noexcept;
    // Runs `use` on the named database with the registry locked, so the
    // database cannot go away meanwhile. Throws DbError for an unknown name.
    template <typename Use>
    auto withDatabase(std::string_view name, Use&& use);

    SessionConfig config_;
    mutable std::once_flag loadOnce_;
    mutable std::vector<AliasDefinition> aliases_;
    mutable std::vector<std::string> problems_;

    mutable std::mutex databasesMutex_;
    std::map<std::string, Database*, CaseInsensitiveLess> databases_;
    std::vector<std::string> databaseOrder_;
};

template <typename Use>
auto Session::withDatabase(std::string_view name, Use&& use) {
    std::lock_guard lock(databasesMutex_);
    const auto it = databases_.find(std::string(name));
    if (it == databases_.end()) {
        throw DbError("Unknown database: " + std::string(name));
    }
    return use(*it->second);
}

}  // namespace tarnwell::db
