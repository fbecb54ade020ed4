#pragma once

#include <string>

#include "dataaccess/ClientDataSet.h"
#include "dataaccess/Database.h"
#include "dataaccess/Query.h"
#include "query/ScriptRun.h"

namespace tarnwell {

// The engine objects of one query window: its own database and query on the
// shared session, the provider and the result dataset the grid shows.
//
// Held through shared ownership: a window's query thread keeps them alive
// until it ends, so closing the window never frees them under a running
// statement. Members are destroyed in reverse order: the dataset before the
// query it reads, the query before its database.
struct QueryWindowEngine {
    QueryWindowEngine(db::Session& session, const std::string& databaseName)
        : BDE_DB(session, databaseName), BDE_Query1(session) {
        BDE_DB.setLoginPrompt(false);
        BDE_Query1.setDatabaseName(databaseName);
        DSProvd1.setDataSet(&BDE_Query1);
        CDS1.setProvider(&DSProvd1);
    }

    // Hands an open result set to the dataset, which fetches its first
    // packet now; the grid shows it.
    void bindResult(db::RowSource& source, int packetRecords) {
        CDS1.close();
        CDS1.setPacketRecords(packetRecords);
        DSProvd1.setDataSet(&source);
        CDS1.open();
    }

    db::Database BDE_DB;
    db::Query BDE_Query1;
    // The first rows of a script's statement that the grid shows while the
    // query runs the statements after it.
    HeldResult heldResult;
    db::DataSetProvider DSProvd1;
    db::ClientDataSet CDS1;
};

}  // namespace tarnwell
