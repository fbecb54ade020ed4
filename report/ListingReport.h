#pragma once

#include <memory>
#include <vector>

#include "report/ReportEngine.h"
#include "report/ReportListing.h"

namespace tarnwell {

// A result's text listing made into a report: the engine with the listing's
// bands, fed a record's line before each detail band. The report window
// holds one for its previews and prints; a batch run makes one for its PDF
// file, from the same records, columns and settings.
class ListingReport {
public:
    // The engine's requests are answered by restart() and needData(); a
    // holder with handlers of its own may wire them there instead and call
    // these from its handlers.
    ListingReport();
    ListingReport(const ListingReport&) = delete;
    ListingReport& operator=(const ListingReport&) = delete;

    ReportEngine& engine() noexcept { return engine_; }
    const ListingBands& bands() const noexcept { return bands_; }

    // What the next runs print: the settings (with the column header line
    // composed from `columns`), the records, the columns of their lines and
    // the record limit (0 for all, negative for none). Throws ReportError for
    // settings no page can be made of.
    void setUp(ListingSettings settings, std::unique_ptr<ListingRecords> records, std::vector<ListingColumn> columns,
               int limit);

    // Every run starts from the first record.
    void restart();
    // The next record's line into the detail band; false at the end of the
    // records or at the limit.
    void needData(bool& moreData);
    // Records delivered in the run in progress.
    int deliveredRecords() const { return feed_.delivered(); }

private:
    ReportEngine engine_;
    ListingBands bands_;
    ListingFeed feed_;
};

}  // namespace tarnwell
