#pragma once

#include <QFont>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "report/ReportDefinition.h"

namespace tarnwell {

// The text listing a result prints as: a title, a column header line and one
// line per record, each line composed in advance from pieces of fixed width
// in display columns (TextColumns.h), for a fixed-pitch face. Nothing here
// knows of windows: the print window and a command line build the same
// report from it.

// The widest column a listing takes. A piece is that many characters on
// every line, so the bound keeps a typing slip from filling the memory; no
// sheet shows a line even this wide at a readable size.
constexpr int kMaxListingColumnWidth = 1000;

// One printed column: its header text, its width in display columns and the
// field (from 0) whose values it shows.
struct ListingColumn {
    QString caption;
    int width = 0;
    int field = 0;
};

// A column piece: `width` less the display columns of `text` without its
// blanks and control characters at either end (at least 0) is the number of
// times `fill` is repeated; side "R" puts that padding after the text as it
// came, any other side before it.
QString padColumn(const QString& text, const QString& fill, QChar side, int width);

// The width typed for the column of `fieldName`, as a decimal integer within
// 0 and kMaxListingColumnWidth. Throws ReportError "'text' is not a valid
// integer value" for an empty or malformed text, and one naming the field and
// the bound for a width past it.
int listingColumnWidth(const QString& text, const QString& fieldName);

// The lines: for every column the head of its text that fits its width
// (whole characters only), padded with blanks to the width, and a blank.
// Control characters in a text (line breaks, tabs) print as blanks, so a
// value never breaks its line nor moves the columns after it.
QString listingHeaderLine(const std::vector<ListingColumn>& columns);
QString listingRecordLine(const std::vector<ListingColumn>& columns, const std::function<QString(int field)>& valueOf);

// The size of a font in points as the band heights count it: a font sized in
// pixels counts report pixels, 96 to the inch, so the 13-pixel window font is
// 9.75 points, and a font picked as 12 points in the font dialog is 12.
double listingFontPoints(const QFont& font);

// Where a listing's records come from: the current one, from the first on.
class ListingRecords {
public:
    virtual ~ListingRecords() = default;
    // Back to the first record, as every report starts there.
    virtual void first() = 0;
    // Past the last record (or the records are gone).
    virtual bool atEnd() = 0;
    // A field of the current record as text; empty for null.
    virtual QString value(int field) = 0;
    virtual void next() = 0;
};

// The records of one report, line by line, under a record limit: at most
// `limit` lines, all of them when it is 0, none when it is negative.
class ListingFeed {
public:
    void setRecords(std::unique_ptr<ListingRecords> records);
    void setColumns(std::vector<ListingColumn> columns) { columns_ = std::move(columns); }
    void setLimit(int limit) { limit_ = limit; }

    // As a report run starts: from the first record, nothing delivered.
    void restart();
    // The line of the next record, moving on past it; false at the end of
    // the records or at the limit, which also sets the count back to 0.
    bool next(QString& line);
    // Records delivered in this run.
    int delivered() const { return delivered_; }

private:
    std::unique_ptr<ListingRecords> records_;
    std::vector<ListingColumn> columns_;
    int limit_ = 0;
    int delivered_ = 0;
};

// The page, title, fonts and SQL text of a listing.
struct ListingSettings {
    double paperLengthMm = 297;
    double paperWidthMm = 210;
    bool portrait = true;
    bool printTitle = false;
    QString title;
    QFont titleFont;
    QFont detailFont;  // the column header line and the record lines
    QString headerLine;
    // The SQL text goes into the summary band, in its font, when asked for.
    bool printSql = false;
    QString sql;
    QFont sqlFont;
};

// The listing's bands and labels in a report definition.
struct ListingBands {
    ReportDefinition* definition = nullptr;
    ReportBand* pageHeader = nullptr;
    ReportLabel* title = nullptr;  // centred across the page header
    ReportBand* columnHeader = nullptr;
    ReportLabel* fieldNames = nullptr;  // the column header line
    ReportBand* detail = nullptr;
    ReportLabel* data = nullptr;  // a record's line
    ReportBand* summary = nullptr;
    ReportLabel* sql = nullptr;  // empty unless the SQL text prints
};

// Puts the listing's bands into `definition`: A4 upright with 10 mm margins,
// the title over a rule (on every page), the column header line over a rule
// (on every page), a line per record and a summary band once at the end.
ListingBands defineListing(ReportDefinition& definition);

// Sets the sheet (a custom size of the length and width entered, then turned
// by the orientation), the labels' texts and fonts, and the band heights
// from the font sizes in points: 2 × title size + 4, 2 × detail size + 2 for
// the column header and + 1 for a record. The summary band prints only the
// SQL text, when asked for, in a band of 25 pixels or as tall as its lines.
void applyListingSettings(const ListingBands& bands, const ListingSettings& settings);

}  // namespace tarnwell
