#include "dataaccess/sqlite/SqliteConnection.h"

#include <sqlite3.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

#include "dataaccess/CanonicalText.h"
#include "dataaccess/CursorBase.h"
#include "dataaccess/DbError.h"
#include "dataaccess/ErrorPosition.h"
#include "dataaccess/sqlite/SqliteTypes.h"

namespace tarnwell::db {

namespace {

struct DatabaseCloser {
    void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};
using DatabasePtr = std::unique_ptr<sqlite3, DatabaseCloser>;
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// How the cells of one column become canonical text.
enum class Conversion : std::uint8_t { Text, Integer, Float, Decimal, Boolean, Date, Time, DateTime, Binary, Guid };

Conversion conversionFor(FieldKind kind) {
    switch (kind) {
        case FieldKind::Smallint:
        case FieldKind::Integer:
        case FieldKind::Word:
        case FieldKind::AutoInc:
        case FieldKind::LargeInt:
            return Conversion::Integer;
        case FieldKind::Float:
            return Conversion::Float;
        case FieldKind::BCD:
        case FieldKind::FMTBcd:
        case FieldKind::Currency:
            return Conversion::Decimal;
        case FieldKind::Boolean:
            return Conversion::Boolean;
        case FieldKind::Date:
            return Conversion::Date;
        case FieldKind::Time:
            return Conversion::Time;
        case FieldKind::DateTime:
        case FieldKind::TimeStamp:
            return Conversion::DateTime;
        case FieldKind::Blob:
        case FieldKind::Bytes:
        case FieldKind::VarBytes:
        case FieldKind::Graphic:
            return Conversion::Binary;
        case FieldKind::Guid:
            return Conversion::Guid;
        default:
            return Conversion::Text;
    }
}

// A column without a usable declared type (an expression, a view column over
// one, a made-up type name) takes its kind from the storage class of its value
// in the first row: INTEGER -> LargeInt, REAL -> Float, BLOB -> Blob, and
// TEXT, NULL or no row at all -> String of unbounded size.
FieldKind kindOfStorageClass(int storageClass) {
    switch (storageClass) {
        case SQLITE_INTEGER:
            return FieldKind::LargeInt;
        case SQLITE_FLOAT:
            return FieldKind::Float;
        case SQLITE_BLOB:
            return FieldKind::Blob;
        default:
            return FieldKind::String;
    }
}

std::string messageOf(sqlite3* db, int rc) {
    const char* message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    return message != nullptr ? std::string(message) : std::string(sqlite3_errstr(rc));
}

// A connection's handle and the lock around every use of it. SQLite runs in
// its multi-thread mode, without a lock of its own: taking this one once per
// execute() and once per fetched batch keeps two threads from using the
// connection at once, where SQLite's serialized mode would lock and unlock
// around every single call (several per cell). sqlite3_interrupt() is the
// one call made without it, from any thread, as SQLite allows.
struct SharedHandle {
    DatabasePtr db;
    std::mutex mutex;
};

// sqlite3_step; on failure `error` gets the connection's message (the caller
// holds the connection's lock, so no other statement overwrites it).
int step(sqlite3* db, sqlite3_stmt* statement, std::string& error) {
    const int rc = sqlite3_step(statement);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        error = messageOf(db, rc);
    }
    return rc;
}

// True when nothing but blanks, semicolons and comments is left of the text.
bool onlyTriviaLeft(const char* p, const char* end) {
    while (p < end) {
        const char c = *p;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v' || c == ';') {
            ++p;
        } else if (c == '-' && p + 1 < end && p[1] == '-') {
            while (p < end && *p != '\n') {
                ++p;
            }
        } else if (c == '/' && p + 1 < end && p[1] == '*') {
            const char* close = nullptr;
            for (const char* q = p + 2; q + 1 < end; ++q) {
                if (q[0] == '*' && q[1] == '/') {
                    close = q;
                    break;
                }
            }
            if (close == nullptr) {
                return true;  // an unterminated comment runs to the end
            }
            p = close + 2;
        } else {
            return false;
        }
    }
    return true;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool digitsAt(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (!isDigit(text[at + i])) {
            return false;
        }
    }
    return true;
}

bool looksLikeDate(std::string_view text) {
    return digitsAt(text, 0, 4) && text.size() >= 10 && text[4] == '-' && digitsAt(text, 5, 2) &&
           text[7] == '-' && digitsAt(text, 8, 2);
}

bool looksLikeHoursMinutes(std::string_view text, std::size_t at) {
    return digitsAt(text, at, 2) && at + 5 <= text.size() && text[at + 2] == ':' && digitsAt(text, at + 3, 2);
}

