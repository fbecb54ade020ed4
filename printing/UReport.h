#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>

#include "report/ListingReport.h"

namespace tarnwell {

class ReportPreview;

// The report window: never shown, it holds the report `QuickRep1` of a
// result's text listing, with its bands and labels, and answers the engine's
// requests for the records' lines. The print window sets it up for every
// preview or print; nothing in it knows the print window.
//
// At most one exists; its destruction clears the reference to it.
class TfrmReport : public QWidget {
    Q_OBJECT
public:
    explicit TfrmReport(QWidget* parent = nullptr);
    ~TfrmReport() override;

    // The window while it exists, else null.
    static TfrmReport* instance();

    // The report, with its bands and labels: PageHeaderBand1 with QLabTitle,
    // ColumnHeaderBand1 with QLabFieldName, DetailBand1 with QLabData,
    // SummaryBand1 with QRTxtSQL.
    ReportEngine& QuickRep1() { return listing_.engine(); }

    // What the next runs print: the print window's settings, the records,
    // the columns of their lines and the record limit ("筆數:", 0 for all).
    // Throws ReportError for settings no page can be made of.
    void setUp(const ListingSettings& settings, std::unique_ptr<ListingRecords> records,
               std::vector<ListingColumn> columns, int limit) {
        listing_.setUp(settings, std::move(records), std::move(columns), limit);
    }
    // The delivered-record counter of the run in progress.
    int deliveredRecords() const { return listing_.deliveredRecords(); }
    // Where previews are shown.
    void setPreviewArea(ReportPreview* preview) { previewArea_ = preview; }

    static QString PadColumn(const QString& text, const QString& fill, QChar side, int width) {
        return padColumn(text, fill, side, width);
    }

    // The engine's hooks.
    void QuickRep1NeedData(ReportEngine& report, bool& moreData);
    void QuickRep1Preview(ReportEngine& report, const std::shared_ptr<ReportDocument>& pages);
    void QuickRep1BeforePrint(ReportEngine& report);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormClose();
    void FormDestroy();

    ListingReport listing_;
    QPointer<ReportPreview> previewArea_;
};

}  // namespace tarnwell
