#include "dataaccess/CatalogReader.h"

#include <charconv>

#include "dataaccess/DbError.h"

namespace tarnwell::db {

namespace {

// Rows read from a result before they are handed on and dropped.
constexpr std::size_t kBatchRows = 1000;

}  // namespace

DbError catalogCancelledError() { return DbError("the catalog load was cancelled"); }

void CatalogReaderBase::throwIfCancelled() const {
    if (cancelled_) {
        throw catalogCancelledError();
    }
}

Catalog CatalogReaderBase::listThenReadColumns(const CatalogProgress& progress,
                                               const std::function<void(CatalogBuilder&)>& list,
                                               const std::function<void(CatalogBuilder&)>& columns) {
    CatalogBuilder builder;
    try {
        list(builder);
        if (progress.relationsListed) {
            progress.relationsListed(builder.relationCount());
        }
        columns(builder);
    } catch (const DbError& error) {
        throwIfCancelled();
        builder.endEarly(error.what());
    }
    return builder.finish();
}

void ConnectionCatalogReader::forEachRow(const std::string& sql,
                                         const std::function<void(const RowStore&, std::size_t)>& take) {
    throwIfCancelled();
    try {
        const std::unique_ptr<Cursor> cursor = connection_->execute(sql);
        RowStore rows(cursor->columns().size());
        while (!cursor->atEnd()) {
            rows.clear();
            cursor->fetch(rows, kBatchRows);
            for (std::size_t row = 0; row < rows.rowCount(); ++row) {
                take(rows, row);
            }
        }
    } catch (const DbError&) {
        throwIfCancelled();
        throw;
    }
}

std::vector<Column> ConnectionCatalogReader::resultColumns(const std::string& sql) {
    throwIfCancelled();
    try {
        return connection_->execute(sql)->columns();
    } catch (const DbError&) {
        throwIfCancelled();
        throw;
    }
}

void ConnectionCatalogReader::run(const std::string& sql) {
    forEachRow(sql, [](const RowStore&, std::size_t) {});
}

std::string_view ConnectionCatalogReader::textAt(const RowStore& rows, std::size_t row, std::size_t column) noexcept {
    return rows.cell(row, column).bytes;
}

long long ConnectionCatalogReader::numberAt(const RowStore& rows, std::size_t row, std::size_t column) noexcept {
    const std::string_view text = rows.cell(row, column).bytes;
    long long value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

bool ConnectionCatalogReader::isTrueAt(const RowStore& rows, std::size_t row, std::size_t column) noexcept {
    const RowStore::Cell cell = rows.cell(row, column);
    return !cell.isNull && cell.bytes == "1";
}

std::string ConnectionCatalogReader::literal(std::string_view text) {
    std::string out = "'";
    for (const char c : text) {
        out += c;
        if (c == '\'') {
            out += '\'';
        }
    }
    return out + "'";
}

}  // namespace tarnwell::db
