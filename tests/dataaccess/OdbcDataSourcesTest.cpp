// The data sources that unixODBC lists, from the test configuration's system
// odbc.ini and a user odbc.ini of the test's own.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dataaccess/DbError.h"
#include "dataaccess/odbc/OdbcConnection.h"
#include "support/TestEnvironment.h"

using tarnwell::db::listOdbcDataSources;
using tarnwell::db::OdbcDataSource;

namespace {

// Points ODBCINI at another file for the life of the object.
class UserOdbcIni {
public:
    explicit UserOdbcIni(const std::string& contents) {
        char pattern[] = "/tmp/tarnwell-odbcini.XXXXXX";
        const char* made = ::mkdtemp(pattern);
        EXPECT_NE(made, nullptr);
        directory_ = made == nullptr ? std::filesystem::path() : std::filesystem::path(made);
        path_ = directory_ / "odbc.ini";
        std::ofstream(path_) << contents;
        if (const char* previous = std::getenv("ODBCINI")) {
            previous_ = previous;
        }
        ::setenv("ODBCINI", path_.c_str(), 1);
    }
    ~UserOdbcIni() {
        if (previous_) {
            ::setenv("ODBCINI", previous_->c_str(), 1);
        } else {
            ::unsetenv("ODBCINI");
        }
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
    const std::filesystem::path& directory() const { return directory_; }

private:
    std::filesystem::path directory_;
    std::filesystem::path path_;
    std::optional<std::string> previous_;
};

const OdbcDataSource* findSource(const std::vector<OdbcDataSource>& sources, const std::string& name) {
    const auto it = std::find_if(sources.begin(), sources.end(),
                                 [&](const OdbcDataSource& source) { return source.name == name; });
    return it == sources.end() ? nullptr : &*it;
}

std::vector<std::string> keyNames(const OdbcDataSource& source) {
    std::vector<std::string> names;
    for (const auto& [key, value] : source.keys) {
        names.push_back(key);
    }
    return names;
}

TEST(OdbcDataSources, ListsUserAndSystemSourcesWithTheirKeysInFileOrderButNoSectionWithoutDriver) {
    TARNWELL_REQUIRE_ODBC();
    const std::string userDatabase = "/tmp/tarnwell-user-dsn-" + std::to_string(::getpid()) + ".db";
    const UserOdbcIni userIni("[ODBC]\n"
                              "Trace=No\n"
                              "\n"
                              "[tarnwell_user_only]\n"
                              "Driver=SQLite3\n"
                              "Database=" + userDatabase + "\n"
                              "Description=使用者的資料來源\n"
                              "\n"
                              "[settings without driver]\n"
                              "Servername=nowhere\n");

    const std::vector<OdbcDataSource> sources = listOdbcDataSources();

    EXPECT_EQ(findSource(sources, "ODBC"), nullptr);
    EXPECT_EQ(findSource(sources, "settings without driver"), nullptr);

    const OdbcDataSource* user = findSource(sources, "tarnwell_user_only");
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(user->driver, "SQLite3");
    const std::vector<std::pair<std::string, std::string>> userKeys = {
        {"Driver", "SQLite3"}, {"Database", userDatabase}, {"Description", "使用者的資料來源"}};
    EXPECT_EQ(user->keys, userKeys);

    const OdbcDataSource* sqlite = findSource(sources, "tarnwell_sqlite");
    ASSERT_NE(sqlite, nullptr);
    EXPECT_EQ(sqlite->driver, "SQLite3");
    EXPECT_EQ(keyNames(*sqlite), (std::vector<std::string>{"Description", "Driver", "Database", "StepAPI"}));

    const OdbcDataSource* postgres = findSource(sources, "tarnwell_pg");
    ASSERT_NE(postgres, nullptr);
    EXPECT_EQ(postgres->driver, "PostgreSQL Unicode");
    const std::vector<std::string> postgresKeys = keyNames(*postgres);
    ASSERT_GE(postgresKeys.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(postgresKeys.begin(), postgresKeys.begin() + 4),
              (std::vector<std::string>{"Description", "Driver", "Servername", "Port"}));
    EXPECT_NE(std::find(postgresKeys.begin(), postgresKeys.end(), "UseDeclareFetch"), postgresKeys.end());

    // What is listed is what opens.
    {
        const auto connection = tarnwell::db::openOdbc({"DSN=tarnwell_user_only", 15});
        const auto cursor = connection->execute("select 'listed and open'");
        tarnwell::db::RowStore rows(1);
        ASSERT_EQ(cursor->fetch(rows, 10), 1u);
        EXPECT_EQ(rows.cell(0, 0).bytes, "listed and open");
    }
    std::filesystem::remove(userDatabase);
}

}  // namespace
