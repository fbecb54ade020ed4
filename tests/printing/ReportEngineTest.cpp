#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "../support/QtPrinters.h"
#include "ReportTestSupport.h"

namespace tarnwell {
namespace {

using test::Listing;
using test::numberedLines;
using test::textsOf;

// A4 less 10 mm margins leaves 277 mm = 1046.9 report pixels of body: under a
// 28-pixel title and a 22-pixel header 47 detail bands of 21 fit, under the
// header alone 48.
constexpr int kRowsUnderTitle = 47;
constexpr int kRowsUnderHeader = 48;
const double kTopMargin = millimetresToReportPixels(10);

std::shared_ptr<ReportDocument> produced(ReportEngine& engine) {
    NoFeedback none;
    return engine.produceAll(none);
}

int detailRuns(const ReportPage& page) {
    int count = 0;
    for (const QString& text : textsOf(page)) {
        count += text.startsWith(QStringLiteral("record ")) ? 1 : 0;
    }
    return count;
}

TEST(ReportPagination, everyPageHasItsHeadersAndAsManyRecordsAsFitAndTheSummaryComesOnce) {
    Listing listing(numberedLines(120));
    listing.engine.definition().summary.labels[0].text = QStringLiteral("END");
    const auto pages = produced(listing.engine);

    ASSERT_EQ(pages->pageCount(), 3);
    EXPECT_EQ(pages->state(), ReportDocument::State::Complete);
    EXPECT_EQ(listing.requests, 121) << "once per record and once for the answer that there is no more";
    const int expectedRows[] = {kRowsUnderTitle, kRowsUnderTitle, 120 - 2 * kRowsUnderTitle};
    int firstRecord = 1;
    for (int i = 0; i < 3; ++i) {
        const ReportPage& page = pages->page(i);
        const QStringList texts = textsOf(page);
        SCOPED_TRACE(i + 1);
        ASSERT_GE(texts.size(), 3);
        EXPECT_EQ(texts.at(0), QStringLiteral("客戶清單"));
        EXPECT_EQ(texts.at(1), QStringLiteral("HEADER"));
        EXPECT_EQ(texts.at(2), QStringLiteral("record %1").arg(firstRecord));
        EXPECT_EQ(detailRuns(page), expectedRows[i]);
        EXPECT_EQ(page.runs().at(0).alignment, ReportTextRun::kCentre);
        EXPECT_NEAR(page.runs().at(0).y, kTopMargin + 2, 1e-3) << "labels stand 2 pixels below their band's top";
        EXPECT_NEAR(page.runs().at(1).y, kTopMargin + test::kTitleHeight + 2, 1e-3);
        EXPECT_NEAR(page.runs().at(3).y - page.runs().at(2).y, test::kDetailHeight, 1e-3);
        ASSERT_EQ(page.rules().size(), 2u);
        EXPECT_NEAR(page.rules().at(1).y, kTopMargin + test::kTitleHeight + test::kHeaderHeight, 1e-3);
        EXPECT_EQ(texts.contains(QStringLiteral("END")), i == 2);
        firstRecord += expectedRows[i];
    }
}

TEST(ReportPagination, withoutTheTitleBandTheColumnHeaderStartsAtTheTopMargin) {
    Listing listing(numberedLines(120), false);
    const auto pages = produced(listing.engine);
    ASSERT_EQ(pages->pageCount(), 3);
    const ReportPage& first = pages->page(0);
    EXPECT_EQ(textsOf(first).at(0), QStringLiteral("HEADER"));
    EXPECT_NEAR(first.runs().at(0).y, kTopMargin + 2, 1e-3);
    EXPECT_EQ(first.rules().size(), 1u);
    EXPECT_EQ(detailRuns(first), kRowsUnderHeader);
    EXPECT_EQ(detailRuns(pages->page(2)), 120 - 2 * kRowsUnderHeader);
}

TEST(ReportPagination, theEndsOfAReport) {
    {
        SCOPED_TRACE("no records: one page with the headers");
        Listing listing({});
        const auto pages = produced(listing.engine);
        ASSERT_EQ(pages->pageCount(), 1);
        EXPECT_EQ(textsOf(pages->page(0)), (QStringList{"客戶清單", "HEADER"}));
        EXPECT_EQ(listing.requests, 1);
    }
    {
        SCOPED_TRACE("a summary that no longer fits goes to a page of its own, under the headers");
        Listing listing(numberedLines(kRowsUnderTitle));
        listing.engine.definition().summary.labels[0].text = QStringLiteral("END");
        const auto pages = produced(listing.engine);
        ASSERT_EQ(pages->pageCount(), 2);
        EXPECT_EQ(textsOf(pages->page(1)), (QStringList{"客戶清單", "HEADER", "END"}));
    }
    {
        SCOPED_TRACE("records that fill the last page exactly leave no empty page after it");
        Listing listing(numberedLines(2 * kRowsUnderTitle));
        listing.engine.definition().summary.enabled = false;
        EXPECT_EQ(produced(listing.engine)->pageCount(), 2);
    }
    {
        SCOPED_TRACE("empty record lines still take a detail band each");
        Listing listing(QStringList(120, QString()));
        const auto pages = produced(listing.engine);
        EXPECT_EQ(pages->pageCount(), 3);
        EXPECT_EQ(textsOf(pages->page(0)), (QStringList{"客戶清單", "HEADER"}));
    }
}

TEST(ReportPagination, bandsNeverGrowAndTallBandsStillMoveOn) {
    Listing listing({QStringLiteral("record 1\nsecond line\nthird line"), QStringLiteral("record 2")});
    ReportDefinition& d = listing.engine.definition();
    d.summary.labels[0].text = QStringLiteral("END");
    auto pages = produced(listing.engine);
    // A 21-pixel band holds the first line of a 10-point label only.
    EXPECT_EQ(textsOf(pages->page(0)), (QStringList{"客戶清單", "HEADER", "record 1", "record 2", "END"}));

    d.detail.height = 40;
    pages = produced(listing.engine);
    EXPECT_EQ(textsOf(pages->page(0)).mid(2, 3), (QStringList{"record 1", "second line", "record 2"}));

    // A detail band taller than the page gets a page of its own each time.
    d.detail.height = 5000;
    pages = produced(listing.engine);
    ASSERT_EQ(pages->pageCount(), 3);
    EXPECT_EQ(textsOf(pages->page(2)), (QStringList{"客戶清單", "HEADER", "END"}));
}

TEST(ReportPagination, definitionsThatCannotBeLaidOutAreRefusedBeforeAnyRecordIsAsked) {
    const auto message = [](const std::function<void(ReportDefinition&)>& change) -> std::string {
        Listing listing(numberedLines(3));
        change(listing.engine.definition());
        try {
            produced(listing.engine);
        } catch (const ReportError& error) {
            EXPECT_EQ(listing.requests, 0);
            return error.what();
        }
        return "<produced>";
    };
    EXPECT_EQ(message([](ReportDefinition& d) { d.page.widthMm = 0; }),
              "紙張大小不正確: 寬 0 mm、長 297 mm");
    EXPECT_EQ(message([](ReportDefinition& d) { d.page.marginsMm = QMarginsF(10, 150, 10, 150); }),
              "紙張 210 mm × 297 mm 扣除邊界後沒有可列印的地方");
    EXPECT_EQ(message([](ReportDefinition& d) { d.detail.height = 0; }), "報表的資料區高度必須大於 0");
    EXPECT_EQ(message([](ReportDefinition& d) { d.pageHeader.height = -1; }), "報表的標題區高度不正確: -1");
}

TEST(ReportProduction, aPreviewHasPage1AtOnceAndTheRestWhileTheEventLoopRuns) {
    Listing listing(numberedLines(2000));
    std::shared_ptr<ReportDocument> hooked;
    listing.engine.setPreviewHook([&](ReportEngine&, const std::shared_ptr<ReportDocument>& pages) {
        EXPECT_EQ(pages->pageCount(), 0) << "the hook comes before the first page";
        hooked = pages;
    });
    const auto pages = listing.engine.preview();
    EXPECT_EQ(hooked, pages);
    EXPECT_EQ(pages->pageCount(), 1);
    EXPECT_TRUE(listing.engine.isProducing());
    QSignalSpy ready(pages.get(), &ReportDocument::pageReady);
    QSignalSpy ended(pages.get(), &ReportDocument::productionEnded);

    EXPECT_TRUE(QTest::qWaitFor([&] { return !listing.engine.isProducing(); }, 60000));
    const int expected = (2000 + kRowsUnderTitle - 1) / kRowsUnderTitle;
    EXPECT_EQ(pages->pageCount(), expected);
    EXPECT_EQ(pages->state(), ReportDocument::State::Complete);
    ASSERT_EQ(ready.count(), expected - 1);
    for (int i = 0; i < ready.count(); ++i) {
        EXPECT_EQ(ready.at(i).at(0).toInt(), i + 2);
    }
    EXPECT_EQ(ended.count(), 1);
    EXPECT_EQ(listing.engine.document(), pages);
    listing.engine.closePreview();
    EXPECT_EQ(listing.engine.document(), nullptr);
}

TEST(ReportProduction, aStopOrANewProductionEndsTheOneInProgress) {
    Listing listing(numberedLines(100000));
    const auto first = listing.engine.preview();
    QObject::connect(first.get(), &ReportDocument::pageReady, &listing.engine, [&](int count) {
        if (count == 3) {
            listing.engine.stop();
        }
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !listing.engine.isProducing(); }, 60000));
    EXPECT_EQ(first->state(), ReportDocument::State::Stopped);
    EXPECT_EQ(first->pageCount(), 3);
    const int requestsAtStop = listing.requests;
    QTest::qWait(50);
    EXPECT_EQ(first->pageCount(), 3);
    EXPECT_EQ(listing.requests, requestsAtStop);

