// Build-time tool: runs an SQL script into a new SQLite database file.
//   tarnwell_make_demo_db SCRIPT.sql OUTPUT.db
// The output is written beside itself and renamed into place, so a failed
// build leaves no half-made database behind.
#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SCRIPT.sql OUTPUT.db\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
        return 1;
    }
    std::ostringstream script;
    script << in.rdbuf();

    const std::string output = argv[2];
    const std::string partial = output + ".partial";
    std::remove(partial.c_str());
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(partial.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s: %s\n", argv[0], partial.c_str(), sqlite3_errmsg(db));
        sqlite3_close(db);
        return 1;
    }
    char* message = nullptr;
    const int rc = sqlite3_exec(db, script.str().c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s: %s\n", argv[0], argv[1], message != nullptr ? message : sqlite3_errstr(rc));
        sqlite3_free(message);
        sqlite3_close(db);
        std::remove(partial.c_str());
        return 1;
    }
    if (sqlite3_close(db) != SQLITE_OK || std::rename(partial.c_str(), output.c_str()) != 0) {
        std::fprintf(stderr, "%s: cannot finish %s\n", argv[0], output.c_str());
        std::remove(partial.c_str());
        return 1;
    }
    return 0;
}
