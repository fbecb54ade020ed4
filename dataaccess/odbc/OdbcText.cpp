#include "dataaccess/odbc/OdbcText.h"

#include <cstdint>
#include <initializer_list>

namespace tarnwell::db::odbc {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf16(std::vector<SQLWCHAR>& out, char32_t codePoint) {
    if (codePoint < 0x10000) {
        out.push_back(static_cast<SQLWCHAR>(codePoint));
    } else {
        codePoint -= 0x10000;
        out.push_back(static_cast<SQLWCHAR>(0xD800 + (codePoint >> 10)));
        out.push_back(static_cast<SQLWCHAR>(0xDC00 + (codePoint & 0x3FF)));
    }
}

void appendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

// Decodes one UTF-8 sequence at `pos`; advances `pos` past it, or by one byte
// when the sequence is not valid UTF-8 (then U+FFFD).
char32_t decodeUtf8(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    std::size_t length = 0;
    char32_t codePoint = 0;
    char32_t smallest = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        codePoint = lead & 0x1F;
        smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        codePoint = lead & 0x0F;
        smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        codePoint = lead & 0x07;
        smallest = 0x10000;
    } else {
        ++pos;
        return kReplacement;
    }
    if (pos + length > text.size()) {
        ++pos;
        return kReplacement;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[pos + i]);
        if ((next & 0xC0) != 0x80) {
            ++pos;
            return kReplacement;
        }
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < smallest || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        ++pos;
        return kReplacement;
    }
    pos += length;
    return codePoint;
}

locale_t utf8Locale() noexcept {
    // Built once from the process locale of that moment, with only the
    // character set changed; never freed, as every thread may use it.
    static const locale_t locale = []() noexcept {
        for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
            const locale_t base = duplocale(LC_GLOBAL_LOCALE);
            if (base == static_cast<locale_t>(nullptr)) {
                break;
            }
            const locale_t made = newlocale(LC_CTYPE_MASK, name, base);
            if (made != static_cast<locale_t>(nullptr)) {
                return made;
            }
            freelocale(base);
        }
        return static_cast<locale_t>(nullptr);
    }();
    return locale;
}

}  // namespace

WideText::WideText(std::string_view utf8) {
    units_.reserve(utf8.size() + 1);
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        appendUtf16(units_, decodeUtf8(utf8, pos));
    }
    units_.push_back(0);
}

void appendUtf8(std::string& out, const SQLWCHAR* text, std::size_t length) {
    out.reserve(out.size() + length);
    for (std::size_t i = 0; i < length; ++i) {
        const char32_t unit = text[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        if (high && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            appendUtf8(out, kReplacement);
        } else {
            appendUtf8(out, unit);
        }
    }
}

std::string toUtf8(const SQLWCHAR* text, std::size_t length) {
    std::string out;
    appendUtf8(out, text, length);
    return out;
}

Utf8CharacterSetScope::Utf8CharacterSetScope() noexcept {
    const locale_t utf8 = utf8Locale();
    if (utf8 != static_cast<locale_t>(nullptr)) {
        previous_ = uselocale(utf8);
    }
}

Utf8CharacterSetScope::~Utf8CharacterSetScope() {
    if (previous_ != static_cast<locale_t>(nullptr)) {
        uselocale(previous_);
    }
}

}  // namespace tarnwell::db::odbc