class SqliteCursor final : public CursorBase {
public:
    // A statement with a result set; its first step is taken here, so that a
    // failing statement fails in execute() and expressions get their kinds.
    // The caller holds the connection's lock.
    SqliteCursor(SharedHandle& handle, StatementPtr statement)
        : handle_(&handle), db_(handle.db.get()), statement_(std::move(statement)) {
        advance();
        describeColumns();
    }

    ~SqliteCursor() override {
        if (handle_ != nullptr) {
            const std::lock_guard lock(handle_->mutex);
            statement_.reset();
        }
    }

    // A statement without a result set, already run to its end.
    explicit SqliteCursor(std::int64_t rowsAffected) : CursorBase(rowsAffected) {}

private:
    std::size_t fetchRows(RowStore& rows, std::size_t maxRows) override {
        const std::lock_guard lock(handle_->mutex);
        std::size_t fetched = 0;
        while (fetched < maxRows && hasRow_) {
            appendRow(rows);
            ++fetched;
            advance();
        }
        return fetched;
    }

    void advance() {
        std::string error;
        const int rc = step(db_, statement_.get(), error);
        if (rc == SQLITE_ROW) {
            hasRow_ = true;
            return;
        }
        hasRow_ = false;
        endReached();
        // Ends the read transaction now rather than when the cursor goes.
        sqlite3_reset(statement_.get());
        if (rc != SQLITE_DONE) {
            throw DbError(error);
        }
    }