    // A new preview starts from the first record again; the one it replaces
    // ends where it was.
    const auto second = listing.engine.preview();
    ASSERT_TRUE(listing.engine.isProducing());
    const auto third = listing.engine.preview();
    EXPECT_EQ(second->state(), ReportDocument::State::Stopped);
    EXPECT_EQ(second->pageCount(), 1);
    EXPECT_EQ(textsOf(third->page(0)).at(2), QStringLiteral("record 1"));
    listing.engine.closePreview();
    EXPECT_EQ(third->state(), ReportDocument::State::Stopped);
    EXPECT_FALSE(listing.engine.isProducing());
}

TEST(ReportProduction, listenersAndDataRequestsMayEndTheProductionTheyAreCalledFrom) {
    Listing listing(numberedLines(1000));
    int calls = 0;
    listing.engine.setDataRequest([&](ReportEngine& report, bool& moreData) {
        if (++calls == 60) {
            report.stop();
        }
        moreData = true;
        report.definition().detail.labels[0].text = QStringLiteral("record");
    });
    const auto pages = listing.engine.preview();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !listing.engine.isProducing(); }, 60000));
    EXPECT_EQ(pages->state(), ReportDocument::State::Stopped);
    EXPECT_EQ(pages->pageCount(), 1) << "the page being laid out when it stopped is dropped";
    EXPECT_EQ(calls, 60) << "no record is asked for after the stop";

    Listing closing(numberedLines(1000));
    std::shared_ptr<ReportDocument> current;
    closing.engine.setPreviewHook([&](ReportEngine&, const std::shared_ptr<ReportDocument>& pages) {
        QObject::connect(pages.get(), &ReportDocument::pageReady, &closing.engine, [&](int count) {
            if (count == 3) {
                closing.engine.closePreview();
            }
        });
        current = pages;
    });
    closing.engine.preview();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !closing.engine.isProducing(); }, 60000));
    EXPECT_EQ(current->pageCount(), 3);
}

