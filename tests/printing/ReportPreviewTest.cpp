#include <gtest/gtest.h>

#include <QImage>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "ReportTestSupport.h"
#include "printing/ReportPreview.h"

namespace tarnwell {
namespace {

using test::Listing;
using test::numberedLines;

std::shared_ptr<ReportDocument> threePages(Listing& listing) {
    NoFeedback none;
    return listing.engine.produceAll(none);
}

TEST(ReportPreviewWidget, zoomStartsAt250AndIgnoresValuesOutside2To2000) {
    ReportPreview preview;
    QSignalSpy zoomed(&preview, &ReportPreview::zoomChanged);
    EXPECT_EQ(preview.zoom(), 250);
    for (const int ignored : {1, 0, -20, 2001, 5000}) {
        preview.setZoom(ignored);
        EXPECT_EQ(preview.zoom(), 250) << ignored;
    }
    preview.setZoom(2);
    EXPECT_EQ(preview.zoom(), 2);
    preview.setZoom(2000);
    EXPECT_EQ(preview.zoom(), 2000);
    EXPECT_EQ(zoomed.count(), 2);

    // The zoom holds from one report to the next, and sizes the page.
    Listing listing(numberedLines(120));
    preview.setZoom(100);
    preview.attach(threePages(listing));
    const QSize atHundred = preview.widget()->size();
    EXPECT_NEAR(atHundred.width(), millimetresToReportPixels(210), 1.0);
    EXPECT_NEAR(atHundred.height(), millimetresToReportPixels(297), 1.0);
    preview.setZoom(250);
    EXPECT_NEAR(preview.widget()->width(), 2.5 * atHundred.width(), 2.0);
    preview.detach();
    preview.attach(threePages(listing));
    EXPECT_EQ(preview.zoom(), 250);
}

TEST(ReportPreviewWidget, pagingStaysWithinThePagesAndAChangeShowsTheTopLeft) {
    ReportPreview preview;
    preview.resize(400, 300);
    preview.show();
    QSignalSpy changed(&preview, &ReportPreview::currentPageChanged);
    preview.setCurrentPage(1);
    EXPECT_EQ(preview.currentPage(), 0) << "nothing to page through without a report";
    EXPECT_EQ(preview.pageCount(), 0);

    Listing listing(numberedLines(120));
    preview.attach(threePages(listing));
    EXPECT_EQ(preview.currentPage(), 1);
    EXPECT_EQ(preview.pageCount(), 3);
    for (const int ignored : {0, -1, 4}) {
        preview.setCurrentPage(ignored);
        EXPECT_EQ(preview.currentPage(), 1) << ignored;
    }
    QCoreApplication::processEvents();
    ASSERT_GT(preview.verticalScrollBar()->maximum(), 500);
    preview.horizontalScrollBar()->setValue(200);
    preview.verticalScrollBar()->setValue(500);
    preview.setCurrentPage(1);
    EXPECT_EQ(preview.verticalScrollBar()->value(), 500) << "no change of page, no move";
    preview.setCurrentPage(3);
    EXPECT_EQ(preview.currentPage(), 3);
    EXPECT_EQ(preview.horizontalScrollBar()->value(), 0);
    EXPECT_EQ(preview.verticalScrollBar()->value(), 0);
    ASSERT_EQ(changed.count(), 2);
    EXPECT_EQ(changed.at(0).at(0).toInt(), 1);
    EXPECT_EQ(changed.at(1).at(0).toInt(), 3);

    preview.detach();
    EXPECT_EQ(preview.currentPage(), 0);
    EXPECT_EQ(preview.pageCount(), 0);
    EXPECT_EQ(preview.document(), nullptr);
    preview.setCurrentPage(2);
    EXPECT_EQ(preview.currentPage(), 0);
}

TEST(ReportPreviewWidget, showsPage1WhileTheOtherPagesAreProducedAndLetsGoWhenDetached) {
    ReportPreview preview;
    preview.resize(500, 400);
    preview.show();
    Listing listing(numberedLines(3000));
    listing.engine.setPreviewHook(
        [&](ReportEngine&, const std::shared_ptr<ReportDocument>& pages) { preview.attach(pages); });
    QSignalSpy ready(&preview, &ReportPreview::pageReady);
    // Paging and zooming work while production goes on.
    bool producingWhilePaged = false;
    QObject::connect(&preview, &ReportPreview::pageReady, &preview, [&](int count) {
        if (count == 5) {
            preview.setCurrentPage(4);
            preview.setZoom(100);
            producingWhilePaged = listing.engine.isProducing();
        }
    });
    std::weak_ptr<ReportDocument> pages = listing.engine.preview();
    EXPECT_EQ(preview.currentPage(), 1);
    EXPECT_EQ(preview.pageCount(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !listing.engine.isProducing(); }, 60000));
    EXPECT_TRUE(producingWhilePaged);
    EXPECT_EQ(preview.currentPage(), 4);
    const int count = preview.pageCount();
    EXPECT_EQ(count, (3000 + 46) / 47);
    ASSERT_EQ(ready.count(), count);
    EXPECT_EQ(ready.last().at(0).toInt(), count);

    // What the preview paints is the page: text in the body, the margins blank.
    const QImage shot = preview.widget()->grab().toImage();
    const int margin = static_cast<int>(millimetresToReportPixels(10)) - 2;
    auto darkIn = [&](QRect area) {
        int dark = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                dark += qGray(shot.pixel(x, y)) < 128 ? 1 : 0;
            }
        }
        return dark;
    };
    EXPECT_GT(darkIn(QRect(margin + 4, margin + 60, 300, 200)), 200);
    EXPECT_EQ(darkIn(QRect(3, 3, margin - 4, shot.height() - 6)), 0);

    listing.engine.closePreview();
    preview.detach();
    EXPECT_TRUE(pages.expired()) << "nothing keeps the pages of a closed preview";
}

}  // namespace
}  // namespace tarnwell
