#include "dataaccess/odbc/OdbcCatalog.h"

#include <optional>
#include <tuple>
#include <utility>
#include <unordered_map>
#include <vector>

#include "dataaccess/DbError.h"
#include "dataaccess/odbc/OdbcHandles.h"
#include "dataaccess/odbc/OdbcSession.h"
#include "dataaccess/odbc/OdbcText.h"
#include "dataaccess/odbc/OdbcTypes.h"

namespace tarnwell::db {

namespace {

using odbc::Session;
using odbc::StatementHandle;
using odbc::TextCalls;

// The result columns of SQLTables, SQLColumns and SQLPrimaryKeys read here.
enum MetadataColumn : SQLUSMALLINT {
    kCatalogColumn = 1,
    kSchemaColumn = 2,
    kTableColumn = 3,
    kTableTypeColumn = 4,  // SQLTables
    kColumnNameColumn = 4,
    kDataTypeColumn = 5,
    kKeySequenceColumn = 5,  // SQLPrimaryKeys
    kTypeNameColumn = 6,
    kColumnSizeColumn = 7,
    kDecimalDigitsColumn = 9,
    kNullableColumn = 11,
    kOrdinalPositionColumn = 17,
};

// Text arguments of a catalog function in the connection's text calls; a
// missing one passes as a null pointer.
class Arguments {
public:
    Arguments(TextCalls calls, std::initializer_list<std::optional<std::string>> values) : calls_(calls) {
        for (const std::optional<std::string>& value : values) {
            present_.push_back(value.has_value());
            narrow_.push_back(value.value_or(std::string()));
            wide_.emplace_back(narrow_.back());
        }
    }
    SQLWCHAR* wide(std::size_t i) { return present_[i] ? wide_[i].data() : nullptr; }
    SQLCHAR* narrow(std::size_t i) { return present_[i] ? reinterpret_cast<SQLCHAR*>(narrow_[i].data()) : nullptr; }
    SQLSMALLINT length(std::size_t i) const {
        if (!present_[i]) {
            return 0;
        }
        return static_cast<SQLSMALLINT>(calls_ == TextCalls::Wide ? wide_[i].length() : narrow_[i].size());
    }

    // Calls a catalog function in the connection's form, wide or narrow,
    // with the first `Count` arguments in order, each as text and length.
    template <std::size_t Count, typename WideCall, typename NarrowCall>
    SQLRETURN call(SQLHANDLE statement, WideCall wideCall, NarrowCall narrowCall) {
        return call(statement, wideCall, narrowCall, std::make_index_sequence<Count>());
    }

private:
    template <typename WideCall, typename NarrowCall, std::size_t... I>
    SQLRETURN call(SQLHANDLE statement, WideCall wideCall, NarrowCall narrowCall, std::index_sequence<I...>) {
        if (calls_ == TextCalls::Wide) {
            return std::apply([&](auto... each) { return wideCall(statement, each...); },
                              std::tuple_cat(std::make_tuple(wide(I), length(I))...));
        }
        return std::apply([&](auto... each) { return narrowCall(statement, each...); },
                          std::tuple_cat(std::make_tuple(narrow(I), length(I))...));
    }

    TextCalls calls_;
    std::vector<bool> present_;
    std::vector<std::string> narrow_;
    std::vector<odbc::WideText> wide_;
};

// What identifies a relation to the driver, as SQLTables gave it.
struct DriverName {
    std::optional<std::string> catalog;
    std::optional<std::string> schema;
    std::string table;
};

std::string relationKey(const std::optional<std::string>& catalog, const std::optional<std::string>& schema,
                        const std::string& table) {
    std::string key = catalog.value_or("");
    key += '\0';
    key += schema.value_or("");
    key += '\0';
    key += table;
    return key;
}

class OdbcCatalogReader final : public CatalogReaderBase {
public:
    explicit OdbcCatalogReader(const OdbcSettings& settings)
        : session_(std::make_shared<Session>(settings)), calls_(session_->textCalls()) {}

    void cancel() noexcept override {
        noteCancelled();
        session_->cancel();
    }

    Catalog read(const CatalogProgress& progress) override {
        return listThenReadColumns(
            progress, [this](CatalogBuilder& builder) { listRelations(builder); },
            [this](CatalogBuilder& builder) {
                readPrimaryKeys(builder);
                readAllColumns(builder);
                readColumnsLeftOver(builder);
            });
    }

private:
    // One catalog function's result, row by row.
    class Result {
    public:
        Result(OdbcCatalogReader& reader) : reader_(reader), statement_(odbc::allocateStatement(reader.session_->connection())) {}

        // Runs `call` (a catalog function on the statement) as a piece of
        // work that cancel() stops.
        template <typename Call>
        void run(Call call) {
            if (!SQL_SUCCEEDED(cancellable(call))) {
                throw error("the ODBC driver could not list the database's names");
            }
        }

