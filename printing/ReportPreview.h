#pragma once

#include <QMetaObject>
#include <QScrollArea>
#include <memory>

namespace tarnwell {

class ReportDocument;

// Shows one page of a report's pages at a zoom, the pages possibly still
// being produced: the page count grows with every page-ready notice while
// the user looks at page 1.
class ReportPreview : public QScrollArea {
    Q_OBJECT

public:
    static constexpr int kInitialZoom = 250;
    static constexpr int kMinimumZoom = 2;
    static constexpr int kMaximumZoom = 2000;

    explicit ReportPreview(QWidget* parent = nullptr);
    ~ReportPreview() override;

    // Shows page 1 of `pages` (as soon as it exists); the preview keeps the
    // pages alive while attached.
    void attach(std::shared_ptr<ReportDocument> pages);
    // Leaves the preview empty.
    void detach();
    const std::shared_ptr<ReportDocument>& document() const { return document_; }

    // Percent of the page's natural size (one report pixel a screen pixel).
    int zoom() const { return zoom_; }
    // A value outside kMinimumZoom to kMaximumZoom is ignored.
    void setZoom(int percent);

    // From 1; 0 while no page is shown.
    int currentPage() const { return currentPage_; }
    // A page below 1 or past the last is ignored; a change of page shows the
    // new one from its top left corner.
    void setCurrentPage(int page);
    int pageCount() const;

signals:
    void currentPageChanged(int page);
    // Every page-ready notice of the attached pages, with the pages so far.
    void pageReady(int pageCount);
    void zoomChanged(int percent);

private:
    class PageView;

    void pageAdded(int pageCount);
    void fitView();

    PageView* view_;
    std::shared_ptr<ReportDocument> document_;
    QMetaObject::Connection pageReadyConnection_;
    int zoom_ = kInitialZoom;
    int currentPage_ = 0;
};

}  // namespace tarnwell
