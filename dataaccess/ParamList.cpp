#include "dataaccess/ParamList.h"

namespace tarnwell::db {

namespace {

std::string_view nameOf(std::string_view line) {
    const auto eq = line.find('=');
    return eq == std::string_view::npos ? std::string_view() : line.substr(0, eq);
}

}  // namespace

ParamList ParamList::fromText(std::string_view text) {
    ParamList list;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            list.lines_.emplace_back(text.substr(start));
            break;
        }
        list.lines_.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n') {
            ++start;
        }
    }
    return list;
}

std::string ParamList::text() const {
    std::string out;
    for (const std::string& line : lines_) {
        out += line;
        out += '\n';
    }
    return out;
}

std::size_t ParamList::indexOf(std::string_view name) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const auto eq = lines_[i].find('=');
        if (eq != std::string::npos && equalsIgnoringCase(std::string_view(lines_[i]).substr(0, eq), name)) {
            return i;
        }
    }
    return std::string::npos;
}

std::string ParamList::value(std::string_view name) const {
    const std::size_t index = indexOf(name);
    return index == std::string::npos ? std::string() : valueAt(index);
}

bool ParamList::contains(std::string_view name) const { return indexOf(name) != std::string::npos; }

void ParamList::append(std::string_view name, std::string_view value) {
    std::string line;
    line.reserve(name.size() + 1 + value.size());
    line += name;
    line += '=';
    line += value;
    lines_.push_back(std::move(line));
}

void ParamList::appendLine(std::string_view line) { lines_.emplace_back(line); }

bool ParamList::removeFirst(std::string_view name) {
    const std::size_t index = indexOf(name);
    if (index == std::string::npos) {
        return false;
    }
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

void ParamList::set(std::string_view name, std::string_view value) {
    const std::size_t index = indexOf(name);
    if (index == std::string::npos) {
        append(name, value);
        return;
    }
    const std::string keptName(nameOf(lines_[index]));
    lines_[index] = keptName + "=" + std::string(value);
}

std::string ParamList::nameAt(std::size_t index) const { return std::string(nameOf(lines_.at(index))); }

std::string ParamList::valueAt(std::size_t index) const {
    const std::string& line = lines_.at(index);
    const auto eq = line.find('=');
    return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

}  // namespace tarnwell::db
