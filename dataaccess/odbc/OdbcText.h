#pragma once

// Text between the program (UTF-8) and the wide ODBC calls (UTF-16 in
// SQLWCHAR units). Internal to the ODBC backend.

#include <sql.h>
#include <sqlext.h>

#include <locale.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwell::db::odbc {

static_assert(sizeof(SQLWCHAR) == 2, "unixODBC with UTF-16 SQLWCHAR expected");

// Text for a wide call: UTF-16 units followed by a terminating zero, which
// length() leaves out.
class WideText {
public:
    explicit WideText(std::string_view utf8);  // bytes that are not UTF-8 become U+FFFD
    SQLWCHAR* data() noexcept { return units_.data(); }
    SQLINTEGER length() const noexcept { return static_cast<SQLINTEGER>(units_.size() - 1); }

private:
    std::vector<SQLWCHAR> units_;
};

// UTF-16 to UTF-8, appended to `out`; an unpaired surrogate becomes U+FFFD.
void appendUtf8(std::string& out, const SQLWCHAR* text, std::size_t length);
std::string toUtf8(const SQLWCHAR* text, std::size_t length);

// While it lives, the calling thread's character set is UTF-8.
//
// unixODBC converts between wide and narrow text, where a driver lacks the
// kind of call the program makes, in the character set of the calling
// thread's locale, which it fixes for a connection when the connection is
// made. Under a C or Big5 locale Chinese text would not survive that, so
// connections are made inside this scope: the narrow side of every connection
// is then UTF-8, which is what the program and the narrow drivers hold.
// Nothing happens where the system has no UTF-8 locale.
class Utf8CharacterSetScope {
public:
    Utf8CharacterSetScope() noexcept;
    ~Utf8CharacterSetScope();
    Utf8CharacterSetScope(const Utf8CharacterSetScope&) = delete;
    Utf8CharacterSetScope& operator=(const Utf8CharacterSetScope&) = delete;

private:
    locale_t previous_ = static_cast<locale_t>(nullptr);
};

}  // namespace tarnwell::db::odbc
