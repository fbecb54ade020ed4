// The data sources that unixODBC knows: its user odbc.ini (ODBCINI, else
// ~/.odbc.ini) and its system odbc.ini (in ODBCSYSINI, else /etc). The
// driver manager reads the system directory's name once per process.

#include <odbcinst.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "dataaccess/TextTools.h"
#include "dataaccess/odbc/OdbcConnection.h"
#include "dataaccess/odbc/OdbcHandles.h"

namespace tarnwell::db {

namespace {

// The configuration functions do not say when a buffer was too small; this
// one is larger than any data source section holds.
constexpr int kProfileBufferBytes = 64 * 1024;

class OdbcIni {
public:
    OdbcIni() : buffer_(kProfileBufferBytes) {}

    // The key names of section `name`, in file order.
    std::vector<std::string> keysOf(const std::string& name) {
        const int length = read(name.c_str(), nullptr);
        std::vector<std::string> keys;
        for (int pos = 0; pos < length && buffer_[pos] != '\0';) {
            const std::size_t keyLength = ::strnlen(&buffer_[pos], static_cast<std::size_t>(length - pos));
            keys.emplace_back(&buffer_[pos], keyLength);
            pos += static_cast<int>(keyLength) + 1;
        }
        return keys;
    }

    std::string valueOf(const std::string& name, const std::string& key) {
        const int length = read(name.c_str(), key.c_str());
        return std::string(buffer_.data(), static_cast<std::size_t>(length));
    }

private:
    int read(const char* section, const char* key) {
        std::fill(buffer_.begin(), buffer_.end(), '\0');
        const int length = SQLGetPrivateProfileString(section, key, "", buffer_.data(), kProfileBufferBytes, "odbc.ini");
        return std::clamp(length, 0, kProfileBufferBytes - 1);
    }

    std::vector<char> buffer_;
};

std::vector<std::string> dataSourceNames() {
    const odbc::EnvironmentHandle environment = odbc::allocateEnvironment();
    std::vector<std::string> names;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
        SQLCHAR name[1024] = {};
        SQLCHAR description[1024] = {};
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT descriptionLength = 0;
        const SQLRETURN rc = SQLDataSources(environment.get(), direction, name, sizeof name, &nameLength, description,
                                            sizeof description, &descriptionLength);
        if (rc == SQL_NO_DATA) {
            break;
        }
        if (!SQL_SUCCEEDED(rc)) {
            throw odbc::diagnosticError(SQL_HANDLE_ENV, environment.get(),
                                        "the ODBC driver manager could not list its data sources");
        }
        direction = SQL_FETCH_NEXT;
        std::string dataSource(reinterpret_cast<const char*>(name),
                               std::clamp<std::size_t>(nameLength < 0 ? 0 : nameLength, 0, sizeof name - 1));
        // A name in both files is one data source: the user's, listed first.
        if (std::find(names.begin(), names.end(), dataSource) == names.end()) {
            names.push_back(std::move(dataSource));
        }
    }
    return names;
}

}  // namespace

std::vector<OdbcDataSource> listOdbcDataSources() {
    OdbcIni ini;
    std::vector<OdbcDataSource> sources;
    for (const std::string& name : dataSourceNames()) {
        OdbcDataSource source;
        source.name = name;
        bool hasDriver = false;
        for (const std::string& key : ini.keysOf(name)) {
            std::string value = ini.valueOf(name, key);
            if (equalsIgnoringCase(key, "Driver") && !value.empty()) {
                hasDriver = true;
                source.driver = value;
            }
            source.keys.emplace_back(key, std::move(value));
        }
        // Sections such as [ODBC] hold the driver manager's own settings.
        if (hasDriver) {
            sources.push_back(std::move(source));
        }
    }
    return sources;
}

}  // namespace tarnwell::db
