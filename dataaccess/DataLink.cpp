#include "dataaccess/DataLink.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string_view>

#include "dataaccess/DbError.h"
#include "dataaccess/ParamList.h"
#include "dataaccess/Paths.h"

namespace tarnwell::db {

namespace {

// Nothing that deserves the name is bigger; a larger file is not one.
constexpr std::size_t kLargestDataLinkFile = 1024 * 1024;
constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size() / 2);
    const auto unitAt = [&](std::size_t i) -> char16_t {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        return static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
    };
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t unit = unitAt(i);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
            const char16_t low = unitAt(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        appendUtf8(out, unit >= 0xD800 && unit <= 0xDFFF ? kReplacement : unit);
    }
    return out;
}

// Decodes one UTF-8 sequence at text[i]; invalid bytes give U+FFFD.
char32_t nextCodePoint(std::string_view text, std::size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i++]);
    if (lead < 0x80) {
        return lead;
    }
    int length = 0;
    char32_t c = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 1;
        c = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 2;
        c = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 3;
        c = lead & 0x07;
    } else {
        return kReplacement;
    }
    for (int k = 0; k < length; ++k) {
        if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            return kReplacement;
        }
        c = (c << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
    }
    const bool overlong = (length == 1 && c < 0x80) || (length == 2 && c < 0x800) || (length == 3 && c < 0x10000);
    if (overlong || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return kReplacement;
    }
    return c;
}

void appendUtf16le(std::string& out, char16_t unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
}

std::string utf8ToUtf16le(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = nextCodePoint(text, i);
        if (c >= 0x10000) {
            appendUtf16le(out, static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            appendUtf16le(out, static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            appendUtf16le(out, static_cast<char16_t>(c));
        }
    }
    return out;
}

// UTF-16 without a byte-order mark shows as ASCII with a zero byte beside
// every character.
bool looksLikeUtf16(std::string_view bytes, bool& bigEndian) {
    if (bytes.size() < 4 || bytes.size() % 2 != 0) {
        return false;
    }
    if (bytes[1] == '\0' && bytes[0] != '\0') {
        bigEndian = false;
        return true;
    }
    if (bytes[0] == '\0' && bytes[1] != '\0') {
        bigEndian = true;
        return true;
    }
    return false;
}

bool isUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = i;
        if (nextCodePoint(text, i) == kReplacement && text.substr(start, 3) != "\xEF\xBF\xBD") {
            return false;
        }
    }
    return true;
}

// The file's text in UTF-8. A file in neither UTF-16 nor UTF-8 (a legacy
// code page) is refused rather than passed on as bytes that would turn up in
// the connection string as garbage.
std::string decode(std::string_view bytes, const std::string& path) {
    if (bytes.substr(0, 2) == "\xFF\xFE") {
        return utf16ToUtf8(bytes.substr(2), false);
    }
    if (bytes.substr(0, 2) == "\xFE\xFF") {
        return utf16ToUtf8(bytes.substr(2), true);
    }
    bool bigEndian = false;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    } else if (looksLikeUtf16(bytes, bigEndian)) {
        return utf16ToUtf8(bytes, bigEndian);
    }
    if (!isUtf8(bytes)) {
        throw DbError("Not a data link file (its text is neither UTF-16 nor UTF-8): " + path);
    }
    return std::string(bytes);
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n') {
            ++start;
        }
    }
    return lines;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int error = errno;
        if (error == ENOENT) {
            throw DbError("Data link file not found: " + path);
        }
        throw DbError("Data link file cannot be read: " + path + ": " + std::strerror(error));
    }
    std::string bytes(kLargestDataLinkFile + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad()) {
        throw DbError("Data link file cannot be read: " + path);
    }
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (bytes.empty() && !in.eof()) {
        throw DbError("Data link file cannot be read: " + path);
    }
    if (bytes.size() > kLargestDataLinkFile) {
        throw DbError("Not a data link file (too large): " + path);
    }
    return bytes;
}

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

}  // namespace

std::string readDataLinkFile(const std::string& path) {
    const std::string text = decode(readWholeFile(path), path);
    if (trimBlanks(text).empty()) {
        throw DbError("Data link file is empty: " + path);
    }
    const std::vector<std::string_view> lines = splitLines(text);
    std::size_t i = 0;
    while (i < lines.size() && trimBlanks(lines[i]).empty()) {
        ++i;
    }
    if (i == lines.size() || !equalsIgnoringCase(trimBlanks(lines[i]), "[oledb]")) {
        throw DbError("Not a data link file (its first line is not [oledb]): " + path);
    }
    for (++i; i < lines.size(); ++i) {
        const std::string_view line = trimBlanks(lines[i]);
        if (line.empty() || line.front() == ';') {
            continue;
        }
        return std::string(line);
    }
    throw DbError("Data link file holds no connection string: " + path);
}

void writeDataLinkFile(const std::string& path, const std::string& connectionString) {
    if (connectionString.find_first_of("\r\n") != std::string::npos) {
        throw DbError("A connection string cannot hold a line break: " + path);
    }
    std::string bytes = "\xFF\xFE";
    bytes += utf8ToUtf16le("[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n");
    bytes += utf8ToUtf16le(connectionString);
    bytes += utf8ToUtf16le("\r\n");

    // A temporary file beside the target, renamed over it once complete; made
    // with the usual permissions (0666 less the umask).
    static std::atomic<unsigned> counter{0};
    const std::string temporary =
        path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
    const int descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        throw DbError("Data link file cannot be written: " + path + ": " + std::strerror(errno));
    }
    std::unique_ptr<std::FILE, FileCloser> file(::fdopen(descriptor, "wb"));
    if (!file) {
        const int error = errno;
        ::close(descriptor);
        ::unlink(temporary.c_str());
        throw DbError("Data link file cannot be written: " + path + ": " + std::strerror(error));
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size() &&
                         std::fflush(file.get()) == 0 && ::fsync(descriptor) == 0;
    const int writeError = errno;
    const bool closed = std::fclose(file.release()) == 0;
    if (!written || !closed) {
        ::unlink(temporary.c_str());
        throw DbError("Data link file cannot be written: " + path + ": " + std::strerror(writeError));
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throw DbError("Data link file cannot be written: " + path + ": " + std::strerror(error));
    }
}

std::string dataLinkFolder() { return xdgDirectory("XDG_DATA_HOME", "/.local/share") + "/tarnwell/Data Links"; }

std::vector<std::string> dataLinkFileNames() {
    std::vector<std::string> names;
    const std::string folder = dataLinkFolder();
    std::unique_ptr<DIR, int (*)(DIR*)> directory(::opendir(folder.c_str()), &::closedir);
    if (!directory) {
        return names;
    }
    while (const dirent* entry = ::readdir(directory.get())) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && equalsIgnoringCase(std::string_view(name).substr(name.size() - 4), ".udl") &&
            fileExists(folder + "/" + name)) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace tarnwell::db
