#pragma once

#include <string>

namespace tarnwell::db {

// File name of the sample database behind the DEMO alias.
inline constexpr const char* kDemoDatabaseFileName = "demo.db";

// Where the sample database is at run time: <dir>/data/demo.db (the build
// tree, where the program lies in the build directory), then
// <dir>/../share/tarnwell/demo.db (a relocated installation), then the
// installation's data directory. <dir> is `executableDirectory`, or the
// running program's directory when that is empty. When none exists, the
// installation's path is returned, so that opening it names the file missed.
std::string findDemoDatabase(const std::string& executableDirectory = {});

}  // namespace tarnwell::db