    void describeColumns() {
        std::vector<Column>& columns = describedColumns();
        const int count = sqlite3_column_count(statement_.get());
        columns.reserve(static_cast<std::size_t>(count));
        conversions_.reserve(static_cast<std::size_t>(count));
        scales_.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            const char* declared = sqlite3_column_decltype(statement_.get(), i);
            Column column = sqliteDeclaredColumn(declared != nullptr ? declared : "");
            if (column.kind == FieldKind::Unknown) {
                column = Column{};
                column.kind = kindOfStorageClass(hasRow_ ? sqlite3_column_type(statement_.get(), i) : SQLITE_NULL);
            }
            const char* name = sqlite3_column_name(statement_.get(), i);
            column.name = name != nullptr ? name : "";
            conversions_.push_back(conversionFor(column.kind));
            scales_.push_back(column.size);
            columns.push_back(std::move(column));
        }
    }

    void appendRow(RowStore& rows) {
        rows.beginRow();
        const int count = static_cast<int>(columns().size());
        for (int i = 0; i < count; ++i) {
            appendCell(rows, i);
        }
        rows.endRow();
    }

    std::string_view textOf(sqlite3_value* v) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(v));
        const int length = sqlite3_value_bytes(v);
        return text != nullptr ? std::string_view(text, static_cast<std::size_t>(length)) : std::string_view();
    }

    std::string_view bytesOf(sqlite3_value* v) {
        const auto* bytes = static_cast<const char*>(sqlite3_value_blob(v));
        const int length = sqlite3_value_bytes(v);
        return bytes != nullptr ? std::string_view(bytes, static_cast<std::size_t>(length)) : std::string_view();
    }

    std::string_view integerText(sqlite3_value* v) {
        const sqlite3_int64 value = sqlite3_value_int64(v);
        const auto result = std::to_chars(buffer_.data(), buffer_.data() + buffer_.size(), value);
        return std::string_view(buffer_.data(), static_cast<std::size_t>(result.ptr - buffer_.data()));
    }

    std::string_view floatText(double value) { return canonicalDouble(value, number_); }

    // Plain decimal notation, never an exponent, with at least `scale`
    // decimals; more when the stored value has more (nothing is rounded away).
    std::string_view decimalText(sqlite3_value* v, int storageClass, int scale) {
        char* out = buffer_.data();
        char* const end = buffer_.data() + buffer_.size();
        if (storageClass == SQLITE_INTEGER) {
            out = std::to_chars(out, end, sqlite3_value_int64(v)).ptr;
        } else {
            const double value = sqlite3_value_double(v);
            if (!std::isfinite(value)) {
                return floatText(value);
            }
            out = std::to_chars(out, end, value, std::chars_format::fixed).ptr;
        }
        const char* point = static_cast<const char*>(std::memchr(buffer_.data(), '.', out - buffer_.data()));
        int decimals = point != nullptr ? static_cast<int>(out - point - 1) : 0;
        if (decimals < scale) {
            if (point == nullptr && out < end) {
                *out++ = '.';
            }
            while (decimals < scale && out < end) {
                *out++ = '0';
                ++decimals;
            }
        }
        return std::string_view(buffer_.data(), static_cast<std::size_t>(out - buffer_.data()));
    }

    // ISO text with a "T" between date and time, without seconds, or with
    // trailing zeros in its fraction is brought to the canonical form;
    // anything else stays as stored.
    std::string_view dateTimeText(std::string_view text) {
        if (!looksLikeDate(text) || text.size() < 16 || (text[10] != 'T' && text[10] != ' ') ||
            !looksLikeHoursMinutes(text, 11)) {
            return text;
        }
        if (text[10] == ' ' && !timeNeedsCanonicalizing(text, 11)) {
            return text;
        }
        scratch_.assign(text);
        scratch_[10] = ' ';
        return canonicalizeTimeAt(scratch_, 11) ? std::string_view(scratch_) : text;
    }

    std::string_view timeText(std::string_view text) {
        if (!looksLikeHoursMinutes(text, 0) || !timeNeedsCanonicalizing(text, 0)) {
            return text;
        }
        scratch_.assign(text);
        return canonicalizeTimeAt(scratch_, 0) ? std::string_view(scratch_) : text;
    }

    std::string_view booleanText(sqlite3_value* v, int storageClass) {
        if (storageClass == SQLITE_INTEGER || storageClass == SQLITE_FLOAT) {
            const double value = sqlite3_value_double(v);
            if (value == 0.0) return "0";
            if (value == 1.0) return "1";
            return textOf(v);
        }
        const std::string_view text = textOf(v);
        if (text.size() == 4 && sqlite3_strnicmp(text.data(), "true", 4) == 0) return "1";
        if (text.size() == 5 && sqlite3_strnicmp(text.data(), "false", 5) == 0) return "0";
        return text;
    }

    std::string_view guidText(sqlite3_value* v, int storageClass) {
        if (storageClass != SQLITE_BLOB) {
            const std::string_view text = textOf(v);
            if (!isUpperCaseGuid(text)) {
                return text;
            }
            scratch_.assign(text);
            lowerCaseGuid(scratch_);
            return scratch_;
        }
        const std::string_view bytes = bytesOf(v);
        if (bytes.size() != 16) {
            return bytes;
        }
        static constexpr char kHex[] = "0123456789abcdef";
        std::size_t n = 0;
        for (std::size_t b = 0; b < 16; ++b) {
            if (b == 4 || b == 6 || b == 8 || b == 10) {
                buffer_[n++] = '-';
            }
            const auto byte = static_cast<unsigned char>(bytes[b]);
            buffer_[n++] = kHex[byte >> 4];
            buffer_[n++] = kHex[byte & 0x0f];
        }
        return std::string_view(buffer_.data(), n);
    }

    // The cell is read through its sqlite3_value: one call on the statement
    // instead of two or three per cell.
    void appendCell(RowStore& rows, int i) {
        sqlite3_value* v = sqlite3_column_value(statement_.get(), i);
        const int storageClass = sqlite3_value_type(v);
        if (storageClass == SQLITE_NULL) {
            rows.appendNull();
            return;
        }
        const auto column = static_cast<std::size_t>(i);
        switch (conversions_[column]) {
            case Conversion::Integer:
                rows.append(storageClass == SQLITE_INTEGER ? integerText(v) : textOf(v));
                return;
            case Conversion::Float:
                if (storageClass == SQLITE_FLOAT) {
                    rows.append(floatText(sqlite3_value_double(v)));
                } else {
                    rows.append(storageClass == SQLITE_INTEGER ? integerText(v) : textOf(v));
                }
                return;
            case Conversion::Decimal:
                if (storageClass == SQLITE_INTEGER || storageClass == SQLITE_FLOAT) {
                    rows.append(decimalText(v, storageClass, scales_[column]));
                } else {
                    rows.append(textOf(v));
                }
                return;
            case Conversion::Boolean:
                rows.append(booleanText(v, storageClass));
                return;
            case Conversion::DateTime:
                rows.append(storageClass == SQLITE_TEXT ? dateTimeText(textOf(v)) : textOf(v));
                return;
            case Conversion::Binary:
                rows.append(bytesOf(v));
                return;
            case Conversion::Guid:
                rows.append(guidText(v, storageClass));
                return;
            case Conversion::Time:
                rows.append(storageClass == SQLITE_TEXT ? timeText(textOf(v)) : textOf(v));
                return;
            case Conversion::Date:
            case Conversion::Text:
                rows.append(storageClass == SQLITE_INTEGER ? integerText(v) : textOf(v));
                return;
        }
    }

    SharedHandle* handle_ = nullptr;
    sqlite3* db_ = nullptr;
    StatementPtr statement_;
    std::vector<Conversion> conversions_;
    std::vector<int> scales_;
    bool hasRow_ = false;
    std::array<char, 400> buffer_{};  // a finite double in plain notation fits
    NumberBuffer number_{};
    std::string scratch_;  // a cell's text while it is brought to canonical form
};

