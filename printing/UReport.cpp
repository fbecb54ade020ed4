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

TfrmReport::TfrmReport(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmReport"));
    setWindowTitle(QStringLiteral("frmReport"));
    // The report's requests come to the window's own handlers, which hand
    // them on to the listing.
    ReportEngine& engine = QuickRep1();
    engine.setObjectName(QStringLiteral("QuickRep1"));
    engine.setDataRequest([this](ReportEngine& report, bool& moreData) { QuickRep1NeedData(report, moreData); });
    engine.setPreviewHook([this](ReportEngine& report, const std::shared_ptr<ReportDocument>& pages) {
        QuickRep1Preview(report, pages);
    });
    engine.setBeforePrint([this](ReportEngine& report) { QuickRep1BeforePrint(report); });
    reportWindowReference() = this;
}

TfrmReport::~TfrmReport() {
    // Nothing may ask for a record of a window that is going.
    QuickRep1().closePreview();
    FormDestroy();
}

TfrmReport* TfrmReport::instance() { return reportWindowReference().data(); }

void TfrmReport::QuickRep1BeforePrint(ReportEngine&) { listing_.restart(); }

void TfrmReport::QuickRep1NeedData(ReportEngine&, bool& moreData) { listing_.needData(moreData); }

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
