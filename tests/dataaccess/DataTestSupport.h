#pragma once

// Small helpers shared by the data-layer tests.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "dataaccess/Connection.h"
#include "dataaccess/RowStore.h"

namespace tarnwell::test {

// A directory of its own for one test, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarnwell-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A cell as text for comparisons; NULL shows as "<null>".
inline std::string cellText(const db::RowStore& rows, std::size_t row, std::size_t column) {
    const db::RowStore::Cell cell = rows.cell(row, column);
    return cell.isNull ? std::string("<null>") : std::string(cell.bytes);
}

// Every row of a statement's result.
inline db::RowStore fetchAll(db::Connection& connection, const std::string& sql) {
    auto cursor = connection.execute(sql);
    db::RowStore rows(cursor->columns().size());
    while (cursor->fetch(rows, 1000) == 1000) {
    }
    return rows;
}

// The first cell of a statement's result as text.
inline std::string scalar(db::Connection& connection, const std::string& sql) {
    db::RowStore rows = fetchAll(connection, sql);
    return rows.rowCount() == 0 ? std::string("<no row>") : cellText(rows, 0, 0);
}

// A whole result as rows of cells, NULL as nullopt, for comparing results.
using CellValue = std::optional<std::string>;
using ResultRows = std::vector<std::vector<CellValue>>;

inline ResultRows readAll(db::Cursor& cursor) {
    db::RowStore store(cursor.columns().size());
    while (!cursor.atEnd()) {
        cursor.fetch(store, 500);
    }
    ResultRows rows(store.rowCount());
    for (std::size_t r = 0; r < store.rowCount(); ++r) {
        for (std::size_t c = 0; c < store.columnCount(); ++c) {
            const db::RowStore::Cell cell = store.cell(r, c);
            rows[r].push_back(cell.isNull ? CellValue{} : CellValue{std::string(cell.bytes)});
        }
    }
    return rows;
}

inline ResultRows query(db::Connection& connection, const std::string& sql) {
    auto cursor = connection.execute(sql);
    return readAll(*cursor);
}

}  // namespace tarnwell::test
