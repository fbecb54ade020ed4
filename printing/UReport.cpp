#include "printing/UReport.h"

#include <QCloseEvent>

#include "printing/ReportPreview.h"

namespace tarnwell {

namespace {

QPointer<TfrmReport>& reportWindowReference() {
    static QPointer<TfrmReport> reference;
    return reference;
}

}  // namespace

TfrmReport::TfrmReport(QWidget* parent) : QWidget(parent, Qt::Window), bands_(defineListing(QuickRep1_.definition())) {
    setObjectName(QStringLiteral("frmReport"));
    setWindowTitle(QStringLiteral("frmReport"));
    QuickRep1_.setObjectName(QStringLiteral("QuickRep1"));
    QuickRep1_.setDataRequest([this](ReportEngine& report, bool& moreData) { QuickRep1NeedData(report, moreData); });
    QuickRep1_.setPreviewHook([this](ReportEngine& report, const std::shared_ptr<ReportDocument>& pages) {
        QuickRep1Preview(report, pages);
    });
    QuickRep1_.setBeforePrint([this](ReportEngine& report) { QuickRep1BeforePrint(report); });
    reportWindowReference() = this;
}

TfrmReport::~TfrmReport() {
    // Nothing may ask for a record of a window that is going.
    QuickRep1_.closePreview();
    FormDestroy();
}

TfrmReport* TfrmReport::instance() { return reportWindowReference().data(); }

void TfrmReport::setRecords(std::unique_ptr<ListingRecords> records, std::vector<ListingColumn> columns, int limit) {
    feed_.setRecords(std::move(records));
    feed_.setColumns(std::move(columns));
    feed_.setLimit(limit);
}

void TfrmReport::QuickRep1BeforePrint(ReportEngine&) { feed_.restart(); }

void TfrmReport::QuickRep1NeedData(ReportEngine&, bool& moreData) {
    QString line;
    moreData = feed_.next(line);
    if (moreData) {
        bands_.data->text = std::move(line);
    }
}

void TfrmReport::QuickRep1Preview(ReportEngine&, const std::shared_ptr<ReportDocument>& pages) {
    if (previewArea_) {
        previewArea_->attach(pages);
    }
}

void TfrmReport::closeEvent(QCloseEvent* event) {
    FormClose();
    QWidget::closeEvent(event);
}

void TfrmReport::FormClose() { setAttribute(Qt::WA_DeleteOnClose); }

void TfrmReport::FormDestroy() {
    if (reportWindowReference() == this) {
        reportWindowReference() = nullptr;
    }
}

}  // namespace tarnwell
