#include "dataaccess/AliasFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "dataaccess/Paths.h"
#include "dataaccess/TextTools.h"

namespace tarnwell::db {

namespace {

std::string_view unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

bool knownDriver(std::string_view driver) {
    return driver == kDriverSqlite || driver == kDriverPostgres || driver == kDriverMariaDb || driver == kDriverMySql ||
           driver == kDriverOdbc;
}

class Parser {
public:
    explicit Parser(const std::string& fileName) : fileName_(fileName) {}

    AliasFileContents parse(std::string_view text) {
        if (text.substr(0, 3) == "\xEF\xBB\xBF") {
            text.remove_prefix(3);
        }
        int lineNumber = 0;
        std::size_t start = 0;
        while (start <= text.size()) {
            const auto end = text.find('\n', start);
            const std::string_view line =
                text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
            ++lineNumber;
            parseLine(trimBlanks(line), lineNumber);
            if (end == std::string_view::npos) {
                break;
            }
            start = end + 1;
        }
        finishSection();
        return std::move(contents_);
    }

private:
    enum class State { BeforeFirstSection, InSection, SkippingSection };

    void problem(int line, const std::string& what) {
        contents_.problems.push_back(fileName_ + ":" + std::to_string(line) + ": " + what);
    }

    void parseLine(std::string_view line, int number) {
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            return;
        }
        if (line.front() == '[') {
            startSection(line, number);
            return;
        }
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) {
            problem(number, "not a \"KEY=value\" line, an \"[ALIAS]\" line or a comment; skipped");
            return;
        }
        const std::string_view key = trimBlanks(line.substr(0, eq));
        const std::string_view value = unquote(trimBlanks(line.substr(eq + 1)));
        if (key.empty()) {
            problem(number, "a parameter without a name; skipped");
            return;
        }
        switch (state_) {
            case State::BeforeFirstSection:
                problem(number, "parameter \"" + std::string(key) + "\" before the first [ALIAS] line; skipped");
                return;
            case State::SkippingSection:
                return;
            case State::InSection:
                break;
        }
        if (equalsIgnoringCase(key, "TYPE")) {
            if (!current_.driver.empty()) {
                problem(number, "alias \"" + current_.name + "\" has a second TYPE; the first one counts");
                return;
            }
            current_.driver = upperAscii(value);
            if (!knownDriver(current_.driver)) {
                problem(number, "alias \"" + current_.name + "\" has the unknown driver type \"" +
                                    std::string(value) + "\" (known: " + std::string(kKnownDrivers) + ")");
            }
            return;
        }
        current_.params.append(key, value);
    }

    void startSection(std::string_view line, int number) {
        finishSection();
        const auto close = line.find(']');
        const std::string_view name =
            close == std::string_view::npos ? std::string_view() : trimBlanks(line.substr(1, close - 1));
        if (close == std::string_view::npos || !trimBlanks(line.substr(close + 1)).empty()) {
            problem(number, "broken section line " + std::string(line) + "; the section is skipped");
            state_ = State::SkippingSection;
            return;
        }
        if (name.empty()) {
            problem(number, "a section without an alias name; skipped");
            state_ = State::SkippingSection;
            return;
        }
        for (const AliasDefinition& alias : contents_.aliases) {
            if (equalsIgnoringCase(alias.name, name)) {
                problem(number, "alias \"" + std::string(name) + "\" is defined again; the first definition counts");
                state_ = State::SkippingSection;
                return;
            }
        }
        current_ = AliasDefinition{};
        current_.name = std::string(name);
        sectionLine_ = number;
        state_ = State::InSection;
    }

    void finishSection() {
        if (state_ != State::InSection) {
            return;
        }
        state_ = State::SkippingSection;
        if (current_.driver.empty() && !equalsIgnoringCase(current_.name, "DEMO")) {
            problem(sectionLine_, "alias \"" + current_.name + "\" has no TYPE; skipped");
            return;
        }
        contents_.aliases.push_back(std::move(current_));
        current_ = AliasDefinition{};
    }

    const std::string& fileName_;
    AliasFileContents contents_;
    AliasDefinition current_;
    int sectionLine_ = 0;
    State state_ = State::BeforeFirstSection;
};

}  // namespace

AliasFileContents parseAliasText(std::string_view text, const std::string& fileName) {
    return Parser(fileName).parse(text);
}

AliasFileContents readAliasFile(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int error = errno;
        AliasFileContents contents;
        if (error != ENOENT) {
            contents.problems.push_back(path + ": cannot be read: " + std::strerror(error));
        } else if (std::getenv("TARNWELL_ALIASES") != nullptr && path == std::getenv("TARNWELL_ALIASES")) {
            contents.problems.push_back(path + ": the alias file named by TARNWELL_ALIASES does not exist");
        }
        return contents;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parseAliasText(text.str(), path);
}

std::string standardAliasFile() {
    const char* named = std::getenv("TARNWELL_ALIASES");
    if (named != nullptr && *named != '\0') {
        return named;
    }
    const std::string user = xdgDirectory("XDG_CONFIG_HOME", "/.config") + "/tarnwell/aliases.conf";
    if (fileExists(user)) {
        return user;
    }
    const std::string system = "/etc/tarnwell/aliases.conf";
    if (fileExists(system)) {
        return system;
    }
    return {};
}

}  // namespace tarnwell::db
