#include "printing/ReportPreview.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "report/ReportDocument.h"

namespace tarnwell {

// The sheet itself, as large as the zoom makes it.
class ReportPreview::PageView : public QWidget {
public:
    explicit PageView(ReportPreview& preview) : QWidget(&preview), preview_(preview) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        painter.fillRect(event->rect(), Qt::white);
        const std::shared_ptr<ReportDocument>& document = preview_.document();
        const int page = preview_.currentPage();
        if (document && page >= 1 && page <= document->pageCount()) {
            painter.setRenderHint(QPainter::Antialiasing);
            const double scale = preview_.zoom() / 100.0;
            painter.scale(scale, scale);
            document->paintPage(painter, page - 1);
            painter.resetTransform();
        }
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }

private:
    ReportPreview& preview_;
};

ReportPreview::ReportPreview(QWidget* parent) : QScrollArea(parent), view_(new PageView(*this)) {
    setBackgroundRole(QPalette::Dark);
    setAlignment(Qt::AlignCenter);
    setWidgetResizable(false);
    setWidget(view_);
    view_->hide();
}

ReportPreview::~ReportPreview() { disconnect(pageReadyConnection_); }

void ReportPreview::attach(std::shared_ptr<ReportDocument> pages) {
    detach();
    if (!pages) {
        return;
    }
    document_ = std::move(pages);
    pageReadyConnection_ = connect(document_.get(), &ReportDocument::pageReady, this, &ReportPreview::pageAdded);
    currentPage_ = 0;
    fitView();
    view_->show();
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    if (document_->pageCount() > 0) {
        pageAdded(document_->pageCount());
    }
}

void ReportPreview::detach() {
    if (!document_) {
        return;
    }
    disconnect(pageReadyConnection_);
    document_.reset();
    view_->hide();
    if (currentPage_ != 0) {
        currentPage_ = 0;
        emit currentPageChanged(0);
    }
}

int ReportPreview::pageCount() const { return document_ ? document_->pageCount() : 0; }

void ReportPreview::pageAdded(int pageCount) {
    if (currentPage_ == 0 && pageCount > 0) {
        currentPage_ = 1;
        view_->update();
        emit currentPageChanged(1);
    }
    emit pageReady(pageCount);
}

void ReportPreview::setZoom(int percent) {
    if (percent < kMinimumZoom || percent > kMaximumZoom || percent == zoom_) {
        return;
    }
    // Keep the point in the middle of the window where it was on the page.
    auto middle = [](const QScrollBar* bar) {
        const double span = bar->maximum() + bar->pageStep();
        return span > 0 ? (bar->value() + bar->pageStep() / 2.0) / span : 0.0;
    };
    const double across = middle(horizontalScrollBar());
    const double down = middle(verticalScrollBar());
    zoom_ = percent;
    fitView();
    auto restore = [](QScrollBar* bar, double fraction) {
        const double span = bar->maximum() + bar->pageStep();
        bar->setValue(static_cast<int>(std::lround(fraction * span - bar->pageStep() / 2.0)));
    };
    restore(horizontalScrollBar(), across);
    restore(verticalScrollBar(), down);
    view_->update();
    emit zoomChanged(zoom_);
}

void ReportPreview::setCurrentPage(int page) {
    if (!document_ || page < 1 || page > document_->pageCount() || page == currentPage_) {
        return;
    }
    currentPage_ = page;
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    view_->update();
    emit currentPageChanged(page);
}

void ReportPreview::fitView() {
    if (!document_) {
        return;
    }
    const QSizeF sheet = document_->format().sheetSize() * (zoom_ / 100.0);
    auto pixels = [](double length) {
        return static_cast<int>(std::clamp(std::ceil(length), 1.0, static_cast<double>(QWIDGETSIZE_MAX)));
    };
    view_->resize(pixels(sheet.width()), pixels(sheet.height()));
}

}  // namespace tarnwell
