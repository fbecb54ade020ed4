#include "report/ListingReport.h"

namespace tarnwell {

ListingReport::ListingReport() : bands_(defineListing(engine_.definition())) {
    engine_.setBeforePrint([this](ReportEngine&) { restart(); });
    engine_.setDataRequest([this](ReportEngine&, bool& moreData) { needData(moreData); });
}

void ListingReport::setUp(ListingSettings settings, std::unique_ptr<ListingRecords> records,
                          std::vector<ListingColumn> columns, int limit) {
    settings.headerLine = listingHeaderLine(columns);
    applyListingSettings(bands_, settings);
    checkReportDefinition(engine_.definition());
    feed_.setRecords(std::move(records));
    feed_.setColumns(std::move(columns));
    feed_.setLimit(limit);
}

void ListingReport::restart() { feed_.restart(); }

void ListingReport::needData(bool& moreData) {
    QString line;
    moreData = feed_.next(line);
    if (moreData) {
        bands_.data->text = std::move(line);
    }
}

}  // namespace tarnwell
