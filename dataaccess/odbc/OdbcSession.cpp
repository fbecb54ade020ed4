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

// True for a driver whose wide text is whole but whose reported lengths are
// not: MariaDB's (3.1.15) counts one UTF-16 unit too few for each of "Ø",
// "Ù", "Ú" and "Û" in a value, so trusting the length would cut the value's
// end. Its narrow calls give the same text correctly, as UTF-8 unless a data
// source asks for another character set.
bool wideLengthsFallShort(SQLHANDLE connection) {
    SQLCHAR name[256] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetInfo(connection, SQL_DRIVER_NAME, name, sizeof name, &length))) {
        return false;
    }
    const std::string driver(reinterpret_cast<const char*>(name));
    return driver.find("maodbc") != std::string::npos;
}

}  // namespace

Session::Session(const OdbcSettings& settings)
    : environment_(allocateEnvironment()), connection_(allocateConnection(environment_)) {
    if (settings.loginTimeoutSeconds >= 0) {
        // Not every driver knows the attribute; it is a wish, not a condition.
        SQLSetConnectAttrW(connection_.get(), SQL_ATTR_LOGIN_TIMEOUT,
                           reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(settings.loginTimeoutSeconds)), 0);
    }
    // The narrow call: the driver manager reads a wide connection string
    // before it has set up any conversion, cutting every character to its low
    // byte, so a database path in Chinese would reach a narrow driver mangled.
    // Narrow, the string reaches narrow drivers and drivers with both kinds
    // of calls as it is (UTF-8); only a wide-only driver gets it converted,
    // in the character set of the scope below.
    std::string connectionString = settings.connectionString;
    SQLRETURN rc = SQL_ERROR;
    {
        const std::lock_guard lock(processStateMutex());
        const Utf8CharacterSetScope utf8;
        rc = SQLDriverConnect(connection_.get(), nullptr, reinterpret_cast<SQLCHAR*>(connectionString.data()), SQL_NTS,
                              nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    }
    if (!SQL_SUCCEEDED(rc)) {
        throw diagnosticError(SQL_HANDLE_DBC, connection_.get(), "the ODBC driver refused the connection");
    }
    connection_.markConnected();
    const bool wide = wideCallsKeepText(connection_.get()) && !wideLengthsFallShort(connection_.get());
    textCalls_ = wide ? TextCalls::Wide : TextCalls::Narrow;
}

void Session::cancel() noexcept {
    const std::lock_guard lock(mutex_);
    if (!working_) {
        return;
    }
    cancelRequested_ = true;
    if (runningStatement_ != SQL_NULL_HANDLE) {
        SQLCancel(runningStatement_);
    }
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
