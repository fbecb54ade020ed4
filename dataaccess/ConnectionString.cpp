#include "dataaccess/ConnectionString.h"

#include <algorithm>

#include "dataaccess/DbError.h"
#include "dataaccess/TextTools.h"

namespace tarnwell::db {

namespace {

[[noreturn]] void invalid(const std::string& why) { throw DbError("The connection string is not valid: " + why); }

bool needsQuotes(std::string_view value) {
    return value.find(';') != std::string_view::npos || value.find('=') != std::string_view::npos ||
           (!value.empty() && (isBlank(value.front()) || isBlank(value.back()) || value.front() == '"' ||
                               value.front() == '\''));
}

std::string quoted(std::string_view value) {
    const char quote = value.find('"') == std::string_view::npos || value.find('\'') != std::string_view::npos
                           ? '"'
                           : '\'';
    std::string out(1, quote);
    for (char c : value) {
        out += c;
        if (c == quote) {
            out += quote;
        }
    }
    out += quote;
    return out;
}

}  // namespace

ConnectionString ConnectionString::parse(std::string_view text, Syntax syntax) {
    ConnectionString result;
    std::size_t i = 0;
    while (i < text.size()) {
        // Key: up to "=" (or the end of this part).
        const std::size_t keyStart = i;
        while (i < text.size() && text[i] != '=' && text[i] != ';') {
            ++i;
        }
        const std::string_view key = trimBlanks(text.substr(keyStart, i - keyStart));
        if (i >= text.size() || text[i] == ';') {
            if (!key.empty()) {
                invalid("\"" + std::string(key) + "\" has no \"=\" and value");
            }
            ++i;  // an empty part between two ";"
            continue;
        }
        if (key.empty()) {
            invalid("a value without a key at position " + std::to_string(keyStart + 1));
        }
        ++i;  // '='
        while (i < text.size() && isBlank(text[i]) && text[i] != ';') {
            ++i;
        }
        std::string value;
        const bool opensQuote = i < text.size() && (syntax == Syntax::Odbc ? text[i] == '{'
                                                                            : text[i] == '"' || text[i] == '\'');
        if (opensQuote) {
            const char quote = syntax == Syntax::Odbc ? '}' : text[i];
            ++i;
            bool closed = false;
            while (i < text.size()) {
                if (text[i] == quote) {
                    if (i + 1 < text.size() && text[i + 1] == quote) {
                        value += quote;
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                value += text[i++];
            }
            if (!closed) {
                invalid("the value of \"" + std::string(key) + "\" has no closing " + std::string(1, quote));
            }
            while (i < text.size() && isBlank(text[i])) {
                ++i;
            }
            if (i < text.size() && text[i] != ';') {
                invalid("text after the quoted value of \"" + std::string(key) + "\"");
            }
        } else {
            const std::size_t valueStart = i;
            while (i < text.size() && text[i] != ';') {
                ++i;
            }
            value = std::string(trimBlanks(text.substr(valueStart, i - valueStart)));
        }
        ++i;  // ';' or past the end
        result.set(key, value);
    }
    return result;
}

std::string ConnectionString::text() const {
    std::string out;
    for (const auto& [key, value] : entries_) {
        if (!out.empty()) {
            out += ';';
        }
        out += key;
        out += '=';
        out += needsQuotes(value) ? quoted(value) : value;
    }
    return out;
}

bool ConnectionString::contains(std::string_view key) const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [key](const Entry& entry) { return equalsIgnoringCase(entry.first, key); });
}

std::string ConnectionString::value(std::string_view key) const {
    for (const auto& [name, value] : entries_) {
        if (equalsIgnoringCase(name, key)) {
            return value;
        }
    }
    return {};
}

void ConnectionString::set(std::string_view key, std::string_view value) {
    for (auto& entry : entries_) {
        if (equalsIgnoringCase(entry.first, key)) {
            entry.second = std::string(value);
            return;
        }
    }
    entries_.emplace_back(std::string(key), std::string(value));
}

void ConnectionString::remove(std::string_view key) {
    std::erase_if(entries_, [key](const Entry& entry) { return equalsIgnoringCase(entry.first, key); });
}

const std::vector<ConnectionProvider>& connectionProviders() {
    static const std::vector<ConnectionProvider> providers = {
        {std::string(kProviderSqlite), "SQLite database file (Data Source = the file's path)"},
        {std::string(kProviderPostgres), "PostgreSQL server (Data Source = host[:port]/database)"},
        {std::string(kProviderMariaDb), "MariaDB or MySQL server (Data Source = host[:port]/database)"},
        {std::string(kProviderOdbc),
         "ODBC data source (Data Source = a DSN, or an ODBC connection string in Extended Properties)"},
    };
    return providers;
}

std::string canonicalProviderName(std::string_view name) {
    name = trimBlanks(name);
    std::string_view bare = name;
    if (bare.size() > 2 && bare.substr(bare.size() - 2) == ".1") {
        bare.remove_suffix(2);
    }
    for (const ConnectionProvider& provider : connectionProviders()) {
        std::string_view canonical = provider.name;
        canonical.remove_suffix(2);
        if (equalsIgnoringCase(bare, canonical)) {
            return provider.name;
        }
    }
    if (equalsIgnoringCase(bare, "MSDASQL")) {
        return std::string(kProviderOdbc);
    }
    if (equalsIgnoringCase(bare, "MySQL")) {
        return std::string(kProviderMariaDb);
    }
    return {};
}

std::string knownProviderNames() {
    std::string names;
    for (const ConnectionProvider& provider : connectionProviders()) {
        names += (names.empty() ? "" : ", ") + provider.name;
    }
    return names;
}

}  // namespace tarnwell::db