        bool next() {
            const SQLRETURN rc = cancellable([](SQLHANDLE statement) { return SQLFetch(statement); });
            if (rc == SQL_NO_DATA) {
                return false;
            }
            if (!SQL_SUCCEEDED(rc)) {
                throw error("the ODBC driver could not fetch a row");
            }
            return true;
        }

        // A text cell, read in pieces however long; nothing for NULL.
        std::optional<std::string> text(SQLUSMALLINT column) {
            std::string narrow;
            std::vector<SQLWCHAR> wide;
            for (;;) {
                SQLLEN indicator = 0;
                const SQLRETURN rc = reader_.calls_ == TextCalls::Wide ? widePiece(column, wide, indicator)
                                                                       : narrowPiece(column, narrow, indicator);
                if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
                    throw error("the ODBC driver could not read a name");
                }
                if (rc != SQL_NO_DATA && indicator == SQL_NULL_DATA) {
                    return std::nullopt;
                }
                if (rc != SQL_SUCCESS_WITH_INFO) {
                    break;  // the last piece, or every piece taken already
                }
            }
            return reader_.calls_ == TextCalls::Wide ? odbc::toUtf8(wide.data(), wide.size()) : narrow;
        }

        long long number(SQLUSMALLINT column) {
            SQLBIGINT value = 0;
            SQLLEN indicator = 0;
            const SQLRETURN rc = SQLGetData(statement_.get(), column, SQL_C_SBIGINT, &value, sizeof value, &indicator);
            if (!SQL_SUCCEEDED(rc)) {
                throw error("the ODBC driver could not read a number");
            }
            return indicator == SQL_NULL_DATA ? 0 : value;
        }

    private:
        template <typename Call>
        SQLRETURN cancellable(Call call) {
            reader_.throwIfCancelled();
            Session::Work work(*reader_.session_);
            Session::DriverCall driverCall(*reader_.session_, statement_.get());
            if (!driverCall.started()) {
                throw odbc::cancelledError();
            }
            return call(statement_.get());
        }

        // One piece of a text cell appended to `out`; SQLGetData's result.
        SQLRETURN widePiece(SQLUSMALLINT column, std::vector<SQLWCHAR>& out, SQLLEN& indicator) {
            SQLWCHAR piece[512];
            const SQLRETURN rc = SQLGetData(statement_.get(), column, SQL_C_WCHAR, piece, sizeof piece, &indicator);
            if (SQL_SUCCEEDED(rc) && indicator != SQL_NULL_DATA) {
                const auto room = static_cast<SQLLEN>(sizeof piece - sizeof(SQLWCHAR));
                const SQLLEN bytes = indicator == SQL_NO_TOTAL || indicator > room ? room : indicator;
                out.insert(out.end(), piece, piece + bytes / static_cast<SQLLEN>(sizeof(SQLWCHAR)));
            }
            return rc;
        }

        SQLRETURN narrowPiece(SQLUSMALLINT column, std::string& out, SQLLEN& indicator) {
            char piece[1024];
            const SQLRETURN rc = SQLGetData(statement_.get(), column, SQL_C_CHAR, piece, sizeof piece, &indicator);
            if (SQL_SUCCEEDED(rc) && indicator != SQL_NULL_DATA) {
                const auto room = static_cast<SQLLEN>(sizeof piece - 1);
                out.append(piece, static_cast<std::size_t>(indicator == SQL_NO_TOTAL || indicator > room ? room : indicator));
            }
            return rc;
        }

        DbError error(std::string_view fallback) {
            reader_.throwIfCancelled();
            return odbc::diagnosticError(SQL_HANDLE_STMT, statement_.get(), fallback, reader_.calls_);
        }

        OdbcCatalogReader& reader_;
        StatementHandle statement_;
    };

    void listRelations(CatalogBuilder& builder) {
        Result result(*this);
        Arguments arguments(calls_, {std::nullopt, std::string("%"), std::string("%"), std::string("TABLE,VIEW")});
        result.run([&](SQLHANDLE statement) { return arguments.call<4>(statement, SQLTablesW, SQLTables); });
        while (result.next()) {
            DriverName name{result.text(kCatalogColumn), result.text(kSchemaColumn),
                            result.text(kTableColumn).value_or("")};
            const std::string type = result.text(kTableTypeColumn).value_or("");
            const std::string schema = !name.schema.value_or("").empty() ? *name.schema : name.catalog.value_or("");
            const CatalogBuilder::RelationHandle handle = builder.addRelation(
                builder.addSchema(schema), name.table, type == "VIEW" ? RelationKind::View : RelationKind::Table);
            handles_.emplace(relationKey(name.catalog, name.schema, name.table), handle);
            names_.push_back(std::move(name));
        }
    }

