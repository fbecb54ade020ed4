#include "dataaccess/mariadb/MariaDbConnection.h"

#include <errmsg.h>
#include <mysqld_error.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "dataaccess/CursorBase.h"
#include "dataaccess/DbError.h"
#include "dataaccess/ErrorPosition.h"
#include "dataaccess/SocketState.h"
#include "dataaccess/TextTools.h"
#include "dataaccess/mariadb/MariaDbHandles.h"
#include "dataaccess/mariadb/MariaDbTypes.h"

namespace tarnwell::db {

namespace {

using mariadb::CellConversion;
using mariadb::ResultHandle;
using mariadb::SessionHandle;

constexpr const char* kCharacterSet = "utf8mb4";
constexpr const char* kProgramName = "Tarnwell";
// Several statements in one text, each of their results, and UPDATE counting
// the rows it matched, as PostgreSQL and SQLite count them.
constexpr unsigned long kSessionFlags = CLIENT_MULTI_STATEMENTS | CLIENT_MULTI_RESULTS | CLIENT_FOUND_ROWS;

// The library sets up its global state on first use, which is not safe from
// two threads at once: every session is opened after this.
void initialiseLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mysql_library_init(0, nullptr, nullptr); });
}

DbError sessionError(MYSQL* session) {
    std::string message(trimBlanks(mysql_error(session)));
    if (message.empty()) {
        message = "the MariaDB client library reported error " + std::to_string(mysql_errno(session));
    }
    return DbError(message, mysql_sqlstate(session));
}

// Errors after which the session is gone for good.
bool sessionLost(unsigned int code) {
    return code == CR_SERVER_GONE_ERROR || code == CR_SERVER_LOST || code == ER_CONNECTION_KILLED ||
           code == ER_SERVER_SHUTDOWN;
}

unsigned int portNumber(const std::string& port) {
    if (port.empty()) {
        return 0;  // the library's default, 3306
    }
    unsigned int number = 0;
    const char* end = port.data() + port.size();
    const auto [stop, ec] = std::from_chars(port.data(), end, number);
    if (ec != std::errc() || stop != end || number == 0 || number > 65535) {
        throw DbError("not a port number: \"" + port + "\"");
    }
    return number;
}