TEST(ReportProduction, aFailingDataRequestEndsTheProductionWithItsMessage) {
    Listing early(numberedLines(100));
    early.failAt = 10;
    std::shared_ptr<ReportDocument> pages;
    early.engine.setPreviewHook([&](ReportEngine&, const std::shared_ptr<ReportDocument>& p) { pages = p; });
    EXPECT_THROW(early.engine.preview(), ReportError);
    EXPECT_EQ(pages->state(), ReportDocument::State::Failed);
    EXPECT_FALSE(early.engine.isProducing());

    Listing late(numberedLines(1000));
    late.failAt = 500;
    QSignalSpy failed(&late.engine, &ReportEngine::productionFailed);
    const auto shown = late.engine.preview();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !late.engine.isProducing(); }, 60000));
    EXPECT_EQ(shown->state(), ReportDocument::State::Failed);
    EXPECT_EQ(shown->failure(), QStringLiteral("資料讀取失敗"));
    EXPECT_EQ(shown->pageCount(), 500 / kRowsUnderTitle) << "the pages made before stay";
    ASSERT_EQ(failed.count(), 1);
    EXPECT_EQ(failed.at(0).at(0).toString(), QStringLiteral("資料讀取失敗"));

    Listing all(numberedLines(100));
    all.failAt = 60;
    NoFeedback none;
    EXPECT_THROW(all.engine.produceAll(none), ReportError);
}

TEST(ReportProduction, producingEverythingAtOnceCountsPagesAndCanBeCanceled) {
    Listing listing(numberedLines(1000));
    test::CancelAfter cancel(5);
    EXPECT_THROW(listing.engine.produceAll(cancel), OperationCanceled);
    EXPECT_LE(listing.requests, 5 * kRowsUnderTitle + 1);
}

}  // namespace
}  // namespace tarnwell
