#include "dataaccess/postgres/PgConnection.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <sys/socket.h>
#include <unistd.h>

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
#include "dataaccess/SqlText.h"
#include "dataaccess/TextTools.h"
#include "dataaccess/postgres/PgHandles.h"
#include "dataaccess/postgres/PgTypes.h"

namespace tarnwell::db {

namespace {

using pg::CancelHandle;
using pg::CellConversion;
using pg::ConnectionHandle;
using pg::ResultHandle;

// Session settings that make the server's text output the canonical cell text:
// ISO dates, hex bytea, money without a locale's symbols, floats that read
// back exactly (shortest form on servers from 12 on). IntervalStyle is pinned
// to the server's own default so intervals read the same on every server.
constexpr const char* kSessionOptions =
    "-c DateStyle=ISO -c IntervalStyle=postgres -c bytea_output=hex "
    "-c lc_monetary=C -c extra_float_digits=3";
constexpr const char* kApplicationName = "Tarnwell";

std::string trimmed(std::string_view text) { return std::string(trimBlanks(text)); }

DbError connectionError(const PGconn* conn) {
    return DbError(trimmed(PQerrorMessage(conn)));
}

DbError resultError(const PGresult* result, const PGconn* conn) {
    std::string message = trimmed(PQresultErrorMessage(result));
    if (message.empty()) {
        message = trimmed(PQerrorMessage(conn));
    }
    if (message.empty()) {
        message = std::string("unexpected result from the server: ") +
                  PQresStatus(PQresultStatus(result));
    }
    const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    return DbError(message, state != nullptr ? state : "");
}

// The error of a statement that failed before its first result, placed in
// `sql` where the server says: a character position from 1.
DbError statementResultError(const PGresult* result, const PGconn* conn, std::string_view sql) {
    DbError error = resultError(result, conn);
    const char* position = PQresultErrorField(result, PG_DIAG_STATEMENT_POSITION);
    std::size_t character = 0;
    if (position != nullptr &&
        std::from_chars(position, position + std::char_traits<char>::length(position), character).ec ==
            std::errc() &&
        character > 0) {
        error.setPosition(ErrorPosition{byteOffsetOfCharacter(sql, character - 1), false});
    }
    return error;
}

// The rows a command changed; 0 for a command that reports no count.
std::int64_t commandRowCount(const PGresult* result) {
    const std::string_view text = PQcmdTuples(const_cast<PGresult*>(result));
    std::int64_t count = 0;
    std::from_chars(text.data(), text.data() + text.size(), count);
    return count;
}

// Keywords and values for PQconnectdbParams, kept alive together.
class ConnectParameters {
public:
    void set(const std::string& keyword, const std::string& value) {
        for (auto& entry : entries_) {
            if (entry.first == keyword) {
                entry.second = value;
                return;
            }
        }
        entries_.emplace_back(keyword, value);
    }
    const std::string* find(const std::string& keyword) const {
        for (const auto& entry : entries_) {
            if (entry.first == keyword) {
                return &entry.second;
            }
        }
        return nullptr;
    }

    ConnectionHandle connect() const {
        std::vector<const char*> keywords;
        std::vector<const char*> values;
        for (const auto& [keyword, value] : entries_) {
            keywords.push_back(keyword.c_str());
            values.push_back(value.c_str());
        }
        keywords.push_back(nullptr);
        values.push_back(nullptr);
        return ConnectionHandle(PQconnectdbParams(keywords.data(), values.data(), 0));
    }

private:
    std::vector<std::pair<std::string, std::string>> entries_;
};

// What every Tarnwell session needs, whatever the caller's own settings:
// UTF-8, the output styles above (after the caller's own options, so they
// win) and a name in pg_stat_activity unless the caller chose one.
void addSessionSettings(ConnectParameters& params) {
    params.set("client_encoding", "UTF8");
    if (params.find("application_name") == nullptr) {
        params.set("application_name", kApplicationName);
    }
    const std::string* callerOptions = params.find("options");
    std::string options = callerOptions != nullptr && !callerOptions->empty()
                              ? *callerOptions + " " + kSessionOptions
                              : kSessionOptions;
    params.set("options", options);
}

void ignoreNotice(void*, const char*) {}

class PgCursor;

// The words of a statement stopped by cutting its connection, in place of
// libpq's, which would blame the server for closing it.
constexpr const char* kCutMessage = "伺服器沒有回應停止的要求，已切斷連線";

// The PGcancel of a connection, shared by the thread that runs statements and
// any thread that wants them stopped. A cancel request is only sent while a
// statement runs, and a statement only counts as finished once every cancel
// request sent for it has been delivered, so a late request never stops the
// next statement.
//
// It also holds a descriptor of its own for the connection's socket, so that
// the connection can be cut from any thread (shutdown() wakes a thread that
// waits on the socket) without touching libpq's state, and without a number
// that libpq may have closed and the process given to another file.
class StatementCanceller {
public:
    StatementCanceller(CancelHandle handle, int socket)
        : handle_(std::move(handle)), socket_(socket >= 0 ? ::fcntl(socket, F_DUPFD_CLOEXEC, 0) : -1) {}
    ~StatementCanceller() {
        if (socket_ >= 0) {
            ::close(socket_);
        }
    }
    StatementCanceller(const StatementCanceller&) = delete;
    StatementCanceller& operator=(const StatementCanceller&) = delete;

