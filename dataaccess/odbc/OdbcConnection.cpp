// The ODBC backend: statements through the unixODBC driver manager.
//
// Text goes through the wide (W) calls where the driver has them: SQL text,
// column names and messages as UTF-16, cell text read as SQL_C_WCHAR, all
// converted from and to UTF-8 here. A driver with narrow calls only gets and
// gives UTF-8 bytes through the narrow calls and SQL_C_CHAR instead (see
// OdbcSession.h for why). Binary cells are read as SQL_C_BINARY, raw.
//
// A statement that yields several results (a batch "insert ...; select ...")
// gives its first one: rows when the first result is a result set, else the
// rows affected by the first statement. Closing the cursor drops the rest.
//
// Rows are fetched one SQLFetch at a time and every cell is read with
// SQLGetData in pieces, so a long value arrives whole however long it is, and
// a packet never reads more of the result than it returns. (Whether the driver
// itself reads ahead is its own setting: the PostgreSQL driver streams only
// with UseDeclareFetch=1, otherwise it reads the whole result on execute.)

#include "dataaccess/odbc/OdbcConnection.h"

#include <algorithm>
#include <vector>

#include "dataaccess/CursorBase.h"
#include "dataaccess/DbError.h"
#include "dataaccess/ErrorPosition.h"
#include "dataaccess/odbc/OdbcHandles.h"
#include "dataaccess/odbc/OdbcSession.h"
#include "dataaccess/odbc/OdbcText.h"
#include "dataaccess/odbc/OdbcTypes.h"
#include "sqlsyntax/Dialect.h"