    // Table by table, before the columns, so each column comes with its
    // place in the key. A driver that cannot say leaves the keys unknown.
    void readPrimaryKeys(CatalogBuilder& builder) {
        for (CatalogBuilder::RelationHandle relation = 0; relation < builder.relationCount(); ++relation) {
            if (builder.relation(relation).kind != RelationKind::Table) {
                continue;
            }
            try {
                readPrimaryKey(relation);
            } catch (const DbError&) {
                throwIfCancelled();
                if (!session_->alive()) {
                    throw;
                }
            }
        }
    }

    void readPrimaryKey(CatalogBuilder::RelationHandle relation) {
        const DriverName& name = names_[relation];
        Result result(*this);
        Arguments arguments(calls_, {name.catalog, name.schema, name.table});
        result.run([&](SQLHANDLE statement) { return arguments.call<3>(statement, SQLPrimaryKeysW, SQLPrimaryKeys); });
        while (result.next()) {
            const std::string column = result.text(kColumnNameColumn).value_or("");
            keyPositions_[relation].emplace(column, static_cast<int>(result.number(kKeySequenceColumn)));
        }
    }

    // Every column of every relation in one call, where the driver can.
    void readAllColumns(CatalogBuilder& builder) {
        try {
            readColumns(builder, {std::nullopt, std::string("%"), std::string("%"), std::string("%")}, std::nullopt);
        } catch (const DbError&) {
            throwIfCancelled();
            if (!session_->alive()) {
                throw;
            }
        }
    }

    // The relations the call above gave nothing for, one by one: the names
    // are patterns to SQLColumns, so only rows of the relation itself count.
    void readColumnsLeftOver(CatalogBuilder& builder) {
        for (CatalogBuilder::RelationHandle relation = 0; relation < builder.relationCount(); ++relation) {
            if (builder.columnCount(relation) > 0) {
                continue;
            }
            const DriverName& name = names_[relation];
            try {
                readColumns(builder, {name.catalog, name.schema, name.table, std::string("%")}, relation);
            } catch (const DbError& error) {
                throwIfCancelled();
                if (!session_->alive()) {
                    throw;
                }
                builder.skipRelation(relation, error.what());
                continue;
            }
            if (builder.columnCount(relation) == 0) {
                builder.skipRelation(relation, "the ODBC driver gave no columns for it");
            }
        }
    }

    void readColumns(CatalogBuilder& builder, std::initializer_list<std::optional<std::string>> pattern,
                     std::optional<CatalogBuilder::RelationHandle> only) {
        Result result(*this);
        Arguments arguments(calls_, pattern);
        result.run([&](SQLHANDLE statement) { return arguments.call<4>(statement, SQLColumnsW, SQLColumns); });
        while (result.next()) {
            const std::optional<std::string> catalog = result.text(kCatalogColumn);
            const std::optional<std::string> schema = result.text(kSchemaColumn);
            const auto found = handles_.find(relationKey(catalog, schema, result.text(kTableColumn).value_or("")));
            if (found != handles_.end() && (!only || *only == found->second)) {
                addColumn(builder, found->second, result);
            }
        }
    }

    void addColumn(CatalogBuilder& builder, CatalogBuilder::RelationHandle relation, Result& result) {
        odbc::DescribedColumn described;
        described.name = result.text(kColumnNameColumn).value_or("");
        described.sqlType = static_cast<SQLSMALLINT>(result.number(kDataTypeColumn));
        described.typeName = result.text(kTypeNameColumn).value_or("");
        described.columnSize = static_cast<SQLULEN>(std::max<long long>(result.number(kColumnSizeColumn), 0));
        described.decimalDigits = static_cast<SQLSMALLINT>(result.number(kDecimalDigitsColumn));
        const Column kind = odbc::columnFor(described);
        CatalogColumn column;
        column.name = described.name;
        column.typeName = described.typeName;
        column.kind = kind.kind;
        column.size = kind.size;
        column.precision = kind.precision;
        column.nullable = result.number(kNullableColumn) != SQL_NO_NULLS;
        const auto keys = keyPositions_.find(relation);
        if (keys != keyPositions_.end()) {
            const auto key = keys->second.find(described.name);
            column.keyPosition = key != keys->second.end() ? key->second : 0;
        }
        builder.addColumn(relation, static_cast<int>(result.number(kOrdinalPositionColumn)), column);
    }

    std::shared_ptr<Session> session_;
    TextCalls calls_;
    std::vector<DriverName> names_;  // by relation handle
    std::unordered_map<std::string, CatalogBuilder::RelationHandle> handles_;
    std::unordered_map<CatalogBuilder::RelationHandle, std::unordered_map<std::string, int>> keyPositions_;
};

}  // namespace

std::unique_ptr<CatalogReader> openOdbcCatalog(const OdbcSettings& settings) {
    return std::make_unique<OdbcCatalogReader>(settings);
}

}  // namespace tarnwell::db
