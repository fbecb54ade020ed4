#include "dataaccess/odbc/OdbcSession.h"

#include <algorithm>
#include <iterator>
#include <string>

#include "dataaccess/odbc/OdbcText.h"

namespace tarnwell::db::odbc {

namespace {

// True when text outside the basic plane survives the wide calls on this
// connection, as it does with a Unicode driver.
bool wideCallsKeepText(SQLHANDLE connection) {
    WideText probe("select '\xF0\xA0\x80\x8B\xE5\x90\x8D'");  // U+2000B U+540D
    SQLWCHAR translated[64] = {};
    SQLINTEGER length = 0;
    const SQLRETURN rc = SQLNativeSqlW(connection, probe.data(), probe.length(), translated,
                                       static_cast<SQLINTEGER>(std::size(translated)), &length);
    if (!SQL_SUCCEEDED(rc)) {
        return true;  // the driver cannot say; most drivers of today are Unicode ones
    }
    return length == probe.length() && std::equal(translated, translated + length, probe.data());
}

// A text the driver tells about the connection (SQL_DRIVER_NAME,
// SQL_DBMS_NAME), "" when it does not say.
std::string connectionInfo(SQLHANDLE connection, SQLUSMALLINT item) {
    SQLCHAR text[256] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetInfo(connection, item, text, sizeof text, &length))) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(text));
}

// MariaDB's driver (3.1.15) has two faults that the session works around.
// Its wide text is whole but its reported lengths are not: it counts one
// UTF-16 unit too few for each "Ø", "Ù", "Ú" or "Û" in a value or a name, so
// the value's end would be cut; its narrow calls give the same text
// correctly, as UTF-8 unless a data source asks for another character set.
// And its SQLCancel, called while the statement runs on another thread,
// writes the statement's diagnostics under the running call and releases the
// connection's lock that call holds. The driver is known by its file name
// ("libmaodbc.so").
bool isMariaDbDriver(const std::string& driver) { return driver.find("maodbc") != std::string::npos; }

void setLoginTimeout(SQLHANDLE connection, int seconds) {
    if (seconds >= 0) {
        // Not every driver knows the attribute; it is a wish, not a condition.
        SQLSetConnectAttrW(connection, SQL_ATTR_LOGIN_TIMEOUT,
                           reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(seconds)), 0);
    }
}

// The narrow call: the driver manager reads a wide connection string before
// it has set up any conversion, cutting every character to its low byte, so a
// database path in Chinese would reach a narrow driver mangled. Narrow, the
// string reaches narrow drivers and drivers with both kinds of calls as it is
// (UTF-8); only a wide-only driver gets it converted, in the character set of
// the scope below.
SQLRETURN driverConnect(SQLHANDLE connection, std::string connectionString) {
    const std::lock_guard lock(processStateMutex());
    const Utf8CharacterSetScope utf8;
    return SQLDriverConnect(connection, nullptr, reinterpret_cast<SQLCHAR*>(connectionString.data()), SQL_NTS,
                            nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
}

// The statement that makes a MariaDB server stop what this connection's
// session runs ("" when the server does not say which session it is).
std::string stopStatementFor(SQLHANDLE connection) {
    StatementHandle statement = allocateStatement(connection);
    SQLCHAR sql[] = "SELECT CONNECTION_ID()";
    if (!SQL_SUCCEEDED(SQLExecDirect(statement.get(), sql, SQL_NTS)) || !SQL_SUCCEEDED(SQLFetch(statement.get()))) {
        return {};
    }
    char id[32] = {};
    SQLLEN length = 0;
    if (!SQL_SUCCEEDED(SQLGetData(statement.get(), 1, SQL_C_CHAR, id, sizeof id, &length)) || length <= 0) {
        return {};
    }
    const std::string digits(id);
    if (digits.find_first_not_of("0123456789") != std::string::npos) {
        return {};
    }
    return "KILL QUERY " + digits;
}

// Runs `sql` on a connection of its own, made from `settings`; whatever
// fails, fails quietly (a cancel has no one to tell).
void runOnAnotherConnection(const OdbcSettings& settings, std::string sql) noexcept {
    try {
        const EnvironmentHandle environment = allocateEnvironment();
        ConnectionHandle connection = allocateConnection(environment);
        setLoginTimeout(connection.get(), settings.loginTimeoutSeconds);
        if (!SQL_SUCCEEDED(driverConnect(connection.get(), settings.connectionString))) {
            return;
        }
        connection.markConnected();
        const StatementHandle statement = allocateStatement(connection.get());
        SQLExecDirect(statement.get(), reinterpret_cast<SQLCHAR*>(sql.data()), static_cast<SQLINTEGER>(sql.size()));
    } catch (...) {
    }
}

}  // namespace

Session::Session(const OdbcSettings& settings)
    : environment_(allocateEnvironment()), connection_(allocateConnection(environment_)), settings_(settings) {
    setLoginTimeout(connection_.get(), settings.loginTimeoutSeconds);
    if (!SQL_SUCCEEDED(driverConnect(connection_.get(), settings.connectionString))) {
        throw diagnosticError(SQL_HANDLE_DBC, connection_.get(), "the ODBC driver refused the connection");
    }
    connection_.markConnected();
    const bool mariaDb = isMariaDbDriver(connectionInfo(connection_.get(), SQL_DRIVER_NAME));
    dbmsName_ = connectionInfo(connection_.get(), SQL_DBMS_NAME);
    textCalls_ = wideCallsKeepText(connection_.get()) && !mariaDb ? TextCalls::Wide : TextCalls::Narrow;
    if (mariaDb) {
        stopStatementSql_ = stopStatementFor(connection_.get());
    }
}

void Session::cancel() noexcept {
    const std::lock_guard lock(mutex_);
    if (!working_) {
        return;
    }
    cancelRequested_ = true;
    if (runningStatement_ == SQL_NULL_HANDLE) {
        return;
    }
    // The lock stays held, so the statement asked to stop is the one that
    // runs now, never a later one.
    if (stopStatementSql_.empty()) {
        SQLCancel(runningStatement_);
    } else {
        runOnAnotherConnection(settings_, stopStatementSql_);
    }
}

bool Session::alive() noexcept {
    SQLUINTEGER dead = SQL_CD_FALSE;
    if (!SQL_SUCCEEDED(SQLGetConnectAttr(connection_.get(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr))) {
        return true;
    }
    return dead != SQL_CD_TRUE;
}

Session::Work::Work(Session& session) : session_(session) {
    const std::lock_guard lock(session_.mutex_);
    session_.working_ = true;
    session_.cancelRequested_ = false;
}

Session::Work::~Work() {
    const std::lock_guard lock(session_.mutex_);
    session_.working_ = false;
    session_.cancelRequested_ = false;
}

bool Session::Work::cancelled() const {
    const std::lock_guard lock(session_.mutex_);
    return session_.cancelRequested_;
}

Session::DriverCall::DriverCall(Session& session, SQLHANDLE statement) : session_(session) {
    const std::lock_guard lock(session_.mutex_);
    if (!session_.cancelRequested_) {
        session_.runningStatement_ = statement;
        started_ = true;
    }
}

Session::DriverCall::~DriverCall() {
    const std::lock_guard lock(session_.mutex_);
    session_.runningStatement_ = SQL_NULL_HANDLE;
}

DbError cancelledError() { return DbError("Operation canceled", "HY008"); }

}  // namespace tarnwell::db::odbc