const char* nullIfEmpty(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

// Opens a session with what every Tarnwell session needs: utf8mb4, no local
// files for the server to ask for, the program's name for the server's
// process list. A session that only stops statements needs neither the
// database nor the init command.
SessionHandle connectSession(const MariaDbSettings& settings, bool runsStatements) {
    initialiseLibrary();
    SessionHandle session(mysql_init(nullptr));
    if (!session) {
        throw DbError("out of memory while connecting to MariaDB");
    }
    MYSQL* raw = session.get();
    const unsigned int timeout = static_cast<unsigned int>(std::max(settings.connectTimeoutSeconds, 0));
    const unsigned int noLocalFiles = 0;
    mysql_optionsv(raw, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
    mysql_optionsv(raw, MYSQL_SET_CHARSET_NAME, kCharacterSet);
    mysql_optionsv(raw, MYSQL_OPT_LOCAL_INFILE, &noLocalFiles);
    mysql_optionsv(raw, MYSQL_OPT_CONNECT_ATTR_ADD, "program_name", kProgramName);
    if (runsStatements && !settings.initCommand.empty()) {
        mysql_optionsv(raw, MYSQL_INIT_COMMAND, settings.initCommand.c_str());
    }
    const bool socketPath = !settings.host.empty() && settings.host.front() == '/';
    const char* host = socketPath ? nullptr : nullIfEmpty(settings.host);
    const char* socket = socketPath ? settings.host.c_str() : nullptr;
    if (mysql_real_connect(raw, host, nullIfEmpty(settings.user), nullIfEmpty(settings.password),
                           runsStatements ? nullIfEmpty(settings.database) : nullptr, portNumber(settings.port),
                           socket, kSessionFlags) == nullptr) {
        throw sessionError(raw);
    }
    return session;
}

// Stops the statements of one session from a second session to the same
// server (KILL QUERY), opened the first time it is needed and kept. A kill is
// only sent while a statement runs, and a statement only counts as finished
// once a kill sent for it has been answered, so a late kill never reaches
// the next statement. (One that reaches the session between two statements
// is forgotten by the server when the next one starts.)
class StatementKiller {
public:
    StatementKiller(MariaDbSettings settings, unsigned long sessionId)
        : settings_(std::move(settings)), killSql_("KILL QUERY " + std::to_string(sessionId)) {}

    void statementStarted() {
        std::lock_guard lock(mutex_);
        running_ = true;
    }
    void statementFinished() noexcept {
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    // Without a second session (the server takes no more connections, say)
    // nothing is stopped: the statement runs on, and a result left early is
    // read to its end.
    void killRunning() noexcept {
        std::lock_guard lock(mutex_);
        if (!running_) {
            return;
        }
        // A kept session that the server has dropped since fails once; a new
        // one then gets the chance.
        for (int attempt = 0; attempt < 2; ++attempt) {
            const bool kept = side_ != nullptr;
            if (!kept && !openSide()) {
                return;
            }
            if (mysql_real_query(side_.get(), killSql_.data(), killSql_.size()) == 0 || !kept ||
                !sessionLost(mysql_errno(side_.get()))) {
                return;
            }
            side_.reset();
        }
    }
    void release() noexcept {
        std::lock_guard lock(mutex_);
        running_ = false;
        side_.reset();
    }

private:
    bool openSide() noexcept {
        try {
            side_ = connectSession(settings_, false);
            return true;
        } catch (...) {
            return false;
        }
    }

    std::mutex mutex_;
    const MariaDbSettings settings_;
    const std::string killSql_;
    SessionHandle side_;
    bool running_ = false;
};

class MariaDbCursor;

class MariaDbConnection final : public Connection {
public:
    MariaDbConnection(SessionHandle session, const MariaDbSettings& settings)
        : session_(std::move(session)), killer_(settings, mysql_thread_id(session_.get())) {}
    ~MariaDbConnection() override;

    MariaDbConnection(const MariaDbConnection&) = delete;
    MariaDbConnection& operator=(const MariaDbConnection&) = delete;

    std::unique_ptr<Cursor> execute(const std::string& sql) override;
    void cancel() noexcept override { killer_.killRunning(); }
    bool alive() noexcept override;
    std::string engineName() const override { return "MariaDB"; }

    // For the cursor that streams the running statement.
    MYSQL* raw() const noexcept { return session_.get(); }
    DbError failure();
    std::optional<DbError> finishStatement();
    void stopStatement(ResultHandle streaming) noexcept;
    void cursorClosed(const MariaDbCursor* cursor) noexcept {
        if (activeCursor_ == cursor) {
            activeCursor_ = nullptr;
        }
    }

private:
    // `text`: the statement that failed, which the server's "at line n"
    // counts in; empty for a later statement of the text, whose start the
    // server does not tell.
    std::unique_ptr<Cursor> failedStatement(std::int64_t rowsAffected, std::string_view text = {});

    SessionHandle session_;
    StatementKiller killer_;
    MariaDbCursor* activeCursor_ = nullptr;
    std::atomic<bool> lost_{false};
};

class MariaDbCursor final : public CursorBase {
public:
    // A text without a result set: all is done already.
    explicit MariaDbCursor(std::int64_t rowsAffected) : CursorBase(rowsAffected) {}
    // A result set whose columns have arrived; its rows stream through
    // fetch().
    MariaDbCursor(MariaDbConnection& connection, ResultHandle result)
        : connection_(&connection), result_(std::move(result)) {
        const unsigned int count = mysql_num_fields(result_.get());
        const MYSQL_FIELD* fields = mysql_fetch_fields(result_.get());
        std::vector<Column>& columns = describedColumns();
        columns.reserve(count);
        conversions_.reserve(count);
        for (unsigned int i = 0; i < count; ++i) {
            columns.push_back(mariadb::describeColumn(fields[i]));
            conversions_.push_back(mariadb::cellConversion(fields[i]));
        }
    }
    ~MariaDbCursor() override {
        abandon();
        if (connection_ != nullptr) {
            connection_->cursorClosed(this);
        }
    }

    MariaDbCursor(const MariaDbCursor&) = delete;
    MariaDbCursor& operator=(const MariaDbCursor&) = delete;

    // Stops the statement if it still streams and leaves the connection ready
    // for the next one; fetch() then finds the end.
    void abandon() noexcept {
        if (connection_ != nullptr && result_) {
            connection_->stopStatement(std::move(result_));
        }
        endReached();
    }
    // The connection goes away before this cursor.
    void detach() noexcept {
        abandon();
        connection_ = nullptr;
    }

private:
    std::size_t fetchRows(RowStore& rows, std::size_t maxRows) override;
    void appendRow(RowStore& rows, MYSQL_ROW row, const unsigned long* lengths);
    void finishResult();

    MariaDbConnection* connection_ = nullptr;
    ResultHandle result_;  // while the result set streams
    std::vector<CellConversion> conversions_;
    std::string scratch_;
};

MariaDbConnection::~MariaDbConnection() {
    if (activeCursor_ != nullptr) {
        activeCursor_->detach();
    }
    killer_.release();
}

bool MariaDbConnection::alive() noexcept {
    // The library learns of a server that went away (or of a KILL from
    // another session) only when it next reads; the kernel knows already.
    return !lost_ && !socketHungUp(static_cast<int>(mysql_get_socket(raw())));
}

DbError MariaDbConnection::failure() {
    if (sessionLost(mysql_errno(raw()))) {
        lost_ = true;
    }
    return sessionError(raw());
}

// Runs what is left of the text after a result set (the statements after
// it, their rows dropped), so the session is ready again. Gives the first
// error among them; the server runs nothing after an error.
std::optional<DbError> MariaDbConnection::finishStatement() {
    std::optional<DbError> error;
    for (;;) {
        const int next = mysql_next_result(raw());
        if (next < 0) {
            break;
        }
        if (next > 0) {
            // "Query was empty": the text ended in a statement of blanks or
            // comments only.
            if (mysql_errno(raw()) != ER_EMPTY_QUERY) {
                error = failure();
            }
            break;
        }
        if (mysql_field_count(raw()) > 0 && !ResultHandle(mysql_use_result(raw()))) {
            error = failure();
            break;
        }
    }
    killer_.statementFinished();
    return error;
}

void MariaDbConnection::stopStatement(ResultHandle streaming) noexcept {
    // Freed after the kill, the result reads only the rows already on their
    // way, up to the server's "interrupted"; without a kill, all of them.
    killer_.killRunning();
    streaming.reset();
    try {
        finishStatement();
    } catch (...) {
        // Only memory can run out here; the session is idle all the same.
        killer_.statementFinished();
    }
}

// The text failed at its first statement or at a later one: the error,
// unless the failing statement held nothing but blanks and comments.
std::unique_ptr<Cursor> MariaDbConnection::failedStatement(std::int64_t rowsAffected, std::string_view text) {
    const bool empty = mysql_errno(raw()) == ER_EMPTY_QUERY;
    DbError error = failure();
    killer_.statementFinished();
    if (empty) {
        return std::make_unique<MariaDbCursor>(rowsAffected);
    }
    if (!text.empty()) {
        error.setPosition(mariaDbErrorPosition(error.what(), text));
    }
    throw error;
}

std::unique_ptr<Cursor> MariaDbConnection::execute(const std::string& sql) {
    if (activeCursor_ != nullptr) {
        activeCursor_->abandon();
        activeCursor_ = nullptr;
    }
    killer_.statementStarted();
    if (mysql_real_query(raw(), sql.data(), sql.size()) != 0) {
        return failedStatement(0, sql);
    }
    // Statements before the first result set run to their end; their row
    // counts add up.
    std::int64_t rowsAffected = 0;
    for (;;) {
        if (mysql_field_count(raw()) > 0) {
            ResultHandle result(mysql_use_result(raw()));
            if (!result) {
                return failedStatement(rowsAffected);
            }
            auto cursor = std::make_unique<MariaDbCursor>(*this, std::move(result));
            activeCursor_ = cursor.get();
            return cursor;
        }
        const my_ulonglong changed = mysql_affected_rows(raw());
        if (changed != static_cast<my_ulonglong>(-1)) {
            rowsAffected += static_cast<std::int64_t>(changed);
        }
        const int next = mysql_next_result(raw());
        if (next < 0) {
            killer_.statementFinished();
            return std::make_unique<MariaDbCursor>(rowsAffected);
        }
        if (next > 0) {
            return failedStatement(rowsAffected);
        }
    }
}

void MariaDbCursor::appendRow(RowStore& rows, MYSQL_ROW row, const unsigned long* lengths) {
    rows.beginRow();
    try {
        for (std::size_t column = 0; column < conversions_.size(); ++column) {
            if (row[column] == nullptr) {
                rows.appendNull();
                continue;
            }
            mariadb::appendCell(rows, conversions_[column], std::string_view(row[column], lengths[column]),
                                scratch_);
        }
        rows.endRow();
    } catch (...) {
        rows.discardRow();
        throw;
    }
}

// The result set has no more rows, or its stream failed: the rest of the
// text runs, and the first error is the result's.
void MariaDbCursor::finishResult() {
    std::optional<DbError> error;
    if (mysql_errno(connection_->raw()) != 0) {
        error = connection_->failure();
    }
    result_.reset();
    std::optional<DbError> later = connection_->finishStatement();
    endReached();
    if (!error) {
        error = std::move(later);
    }
    if (error) {
        throw std::move(*error);
    }
}

std::size_t MariaDbCursor::fetchRows(RowStore& rows, std::size_t maxRows) {
    MYSQL_RES* result = result_.get();
    std::size_t appended = 0;
    while (appended < maxRows) {
        const MYSQL_ROW row = mysql_fetch_row(result);
        if (row == nullptr) {
            finishResult();
            break;
        }
        appendRow(rows, row, mysql_fetch_lengths(result));
        ++appended;
    }
    return appended;
}

}  // namespace

std::unique_ptr<Connection> openMariaDb(const MariaDbSettings& settings) {
    SessionHandle session = connectSession(settings, true);
    return std::make_unique<MariaDbConnection>(std::move(session), settings);
}

}  // namespace tarnwell::db
