#pragma once

#include <string>

namespace tarnwell::db {

// The user's home directory: $HOME, else the password database's entry.
std::string homeDirectory();

// An XDG base directory: the variable's value when it holds an absolute path,
// else the home directory followed by `fallback` ("/.config").
std::string xdgDirectory(const char* variable, const char* fallback);

// "~/x" becomes the home directory followed by "/x"; other paths stay.
std::string expandHome(const std::string& path);

// The directory of the running executable ("" when it cannot be told).
std::string executableDirectory();

bool fileExists(const std::string& path);

}  // namespace tarnwell::db