    void statementStarted() {
        std::lock_guard lock(mutex_);
        running_ = true;
    }
    void statementFinished() noexcept {
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    void cancelRunning() noexcept {
        std::lock_guard lock(mutex_);
        if (running_ && handle_) {
            char ignoredError[256];
            PQcancel(handle_.get(), ignoredError, sizeof ignoredError);
        }
    }
    // Needs no lock: a cancel that waits for the server must not hold it up.
    void cut() noexcept {
        if (socket_ >= 0 && !cut_.exchange(true)) {
            ::shutdown(socket_, SHUT_RDWR);
        }
    }
    bool wasCut() const noexcept { return cut_; }
    void release() noexcept {
        std::lock_guard lock(mutex_);
        running_ = false;
        handle_.reset();
    }

private:
    std::mutex mutex_;
    CancelHandle handle_;
    bool running_ = false;
    const int socket_;
    std::atomic<bool> cut_{false};
};

class PgConnection final : public Connection {
public:
    PgConnection(ConnectionHandle conn, CancelHandle canceller)
        : conn_(std::move(conn)), canceller_(std::move(canceller), PQsocket(conn_.get())) {
        PQsetNoticeProcessor(conn_.get(), &ignoreNotice, nullptr);
    }
    ~PgConnection() override;

    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    std::unique_ptr<Cursor> execute(const std::string& sql) override;
    void cancel() noexcept override { canceller_.cancelRunning(); }
    void cutConnection() noexcept override { canceller_.cut(); }
    bool alive() noexcept override;
    std::string engineName() const override { return "PostgreSQL"; }

    // For the cursor that streams the running statement.
    ResultHandle nextResult() { return ResultHandle(PQgetResult(conn_.get())); }
    PGconn* raw() const noexcept { return conn_.get(); }
    std::optional<DbError> finishStatement();
    void stopStatement() noexcept;
    bool drainWhatArrived() noexcept;
    // The error to report for a statement: a cut says so rather than what
    // libpq saw of it.
    DbError statementError(DbError error) const {
        return canceller_.wasCut() ? DbError(kCutMessage) : std::move(error);
    }
    void cursorClosed(const PgCursor* cursor) noexcept {
        if (activeCursor_ == cursor) {
            activeCursor_ = nullptr;
        }
    }

private:
    void sendQuery(const std::string& sql);
    bool settleCopy(const PGresult* result);

    ConnectionHandle conn_;
    StatementCanceller canceller_;
    PgCursor* activeCursor_ = nullptr;
};

class PgCursor final : public CursorBase {
public:
    // A statement without a result set: all is done already.
    explicit PgCursor(std::int64_t rowsAffected) : CursorBase(rowsAffected) {}
    // A result set whose first result (a row, or the end of an empty set) has
    // arrived; the rest streams through fetch().
    PgCursor(PgConnection& connection, ResultHandle first)
        : connection_(&connection), first_(std::move(first)) {
        std::vector<Column>& columns = describedColumns();
        const PGresult* result = first_.get();
        const int count = PQnfields(result);
        columns.reserve(static_cast<std::size_t>(count));
        conversions_.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            const Oid type = PQftype(result, i);
            columns.push_back(pg::describeColumn(PQfname(result, i), type, PQfmod(result, i)));
            conversions_.push_back(pg::cellConversion(type));
        }
    }
    ~PgCursor() override {
        abandon();
        if (connection_ != nullptr) {
            connection_->cursorClosed(this);
        }
    }

    PgCursor(const PgCursor&) = delete;
    PgCursor& operator=(const PgCursor&) = delete;