namespace tarnwell::db {

namespace {

using odbc::DescribedColumn;
using odbc::Session;
using odbc::StatementHandle;
using odbc::TextCalls;

// Bytes read by one SQLGetData call.
constexpr std::size_t kPieceBytes = 64 * 1024;

// The error of a failed call on `statement`. When the work was cancelled and
// the driver only complains that the statement is no longer in the state for
// the call (the cancel came between two calls and closed it), the cancel is
// what the caller needs to hear about.
DbError statementError(SQLHANDLE statement, TextCalls calls, bool cancelled, std::string_view fallback) {
    DbError error = odbc::diagnosticError(SQL_HANDLE_STMT, statement, fallback, calls);
    if (cancelled && (error.sqlState() == "HY010" || error.sqlState() == "24000" || error.sqlState().empty())) {
        return odbc::cancelledError();
    }
    return error;
}

std::string columnTypeName(SQLHANDLE statement, SQLUSMALLINT number, TextCalls calls) {
    SQLLEN unused = 0;
    SQLSMALLINT lengthInBytes = 0;
    if (calls == TextCalls::Narrow) {
        SQLCHAR name[256] = {};
        const SQLRETURN rc =
            SQLColAttribute(statement, number, SQL_DESC_TYPE_NAME, name, sizeof name, &lengthInBytes, &unused);
        if (!SQL_SUCCEEDED(rc) || lengthInBytes <= 0) {
            return {};
        }
        return std::string(reinterpret_cast<const char*>(name),
                           std::min<std::size_t>(static_cast<std::size_t>(lengthInBytes), sizeof name - 1));
    }
    SQLWCHAR name[128] = {};
    const SQLRETURN rc =
        SQLColAttributeW(statement, number, SQL_DESC_TYPE_NAME, name, sizeof name, &lengthInBytes, &unused);
    if (!SQL_SUCCEEDED(rc) || lengthInBytes <= 0) {
        return {};
    }
    const std::size_t units = std::min<std::size_t>(lengthInBytes / sizeof(SQLWCHAR), std::size(name) - 1);
    return odbc::toUtf8(name, units);
}

// The column's name through SQLDescribeColW, growing the buffer to fit.
std::string describeWide(SQLHANDLE statement, SQLUSMALLINT number, DescribedColumn& described) {
    std::vector<SQLWCHAR> name(256);
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT nullable = 0;
    for (;;) {
        const SQLRETURN rc = SQLDescribeColW(statement, number, name.data(), static_cast<SQLSMALLINT>(name.size()),
                                             &nameLength, &described.sqlType, &described.columnSize,
                                             &described.decimalDigits, &nullable);
        if (!SQL_SUCCEEDED(rc)) {
            throw odbc::diagnosticError(SQL_HANDLE_STMT, statement, "the ODBC driver could not describe a column");
        }
        if (nameLength < static_cast<SQLSMALLINT>(name.size()) || name.size() >= 32767) {
            break;
        }
        name.resize(std::min<std::size_t>(static_cast<std::size_t>(nameLength) + 1, 32767));
    }
    const std::size_t length = std::min<std::size_t>(nameLength < 0 ? 0 : nameLength, name.size() - 1);
    return odbc::toUtf8(name.data(), length);
}

// The same through SQLDescribeCol: the driver's own bytes.
std::string describeNarrow(SQLHANDLE statement, SQLUSMALLINT number, DescribedColumn& described) {
    std::vector<SQLCHAR> name(512);
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT nullable = 0;
    for (;;) {
        const SQLRETURN rc = SQLDescribeCol(statement, number, name.data(), static_cast<SQLSMALLINT>(name.size()),
                                            &nameLength, &described.sqlType, &described.columnSize,
                                            &described.decimalDigits, &nullable);
        if (!SQL_SUCCEEDED(rc)) {
            throw odbc::diagnosticError(SQL_HANDLE_STMT, statement, "the ODBC driver could not describe a column",
                                        TextCalls::Narrow);
        }
        if (nameLength < static_cast<SQLSMALLINT>(name.size()) || name.size() >= 32767) {
            break;
        }
        name.resize(std::min<std::size_t>(static_cast<std::size_t>(nameLength) + 1, 32767));
    }
    const std::size_t length = std::min<std::size_t>(nameLength < 0 ? 0 : nameLength, name.size() - 1);
    return std::string(reinterpret_cast<const char*>(name.data()), length);
}

DescribedColumn describeColumn(SQLHANDLE statement, SQLUSMALLINT number, TextCalls calls) {
    DescribedColumn described;
    described.name = calls == TextCalls::Wide ? describeWide(statement, number, described)
                                              : describeNarrow(statement, number, described);
    described.typeName = columnTypeName(statement, number, calls);
    return described;
}

SQLRETURN executeDirect(SQLHANDLE statement, const std::string& sql, TextCalls calls) {
    if (calls == TextCalls::Narrow) {
        // The narrow call takes the bytes as they are: UTF-8.
        std::string text = sql;
        return SQLExecDirect(statement, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size()));
    }
    odbc::WideText text(sql);
    return SQLExecDirectW(statement, text.data(), text.length());
}

// Drivers report -1 for statements that have no count (DDL); such a
// statement changed no rows.
std::int64_t rowsAffectedBy(SQLHANDLE statement) {
    SQLLEN count = 0;
    if (!SQL_SUCCEEDED(SQLRowCount(statement, &count)) || count < 0) {
        return 0;
    }
    return count;
}

class OdbcCursor final : public CursorBase {
public:
    // A statement without a result set.
    explicit OdbcCursor(std::int64_t rowsAffected) : CursorBase(rowsAffected) {}

    // A result set, read from `statement` as fetch() asks.
    OdbcCursor(std::shared_ptr<Session> session, StatementHandle statement,
               const std::vector<DescribedColumn>& described)
        : session_(std::move(session)), statement_(std::move(statement)), calls_(session_->textCalls()),
          piece_(kPieceBytes / sizeof(SQLWCHAR)) {
        std::vector<Column>& columns = describedColumns();
        columns.reserve(described.size());
        sqlTypes_.reserve(described.size());
        for (const DescribedColumn& column : described) {
            columns.push_back(odbc::columnFor(column));
            sqlTypes_.push_back(column.sqlType);
        }
    }