class SqliteConnection final : public Connection {
public:
    explicit SqliteConnection(DatabasePtr db) : handle_(std::make_unique<SharedHandle>()), db_(db.get()) {
        handle_->db = std::move(db);
    }

    // Every statement of the text runs in order; the cursor is that of the
    // last one. Rows of earlier statements are read and dropped; the rows
    // affected are those of all statements together.
    std::unique_ptr<Cursor> execute(const std::string& sql) override {
        const std::lock_guard lock(handle_->mutex);
        const char* p = sql.data();
        const char* const end = sql.data() + sql.size();
        std::int64_t changed = 0;
        while (!onlyTriviaLeft(p, end)) {
            StatementPtr statement = prepare(sql.data(), p, end);
            if (!statement) {
                continue;
            }
            const bool last = onlyTriviaLeft(p, end);
            if (last && sqlite3_column_count(statement.get()) > 0) {
                return std::make_unique<SqliteCursor>(*handle_, std::move(statement));
            }
            changed += runToEnd(statement.get());
        }
        return std::make_unique<SqliteCursor>(changed);
    }

    void cancel() noexcept override { sqlite3_interrupt(db_); }
    // An embedded database has no server to lose.
    bool alive() noexcept override { return true; }

    std::string engineName() const override { return "SQLite"; }

private:
    // Prepares the statement at p of the text that begins at `start`, and
    // moves p past it; null for a statement that is only a comment.
    StatementPtr prepare(const char* start, const char*& p, const char* end) {
        sqlite3_stmt* raw = nullptr;
        const char* tail = nullptr;
        const int rc = sqlite3_prepare_v2(db_, p, static_cast<int>(end - p), &raw, &tail);
        StatementPtr statement(raw);
        if (rc != SQLITE_OK) {
            DbError error(messageOf(db_, rc));
            // Bytes into the text handed to prepare, which starts at p.
            if (const int offset = sqlite3_error_offset(db_); offset >= 0) {
                error.setPosition(ErrorPosition{static_cast<std::size_t>(p - start) + static_cast<std::size_t>(offset),
                                                false});
            }
            throw error;
        }
        p = tail != nullptr && tail > p ? tail : end;
        return statement;
    }

    std::int64_t runToEnd(sqlite3_stmt* statement) {
        const sqlite3_int64 before = sqlite3_total_changes64(db_);
        std::string error;
        int rc = SQLITE_ROW;
        while ((rc = step(db_, statement, error)) == SQLITE_ROW) {
        }
        if (rc != SQLITE_DONE) {
            throw DbError(error);
        }
        // sqlite3_changes() keeps the count of the last data change, so it only
        // belongs to this statement if this statement changed anything.
        return sqlite3_total_changes64(db_) != before ? sqlite3_changes64(db_) : 0;
    }

    std::unique_ptr<SharedHandle> handle_;
    sqlite3* db_;
};

}  // namespace

std::unique_ptr<Connection> openSqlite(const SqliteSettings& settings) {
    // The connection's own lock stands in for SQLite's (SharedHandle).
    int flags = SQLITE_OPEN_NOMUTEX;
    if (settings.readOnly) {
        flags |= SQLITE_OPEN_READONLY;
    } else {
        flags |= SQLITE_OPEN_READWRITE;
        if (settings.createIfMissing) {
            flags |= SQLITE_OPEN_CREATE;
        }
    }
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(settings.path.c_str(), &raw, flags, nullptr);
    DatabasePtr db(raw);
    if (rc != SQLITE_OK) {
        throw DbError(messageOf(db.get(), rc) + ": " + settings.path);
    }
    sqlite3_busy_timeout(db.get(), settings.busyTimeoutMs);
    sqlite3_extended_result_codes(db.get(), 1);
    // SQLite reads a file lazily; reading the schema now makes a file that is
    // no database fail here, at login, rather than at the first statement.
    char* message = nullptr;
    if (sqlite3_exec(db.get(), "PRAGMA schema_version", nullptr, nullptr, &message) != SQLITE_OK) {
        std::string error = message != nullptr ? message : messageOf(db.get(), SQLITE_ERROR);
        sqlite3_free(message);
        throw DbError(error + ": " + settings.path);
    }
    return std::make_unique<SqliteConnection>(std::move(db));
}

}  // namespace tarnwell::db