    // Stops the statement if it still runs and leaves the connection ready
    // for the next one; fetch() then finds the end.
    void abandon() noexcept {
        if (connection_ != nullptr && !atEnd()) {
            first_.reset();
            connection_->stopStatement();
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
    std::size_t appendRows(RowStore& rows, const PGresult* result);

    PgConnection* connection_ = nullptr;
    ResultHandle first_;
    std::vector<CellConversion> conversions_;
    std::string scratch_;
};

PgConnection::~PgConnection() {
    if (activeCursor_ != nullptr) {
        activeCursor_->detach();
    }
    canceller_.release();
}

bool PgConnection::alive() noexcept {
    if (canceller_.wasCut() || PQstatus(conn_.get()) != CONNECTION_OK) {
        return false;
    }
    // libpq learns of a server that went away only when it next reads. The
    // kernel knows already.
    return !socketHungUp(PQsocket(conn_.get()));
}

void PgConnection::sendQuery(const std::string& sql) {
    // libpq takes the text up to its first NUL.
    refuseNulCharacter(sql);
    canceller_.statementStarted();
    if (PQsendQuery(conn_.get(), sql.c_str()) == 0) {
        canceller_.statementFinished();
        throw statementError(connectionError(conn_.get()));
    }
    PQsetSingleRowMode(conn_.get());
}

// COPY has no place in a query window: data going out is read and dropped
// (the statement then reports its row count), data expected in is refused, so
// the server ends the statement with an error. True when the result was such
// a COPY state.
bool PgConnection::settleCopy(const PGresult* result) {
    switch (PQresultStatus(result)) {
    case PGRES_COPY_OUT: {
        char* buffer = nullptr;
        while (PQgetCopyData(conn_.get(), &buffer, 0) > 0) {
            PQfreemem(buffer);
            buffer = nullptr;
        }
        return true;
    }
    case PGRES_COPY_IN:
    case PGRES_COPY_BOTH:
        PQputCopyEnd(conn_.get(), "Tarnwell sends no data to COPY FROM STDIN");
        return true;
    default:
        return false;
    }
}

// Reads what is left of the running statement (the results of any further
// statements in the same text), so the connection is ready again. Gives the
// first error among them.
std::optional<DbError> PgConnection::finishStatement() {
    std::optional<DbError> firstError;
    while (ResultHandle result = nextResult()) {
        if (settleCopy(result.get())) {
            continue;
        }
        switch (PQresultStatus(result.get())) {
        case PGRES_FATAL_ERROR:
        case PGRES_BAD_RESPONSE:
        case PGRES_NONFATAL_ERROR:
            if (!firstError) {
                firstError = resultError(result.get(), conn_.get());
            }
            break;
        default:
            break;
        }
    }
    canceller_.statementFinished();
    return firstError;
}

// Reads what the server has sent of the running statement so far, without
// waiting for more. True when that was all of it: the statement is over and
// needs no cancel (which costs the server a new process and the caller a
// round trip), as with a small result left before its last row.
bool PgConnection::drainWhatArrived() noexcept {
    if (PQconsumeInput(conn_.get()) == 0) {
        return false;
    }
    while (PQisBusy(conn_.get()) == 0) {
        ResultHandle result = nextResult();
        if (!result) {
            return true;
        }
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_COPY_OUT || status == PGRES_COPY_IN || status == PGRES_COPY_BOTH) {
            return false;  // the full way settles it
        }
    }
    return false;
}

void PgConnection::stopStatement() noexcept {
    if (drainWhatArrived()) {
        canceller_.statementFinished();
        return;
    }
    canceller_.cancelRunning();
    try {
        finishStatement();
    } catch (...) {
        // Only memory can run out here. What is left unread makes the next
        // execute() fail with libpq's "another command is already in
        // progress" rather than read stale rows.
        canceller_.statementFinished();
    }
}

std::unique_ptr<Cursor> PgConnection::execute(const std::string& sql) {
    if (activeCursor_ != nullptr) {
        activeCursor_->abandon();
        activeCursor_ = nullptr;
    }
    sendQuery(sql);
    // Statements before the first result set run to their end; their row
    // counts add up (a command without a count, such as DDL, adds none).
    std::int64_t rowsAffected = 0;
    for (;;) {
        ResultHandle result = nextResult();
        if (!result) {
            canceller_.statementFinished();
            return std::make_unique<PgCursor>(rowsAffected);
        }
        if (settleCopy(result.get())) {
            continue;
        }
        switch (PQresultStatus(result.get())) {
        case PGRES_SINGLE_TUPLE:
        case PGRES_TUPLES_OK: {
            auto cursor = std::make_unique<PgCursor>(*this, std::move(result));
            activeCursor_ = cursor.get();
            return cursor;
        }
        case PGRES_COMMAND_OK:
            rowsAffected += commandRowCount(result.get());
            break;
        case PGRES_EMPTY_QUERY:
            break;
        default: {
            DbError error = statementError(statementResultError(result.get(), conn_.get(), sql));
            result.reset();
            finishStatement();
            throw error;
        }
        }
    }
}

std::size_t PgCursor::appendRows(RowStore& rows, const PGresult* result) {
    const int rowCount = PQntuples(result);
    const int columnCount = static_cast<int>(columns().size());
    for (int row = 0; row < rowCount; ++row) {
        rows.beginRow();
        try {
            for (int column = 0; column < columnCount; ++column) {
                // Only an empty value can be a null: libpq gives a null a
                // length of 0.
                const int length = PQgetlength(result, row, column);
                if (length == 0 && PQgetisnull(result, row, column)) {
                    rows.appendNull();
                    continue;
                }
                const std::string_view text(PQgetvalue(result, row, column), static_cast<std::size_t>(length));
                pg::appendCell(rows, conversions_[static_cast<std::size_t>(column)], text, scratch_);
            }
            rows.endRow();
        } catch (...) {
            rows.discardRow();
            throw;
        }
    }
    return static_cast<std::size_t>(rowCount);
}

std::size_t PgCursor::fetchRows(RowStore& rows, std::size_t maxRows) {
    std::size_t appended = 0;
    while (appended < maxRows) {
        ResultHandle result = first_ ? std::move(first_) : connection_->nextResult();
        if (!result) {
            // The results ended without the closing result of a set; the
            // connection is idle all the same.
            connection_->finishStatement();
            endReached();
            break;
        }
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_SINGLE_TUPLE) {
            appended += appendRows(rows, result.get());
            continue;
        }
        if (status == PGRES_TUPLES_OK) {
            // The end of the result set. Further statements of the same text
            // run now; an error of theirs is the statement's error.
            appended += appendRows(rows, result.get());
            result.reset();
            std::optional<DbError> error = connection_->finishStatement();
            endReached();
            if (error) {
                throw connection_->statementError(std::move(*error));
            }
            break;
        }
        DbError error = connection_->statementError(resultError(result.get(), connection_->raw()));
        result.reset();
        connection_->finishStatement();
        throw error;
    }
    return appended;
}

std::unique_ptr<Connection> connectWith(const ConnectParameters& params) {
    ConnectionHandle conn = params.connect();
    if (!conn) {
        throw DbError("out of memory while connecting to PostgreSQL");
    }
    if (PQstatus(conn.get()) != CONNECTION_OK) {
        throw connectionError(conn.get());
    }
    CancelHandle canceller(PQgetCancel(conn.get()));
    if (!canceller) {
        throw DbError("PostgreSQL gave no means to cancel statements on this connection");
    }
    return std::make_unique<PgConnection>(std::move(conn), std::move(canceller));
}

}  // namespace

std::unique_ptr<Connection> openPostgres(const PgSettings& settings) {
    ConnectParameters params;
    auto setIfGiven = [&](const char* keyword, const std::string& value) {
        if (!value.empty()) {
            params.set(keyword, value);
        }
    };
    setIfGiven("host", settings.host);
    setIfGiven("port", settings.port);
    setIfGiven("dbname", settings.database);
    setIfGiven("user", settings.user);
    setIfGiven("password", settings.password);
    params.set("connect_timeout", std::to_string(settings.connectTimeoutSeconds));
    addSessionSettings(params);
    return connectWith(params);
}

std::unique_ptr<Connection> openPostgres(const std::string& conninfo) {
    char* parseError = nullptr;
    std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> options(
        PQconninfoParse(conninfo.c_str(), &parseError), &PQconninfoFree);
    if (!options) {
        std::string message = parseError != nullptr ? trimmed(parseError)
                                                    : "out of memory while reading the connection string";
        PQfreemem(parseError);
        throw DbError(message);
    }
    ConnectParameters params;
    for (const PQconninfoOption* option = options.get(); option->keyword != nullptr; ++option) {
        if (option->val != nullptr) {
            params.set(option->keyword, option->val);
        }
    }
    if (params.find("connect_timeout") == nullptr) {
        params.set("connect_timeout", std::to_string(PgSettings{}.connectTimeoutSeconds));
    }
    addSessionSettings(params);
    return connectWith(params);
}

}  // namespace tarnwell::db
