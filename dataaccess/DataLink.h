#pragma once

#include <string>
#include <vector>

namespace tarnwell::db {

// Data link files (*.udl): a connection string kept in a file, named by a
// "FILE NAME=<path>" connection string. The format, as written:
//   UTF-16LE with a byte-order mark, CR LF line ends,
//   line 1 "[oledb]",
//   line 2 "; Everything after this line is an OLE DB initstring",
//   line 3 the connection string.
// Reading is lenient: UTF-8 (with or without a byte-order mark) and
// UTF-16BE files, LF line ends, blank lines and further comment lines are
// accepted; text in any other encoding is refused.

// The connection string of a data link file. Throws DbError naming the file
// when it is missing or unreadable, empty, in neither UTF-16 nor UTF-8, not a
// data link file (no "[oledb]" line first), or holds no connection string.
std::string readDataLinkFile(const std::string& path);

// Writes a data link file in exactly the format above. The file is replaced
// whole or not at all. Throws DbError naming the file.
void writeDataLinkFile(const std::string& path, const std::string& connectionString);

// The folder the data-link dialog lists: $XDG_DATA_HOME/tarnwell/Data Links,
// by default ~/.local/share/tarnwell/Data Links. It may not exist.
std::string dataLinkFolder();

// Names (not paths) of the "*.udl" files in the data-link folder, sorted;
// empty when the folder does not exist.
std::vector<std::string> dataLinkFileNames();

}  // namespace tarnwell::db
