#include "dataaccess/AliasFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "dataaccess/Paths.h"
#include "dataaccess/TextTools.h"

namespace tarnwell::db {

namespace {

// The most an alias file may hold; a larger "file" (a device such as
// /dev/zero, a log named by mistake) is refused rather than read.
constexpr std::size_t kLargestAliasFile = 1024 * 1024;
// Characters of the file's text a problem report quotes.
constexpr std::size_t kMostQuotedCharacters = 60;

// Text of the file for a problem report: control characters and bytes that
// are not UTF-8 as \xHH, cut after kMostQuotedCharacters characters, so that
// a report stays one readable line whatever the file holds.
std::string shown(std::string_view text) {
    std::string out;
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (characters == kMostQuotedCharacters) {
            return out + "…";
        }
        const auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = byte < 0x80 ? 1 : (byte >> 5) == 0x6 ? 2 : (byte >> 4) == 0xE ? 3 : (byte >> 3) == 0x1E ? 4 : 0;
        for (std::size_t k = 1; k < length; ++k) {
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                length = 0;
                break;
            }
        }
        if (length == 0 || byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
        ++characters;
    }
    return out;
}

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
                problem(number, "parameter \"" + shown(key) + "\" before the first [ALIAS] line; skipped");
                return;
            case State::SkippingSection:
                return;
            case State::InSection:
                break;
        }
        if (equalsIgnoringCase(key, "TYPE")) {
            if (!current_.driver.empty()) {
                problem(number, "alias \"" + shown(current_.name) + "\" has a second TYPE; the first one counts");
                return;
            }
            current_.driver = upperAscii(value);
            if (!knownDriver(current_.driver)) {
                problem(number, "alias \"" + shown(current_.name) + "\" has the unknown driver type \"" +
                                    shown(value) + "\" (known: " + std::string(kKnownDrivers) + ")");
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
            problem(number, "broken section line " + shown(line) + "; the section is skipped");
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
                problem(number, "alias \"" + shown(name) + "\" is defined again; the first definition counts");
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
            problem(sectionLine_, "alias \"" + shown(current_.name) + "\" has no TYPE; skipped");
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
    AliasFileContents contents;
    // Opened without waiting, so that a pipe named by mistake cannot hold
    // the program; only a regular file is read.
    const int file = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file < 0) {
        const int error = errno;
        if (error != ENOENT) {
            contents.problems.push_back(path + ": cannot be read: " + std::strerror(error));
        } else if (std::getenv("TARNWELL_ALIASES") != nullptr && path == std::getenv("TARNWELL_ALIASES")) {
            contents.problems.push_back(path + ": the alias file named by TARNWELL_ALIASES does not exist");
        }
        return contents;
    }
    const std::string tooLarge =
        path + ": is larger than an alias file may be (" + std::to_string(kLargestAliasFile / 1024) + " KiB); not read";
    std::string text;
    struct stat status {};
    if (::fstat(file, &status) != 0) {
        contents.problems.push_back(path + ": cannot be read: " + std::strerror(errno));
    } else if (S_ISDIR(status.st_mode)) {
        contents.problems.push_back(path + ": is a folder, not an alias file");
    } else if (!S_ISREG(status.st_mode)) {
        contents.problems.push_back(path + ": is not a regular file (a device or a pipe); not read");
    } else if (static_cast<std::size_t>(status.st_size) > kLargestAliasFile) {
        contents.problems.push_back(tooLarge);
    } else {
        text.resize(kLargestAliasFile + 1);
        std::size_t have = 0;
        for (;;) {
            const ssize_t count = ::read(file, text.data() + have, text.size() - have);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count < 0) {
                contents.problems.push_back(path + ": cannot be read: " + std::strerror(errno));
                break;
            }
            have += static_cast<std::size_t>(count);
            if (count == 0 || have == text.size()) {
                break;
            }
        }
        if (have > kLargestAliasFile) {
            contents.problems.push_back(tooLarge);  // it grew while read
        }
        text.resize(contents.problems.empty() ? have : 0);
    }
    ::close(file);
    if (!contents.problems.empty()) {
        return contents;
    }
    return parseAliasText(text, path);
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
