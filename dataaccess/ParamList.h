#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "dataaccess/TextTools.h"

namespace tarnwell::db {

// Connection parameters as ordered "NAME=value" lines, the form in which an
// alias gives them and a database takes them ("SERVER NAME=db1",
// "USER NAME=scott"). The name is everything before the first "=", kept as
// written; a line without "=" has no name and is kept only as text.
//
// Lookups compare names without regard to ASCII case, and the first line of
// a name wins. A value cannot hold a line break: the list is line based.
class ParamList {
public:
    ParamList() = default;

    // The list from text, one entry a line; line ends may be LF, CR LF or CR.
    // A line break at the very end ends the last line and adds no empty entry.
    static ParamList fromText(std::string_view text);
    // Every line followed by "\n"; fromText(text()) gives the list back.
    std::string text() const;

    // The value of the first entry with that name; "" when there is none.
    std::string value(std::string_view name) const;
    bool contains(std::string_view name) const;
    // Position of the first entry with that name, or npos.
    std::size_t indexOf(std::string_view name) const;

    // Adds "name=value" at the end.
    void append(std::string_view name, std::string_view value);
    // Adds one line as it stands ("USER NAME=scott").
    void appendLine(std::string_view line);
    // Removes the first entry with that name; false when there was none.
    bool removeFirst(std::string_view name);
    // Sets the value of the first entry with that name, or appends one.
    void set(std::string_view name, std::string_view value);
    void clear() noexcept { lines_.clear(); }

    std::size_t size() const noexcept { return lines_.size(); }
    bool empty() const noexcept { return lines_.empty(); }
    const std::string& line(std::size_t index) const { return lines_.at(index); }
    // Name and value of one entry (the name is empty for a line without "=").
    std::string nameAt(std::size_t index) const;
    std::string valueAt(std::size_t index) const;

    bool operator==(const ParamList&) const = default;

private:
    std::vector<std::string> lines_;
};

}  // namespace tarnwell::db