    ~OdbcCursor() override { close(); }

private:
    std::size_t fetchRows(RowStore& rows, std::size_t maxRows) override {
        Session::Work work(*session_);
        std::size_t appended = 0;
        try {
            while (appended < maxRows && fetchRow(rows, work)) {
                ++appended;
            }
        } catch (const DbError&) {
            close();
            throw;
        }
        return appended;
    }

    // Fetches one row into `rows`; false at the end of the result.
    bool fetchRow(RowStore& rows, const Session::Work& work) {
        SQLRETURN rc = SQL_ERROR;
        {
            Session::DriverCall call(*session_, statement_.get());
            if (!call.started()) {
                throw odbc::cancelledError();
            }
            rc = SQLFetch(statement_.get());
        }
        if (rc == SQL_NO_DATA) {
            close();
            return false;
        }
        if (!SQL_SUCCEEDED(rc)) {
            throw statementError(statement_.get(), calls_, work.cancelled(), "the ODBC driver could not fetch a row");
        }
        rows.beginRow();
        try {
            for (std::size_t column = 0; column < columns().size(); ++column) {
                readCell(column, rows, work);
            }
            rows.endRow();
        } catch (...) {
            rows.discardRow();
            throw;
        }
        return true;
    }

    void readCell(std::size_t column, RowStore& rows, const Session::Work& work) {
        const auto number = static_cast<SQLUSMALLINT>(column + 1);
        if (odbc::readsAsBinary(columns()[column].kind)) {
            bytes_.clear();
            const bool present = readValue(number, SQL_C_BINARY, work, [this](std::size_t length) {
                bytes_.append(reinterpret_cast<const char*>(piece_.data()), length);
            });
            present ? rows.append(bytes_) : rows.appendNull();
            return;
        }
        text_.clear();
        bool present = false;
        if (calls_ == TextCalls::Wide) {
            wide_.clear();
            present = readValue(number, SQL_C_WCHAR, work, [this](std::size_t length) {
                const auto units = static_cast<std::ptrdiff_t>(length / sizeof(SQLWCHAR));
                wide_.insert(wide_.end(), piece_.begin(), piece_.begin() + units);
            });
            odbc::appendUtf8(text_, wide_.data(), wide_.size());
        } else {
            present = readValue(number, SQL_C_CHAR, work, [this](std::size_t length) {
                text_.append(reinterpret_cast<const char*>(piece_.data()), length);
            });
        }
        if (!present) {
            rows.appendNull();
            return;
        }
        odbc::canonicalizeCell(columns()[column].kind, sqlTypes_[column], text_);
        rows.append(text_);
    }

    // Reads the value of column `number` as `cType` in pieces, handing the
    // byte count of each piece (now in piece_) to `take`. False for NULL.
    template <typename Take>
    bool readValue(SQLUSMALLINT number, SQLSMALLINT cType, const Session::Work& work, Take take) {
        const auto capacity = static_cast<SQLLEN>(piece_.size() * sizeof(SQLWCHAR));
        // Character data leaves room for its terminating zero in every piece.
        const SQLLEN terminator = cType == SQL_C_WCHAR ? sizeof(SQLWCHAR) : cType == SQL_C_CHAR ? 1 : 0;
        const SQLLEN room = capacity - terminator;
        for (;;) {
            SQLLEN indicator = 0;
            const SQLRETURN rc = SQLGetData(statement_.get(), number, cType, piece_.data(), capacity, &indicator);
            if (rc == SQL_NO_DATA) {
                return true;  // every piece taken (or, at once, an empty value)
            }
            if (!SQL_SUCCEEDED(rc)) {
                throw statementError(statement_.get(), calls_, work.cancelled(),
                                     "the ODBC driver could not read a value");
            }
            if (indicator == SQL_NULL_DATA) {
                return false;
            }
            const bool whole = indicator != SQL_NO_TOTAL && indicator <= room;
            take(static_cast<std::size_t>(whole ? indicator : room));
            if (rc == SQL_SUCCESS || whole) {
                return true;
            }
        }
    }

