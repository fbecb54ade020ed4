#include "dataaccess/odbc/OdbcHandles.h"

#include <algorithm>
#include <vector>

#include "dataaccess/TextTools.h"
#include "dataaccess/odbc/OdbcText.h"

namespace tarnwell::db::odbc {

namespace {

// Drivers end messages with line breaks or blanks now and then; the caller
// puts the message behind a prefix of its own and wants it trimmed.
std::string trimmed(const std::string& text) { return std::string(trimBlanks(text)); }

// Reads diagnostic record `record` through `getDiagRec`, the wide or the
// narrow call, growing the buffer to the message's length; `toText` turns the
// call's characters into UTF-8. False when there is no such record.
template <typename Char, typename ToText>
bool readRecord(SQLRETURN (*getDiagRec)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, Char*, SQLINTEGER*, Char*,
                                        SQLSMALLINT, SQLSMALLINT*),
                ToText toText, SQLSMALLINT handleType, SQLHANDLE handle, SQLSMALLINT record,
                std::string& sqlState, std::string& message) {
    Char state[SQL_SQLSTATE_SIZE + 1] = {};
    SQLINTEGER nativeError = 0;
    std::vector<Char> text(1024);
    SQLSMALLINT textLength = 0;
    for (;;) {
        const SQLRETURN rc = getDiagRec(handleType, handle, record, state, &nativeError, text.data(),
                                        static_cast<SQLSMALLINT>(text.size()), &textLength);
        if (!SQL_SUCCEEDED(rc)) {
            return false;
        }
        if (textLength < static_cast<SQLSMALLINT>(text.size()) || text.size() >= 32767) {
            break;
        }
        text.resize(std::min<std::size_t>(static_cast<std::size_t>(textLength) + 1, 32767));
    }
    std::size_t stateLength = 0;
    while (stateLength < SQL_SQLSTATE_SIZE && state[stateLength] != 0) {
        ++stateLength;
    }
    const std::size_t length = std::min<std::size_t>(textLength < 0 ? 0 : textLength, text.size() - 1);
    sqlState = toText(state, stateLength);
    message = trimmed(toText(text.data(), length));
    return true;
}

bool readWideRecord(SQLSMALLINT handleType, SQLHANDLE handle, SQLSMALLINT record, std::string& sqlState,
                    std::string& message) {
    return readRecord<SQLWCHAR>(
        &SQLGetDiagRecW, [](const SQLWCHAR* text, std::size_t length) { return toUtf8(text, length); },
        handleType, handle, record, sqlState, message);
}

// The narrow call's text is the driver's own bytes.
bool readNarrowRecord(SQLSMALLINT handleType, SQLHANDLE handle, SQLSMALLINT record, std::string& sqlState,
                      std::string& message) {
    return readRecord<SQLCHAR>(
        &SQLGetDiagRec,
        [](const SQLCHAR* text, std::size_t length) {
            return std::string(reinterpret_cast<const char*>(text), length);
        },
        handleType, handle, record, sqlState, message);
}

}  // namespace

std::mutex& processStateMutex() {
    static std::mutex mutex;
    return mutex;
}

void ConnectionHandle::disconnect() noexcept {
    if (!connected_) {
        return;
    }
    connected_ = false;
    const std::lock_guard lock(processStateMutex());
    if (!SQL_SUCCEEDED(SQLDisconnect(handle_.get()))) {
        // A transaction still open refuses the disconnect (25000): end it.
        SQLEndTran(SQL_HANDLE_DBC, handle_.get(), SQL_ROLLBACK);
        SQLDisconnect(handle_.get());
    }
}

EnvironmentHandle allocateEnvironment() {
    SQLHANDLE raw = SQL_NULL_HANDLE;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &raw))) {
        throw DbError("the ODBC driver manager could not set up an environment");
    }
    EnvironmentHandle environment(raw);
    const SQLRETURN rc = SQLSetEnvAttr(environment.get(), SQL_ATTR_ODBC_VERSION,
                                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_OV_ODBC3)), 0);
    if (!SQL_SUCCEEDED(rc)) {
        throw diagnosticError(SQL_HANDLE_ENV, environment.get(), "the ODBC driver manager refused ODBC 3");
    }
    return environment;
}

ConnectionHandle allocateConnection(const EnvironmentHandle& environment) {
    SQLHANDLE raw = SQL_NULL_HANDLE;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, environment.get(), &raw))) {
        throw diagnosticError(SQL_HANDLE_ENV, environment.get(), "the ODBC driver manager could not set up a connection");
    }
    return ConnectionHandle(raw);
}

StatementHandle allocateStatement(SQLHANDLE connection) {
    SQLHANDLE raw = SQL_NULL_HANDLE;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection, &raw))) {
        throw diagnosticError(SQL_HANDLE_DBC, connection, "the ODBC driver could not set up a statement");
    }
    return StatementHandle(raw);
}

Diagnostics readDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle, TextCalls calls) {
    Diagnostics diagnostics;
    std::vector<std::string> seen;
    std::string sqlState;
    std::string message;
    // A driver that keeps adding records must not keep us here for ever.
    for (SQLSMALLINT record = 1; record <= 32; ++record) {
        const bool found = calls == TextCalls::Wide ? readWideRecord(handleType, handle, record, sqlState, message)
                                                    : readNarrowRecord(handleType, handle, record, sqlState, message);
        if (!found) {
            break;
        }
        if (diagnostics.sqlState.empty()) {
            diagnostics.sqlState = sqlState;
        }
        if (message.empty() || std::find(seen.begin(), seen.end(), message) != seen.end()) {
            continue;
        }
        if (!diagnostics.message.empty()) {
            diagnostics.message += '\n';
        }
        diagnostics.message += message;
        seen.push_back(message);
    }
    return diagnostics;
}

DbError diagnosticError(SQLSMALLINT handleType, SQLHANDLE handle, std::string_view fallback, TextCalls calls) {
    Diagnostics diagnostics = readDiagnostics(handleType, handle, calls);
    if (diagnostics.message.empty()) {
        diagnostics.message = fallback;
    }
    return DbError(diagnostics.message, diagnostics.sqlState);
}

}  // namespace tarnwell::db::odbc
