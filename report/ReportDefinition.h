#pragma once

#include <QFont>
#include <QMarginsF>
#include <QPageLayout>
#include <QRectF>
#include <QString>
#include <deque>
#include <stdexcept>

namespace tarnwell {

// Report geometry is counted in report pixels of 1/96 inch (0.2646 mm), the
// same on screen, on paper and in a PDF file.
constexpr double kReportPixelsPerInch = 96.0;
double millimetresToReportPixels(double millimetres);

// A report that cannot be produced or written. what() is the whole message
// (UTF-8), ready for the general error handler to show.
class ReportError : public std::runtime_error {
public:
    explicit ReportError(const QString& message);
};

// The sheet: `widthMm` × `lengthMm` as it stands upright, then turned by the
// orientation. Margins apply to the sheet as it is turned.
struct ReportPageSetup {
    double lengthMm = 297;
    double widthMm = 210;
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
    QMarginsF marginsMm{10, 10, 10, 10};

    // One layout carrying size, orientation and margins: a printer driver
    // given the orientation on its own may drop it. A size that matches a
    // standard one (210 × 297 is A4) is named as that size. Margins are kept
    // even where a printer could not print them, for the pages place their
    // text from the sheet's edge.
    QPageLayout pageLayout() const;
};

// A line of text (or several, one per line break) at a place in its band. A
// label takes the height of its text and never makes its band grow: lines
// that would pass the band's bottom are not printed.
struct ReportLabel {
    QString text;
    QFont font;
    // Qt::AlignLeft: `left` report pixels from the band's left edge;
    // Qt::AlignHCenter or Qt::AlignRight: centred across the band or against
    // its right edge, and `left` is not read.
    Qt::Alignment alignment = Qt::AlignLeft;
    double left = 0;
    double top = 2;  // below the band's top
};

struct ReportBand {
    bool enabled = true;
    double height = 0;       // report pixels; the band never grows
    bool ruleBelow = false;  // a line across the band at its bottom
    std::deque<ReportLabel> labels;  // a deque keeps the labels where they are

    ReportLabel& addLabel();
};

// What a report prints, and where. The bands are laid out in the body of the
// page (the sheet less its margins) from the top: the page header and the
// column header on every page, then one detail band per record while the data
// request answers that there is more, then the summary band once after the
// last record, on a page of its own when it does not fit the last one.
struct ReportDefinition {
    ReportPageSetup page;
    ReportBand pageHeader;    // switch it off with `enabled`
    ReportBand columnHeader;
    ReportBand detail;
    ReportBand summary;
    QString documentTitle;    // the title a PDF file carries; may stay empty
};

// Throws ReportError when the definition cannot be laid out: a sheet with no
// room inside its margins, a band of negative or unknown height, a detail band
// with no height (it would never fill a page).
void checkReportDefinition(const ReportDefinition& definition);

// The body of the page, in report pixels from the sheet's top left corner.
QRectF reportBody(const ReportPageSetup& page);

}  // namespace tarnwell