    void close() noexcept {
        endReached();
        if (statement_) {
            SQLCloseCursor(statement_.get());
            statement_.reset();
        }
    }

    std::shared_ptr<Session> session_;
    StatementHandle statement_;
    TextCalls calls_ = TextCalls::Wide;
    std::vector<SQLSMALLINT> sqlTypes_;

    // Reused for every cell.
    std::vector<SQLWCHAR> piece_;
    std::vector<SQLWCHAR> wide_;  // a wide value before it becomes UTF-8
    std::string bytes_;
    std::string text_;
};

class OdbcConnection final : public Connection {
public:
    explicit OdbcConnection(std::shared_ptr<Session> session) : session_(std::move(session)) {}

    std::unique_ptr<Cursor> execute(const std::string& sql) override {
        StatementHandle statement = odbc::allocateStatement(session_->connection());
        const TextCalls calls = session_->textCalls();
        Session::Work work(*session_);
        SQLRETURN rc = SQL_ERROR;
        {
            Session::DriverCall call(*session_, statement.get());
            if (!call.started()) {
                throw odbc::cancelledError();
            }
            rc = executeDirect(statement.get(), sql, calls);
        }
        if (rc != SQL_NO_DATA && !SQL_SUCCEEDED(rc)) {
            DbError error =
                statementError(statement.get(), calls, work.cancelled(), "the ODBC driver could not run the statement");
            // Of the drivers, only MariaDB's passes on where the server found
            // the fault, in the words of the server's own message.
            if (sql::dialectForDbmsName(session_->dbmsName()) == sql::Dialect::MariaDB) {
                error.setPosition(mariaDbErrorPosition(error.what(), sql));
            }
            throw error;
        }
        SQLSMALLINT columnCount = 0;
        if (!SQL_SUCCEEDED(SQLNumResultCols(statement.get(), &columnCount))) {
            throw statementError(statement.get(), calls, work.cancelled(),
                                 "the ODBC driver could not describe the result");
        }
        if (columnCount <= 0) {
            // Done, cancelled or not: what it changed stays changed.
            return std::make_unique<OdbcCursor>(rowsAffectedBy(statement.get()));
        }
        std::vector<DescribedColumn> described;
        described.reserve(static_cast<std::size_t>(columnCount));
        for (SQLSMALLINT number = 1; number <= columnCount; ++number) {
            described.push_back(describeColumn(statement.get(), static_cast<SQLUSMALLINT>(number), calls));
        }
        if (work.cancelled()) {
            throw odbc::cancelledError();
        }
        return std::make_unique<OdbcCursor>(session_, std::move(statement), described);
    }

    void cancel() noexcept override { session_->cancel(); }

    bool alive() noexcept override { return session_->alive(); }

    std::string engineName() const override { return "ODBC"; }
    std::string dbmsName() const override { return session_->dbmsName(); }

private:
    std::shared_ptr<Session> session_;
};

}  // namespace

std::unique_ptr<Connection> openOdbc(const OdbcSettings& settings) {
    return std::make_unique<OdbcConnection>(std::make_shared<Session>(settings));
}

std::string odbcConnectionValue(const std::string& value) {
    const bool needsBraces = value.find_first_of(";{}=") != std::string::npos ||
                             (!value.empty() && (value.front() == ' ' || value.back() == ' '));
    if (!needsBraces) {
        return value;
    }
    std::string out = "{";
    for (char c : value) {
        out += c;
        if (c == '}') {
            out += '}';
        }
    }
    return out + "}";
}

}  // namespace tarnwell::db
