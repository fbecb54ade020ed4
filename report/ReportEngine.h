#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

#include "output/Feedback.h"
#include "report/ReportDefinition.h"
#include "report/ReportDocument.h"

class QPrinter;

namespace tarnwell {

class ReportPaginator;

// A banded report: its definition, the hooks its owner fills in, and the
// productions that turn it into pages, for a preview (page by page in slices
// of the event loop), all at once (no event loop needed), or straight onto a
// printer or into a PDF file (page by page, nothing held).
//
// Everything runs on the thread that owns the engine, the user-interface
// thread in the program. A production reads the definition's geometry and
// fonts when it starts; before each detail band it asks the data request,
// which answers whether there is another record and sets the detail band's
// label texts for it. One production at a time: starting one, stop() and
// closePreview() end the one in progress.
class ReportEngine : public QObject {
    Q_OBJECT

public:
    // Sets `moreData` (false when called) and, when there is a record, the
    // texts of the detail band's labels for it.
    using DataRequest = std::function<void(ReportEngine& report, bool& moreData)>;
    // Called as every production starts, before the definition is read.
    using BeforePrint = std::function<void(ReportEngine& report)>;
    // Called as a preview starts, with its pages, before the first is made.
    using PreviewHook =
        std::function<void(ReportEngine& report, const std::shared_ptr<ReportDocument>& pages)>;

    explicit ReportEngine(QObject* parent = nullptr);
    ~ReportEngine() override;

    ReportDefinition& definition() { return definition_; }
    const ReportDefinition& definition() const { return definition_; }

    void setDataRequest(DataRequest request) { dataRequest_ = std::move(request); }
    void setBeforePrint(BeforePrint hook) { beforePrint_ = std::move(hook); }
    void setPreviewHook(PreviewHook hook) { previewHook_ = std::move(hook); }

    // Starts a preview production: page 1 is laid out before this returns,
    // the others in slices of about kSliceMs while the event loop runs, each
    // announced by the pages' pageReady(). Throws ReportError for a definition
    // that cannot be laid out, and what the data request throws for page 1; a
    // later failure ends the production with productionFailed().
    std::shared_ptr<ReportDocument> preview();
    // Lays out every page before returning; feedback counts pages.
    std::shared_ptr<ReportDocument> produceAll(Feedback& feedback);
    // Lays out page after page and prints or writes each at once.
    void print(QPrinter& printer, Feedback& feedback);
    void writePdf(const QString& path, Feedback& feedback);

    // Ends a preview production in progress; its pages stay.
    void stop();
    bool isProducing() const;
    // The pages of the last preview, until closePreview().
    std::shared_ptr<ReportDocument> document() const { return document_; }
    // Stops the preview production and lets go of its pages.
    void closePreview();

    static constexpr int kSliceMs = 10;

signals:
    // A preview production ended on an error after preview() returned.
    void productionFailed(const QString& message);

private:
    std::shared_ptr<ReportPaginator> startProduction();
    bool producePreviewPage();
    void produceSlice();
    void endProduction(ReportDocument::State state, const QString& failure = {});
    void failProduction(const QString& message);

    ReportDefinition definition_;
    DataRequest dataRequest_;
    BeforePrint beforePrint_;
    PreviewHook previewHook_;
    std::shared_ptr<ReportDocument> document_;
    // Of the preview production in progress; shared so that a data request
    // that stops the production does not pull it away under its own call.
    std::shared_ptr<ReportPaginator> paginator_;
    QTimer slices_;
};

}  // namespace tarnwell
