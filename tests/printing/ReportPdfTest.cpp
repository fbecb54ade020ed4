#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QPrinter>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <sys/stat.h>

#include "../support/FileSizeLimit.h"
#include "../support/QtPrinters.h"
#include "ReportTestSupport.h"
#include "output/TextColumns.h"
#include "report/ReportOutput.h"

namespace tarnwell {
namespace {

using test::Listing;
using test::millimetresToPoints;
using test::nonBlankLines;
using test::outputOf;
using test::pageSizeInPoints;
using test::Word;
using test::wordsByLine;

// A column piece as the report window composes one: cut or padded to its
// width, then the separating blank.
QString piece(const QString& text, int width) {
    const QString cut = leadingColumns(text, width).toString();
    return cut + QString(width - displayColumns(cut), u' ') + u' ';
}

QString line(const QStringList& values) {
    const int widths[] = {4, 8, 8, 6};
    QString result;
    for (int i = 0; i < values.size(); ++i) {
        result += piece(values.at(i), widths[i]);
    }
    return result;
}

class ReportPdf : public ::testing::Test {
protected:
    QString path(const QString& name) const { return QDir(folder.path()).filePath(name); }
    QStringList entries() const { return QDir(folder.path()).entryList(QDir::Files | QDir::Hidden); }

    static QByteArray read(const QString& file) {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir folder;
    NoFeedback none;
};

TEST_F(ReportPdf, readersFindTheTextInItsColumnsWithItsFontsEmbedded) {
    const QStringList records[] = {
        {QStringLiteral("1"), QStringLiteral("王小明"), QStringLiteral("台北市"), QStringLiteral("1200")},
        {QStringLiteral("22"), QStringLiteral("Lee Ann"), QStringLiteral("高雄"), QStringLiteral("35.5")},
        {QStringLiteral("333"), QStringLiteral("歐陽大文先生"), QStringLiteral("Taichung"), QStringLiteral("0")},
    };
    QStringList lines;
    for (const QStringList& record : records) {
        lines.append(line(record));
    }
    Listing listing(lines);
    ReportDefinition& d = listing.engine.definition();
    d.columnHeader.labels[0].text =
        line({QStringLiteral("編號"), QStringLiteral("姓名"), QStringLiteral("城市"), QStringLiteral("金額")});
    // A face whose outlines the PDF writer would mangle gives way to the
    // TrueType Ming face; the Kai face is TrueType and stays.
    // Bold that the face lacks is made up by the text shaper, sized alike.
    QFont title(QStringLiteral("MS Sans Serif"), 12);
    title.setBold(true);
    d.pageHeader.labels[0].font = title;
    d.summary.labels[0].text = QStringLiteral("SELECT * FROM 客戶");
    d.summary.labels[0].font = QFont(QStringLiteral("標楷體"), 10);
    listing.engine.writePdf(path("list.pdf"), none);

    // Reading order and words: the title, the header, one line per record.
    const QStringList text = nonBlankLines(outputOf(
        QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path("list.pdf"), QStringLiteral("-")}));
    ASSERT_EQ(text.size(), 6) << text.join(u'\n').toStdString();
    EXPECT_EQ(text.at(0).trimmed(), QStringLiteral("客戶清單"));
    EXPECT_GT(text.at(0).indexOf(QStringLiteral("客戶清單")), 20) << "the title is centred";
    EXPECT_EQ(text.at(1).split(u' ', Qt::SkipEmptyParts), (QStringList{"編號", "姓名", "城市", "金額"}));
    EXPECT_EQ(text.at(2).split(u' ', Qt::SkipEmptyParts), (QStringList{"1", "王小明", "台北市", "1200"}));
    EXPECT_EQ(text.at(3).split(u' ', Qt::SkipEmptyParts), (QStringList{"22", "Lee", "Ann", "高雄", "35.5"}));
    EXPECT_EQ(text.at(4).split(u' ', Qt::SkipEmptyParts), (QStringList{"333", "歐陽大文", "Taichung", "0"}))
        << "a cut keeps whole characters";
    EXPECT_EQ(text.at(5).trimmed(), QStringLiteral("SELECT * FROM 客戶"));

    // Columns: the layout text counts a Chinese character as one column, so
    // the words' places are read from their boxes. Each column starts at the
    // same place on every line, a Chinese character as wide as two others.
    const QList<QList<Word>> boxes = wordsByLine(outputOf(
        QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), path("list.pdf"), QStringLiteral("-")}));
    ASSERT_EQ(boxes.size(), 6);
    ASSERT_EQ(boxes.at(0).size(), 1);
    const Word& caption = boxes.at(0).at(0);
    EXPECT_NEAR((caption.x + caption.right) / 2, millimetresToPoints(210) / 2, 1.0) << "centred on the sheet";
    EXPECT_NEAR(caption.bottom - caption.y, 12.5, 1.5) << "a 12-point title";
    const QList<Word>& header = boxes.at(1);
    ASSERT_EQ(header.size(), 4);
    const double left = header.at(0).x;
    const double pitch = (header.at(1).x - left) / 5;  // "編號" and its blank
    EXPECT_GT(pitch, 4.0) << "10-point text, half an em a column";
    const int starts[] = {0, 5, 14, 23};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(header.at(i).x, left + starts[i] * pitch, 0.05) << header.at(i).text.toStdString();
    }
    for (int row = 2; row <= 4; ++row) {
        for (const Word& word : boxes.at(row)) {
            const double column = (word.x - left) / pitch;
            EXPECT_NEAR(column, std::round(column), 0.01) << word.text.toStdString();
            if (word.text != QStringLiteral("Ann")) {
                EXPECT_TRUE(std::find(std::begin(starts), std::end(starts), std::lround(column)) != std::end(starts))
                    << word.text.toStdString() << " at column " << column;
            }
        }
    }

    const QStringList fonts = outputOf(QStringLiteral("pdffonts"), {path("list.pdf")}).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_GE(fonts.size(), 4) << fonts.join(u'\n').toStdString();
    for (const QString& font : fonts.mid(2)) {
        const QStringList fields = font.split(u' ', Qt::SkipEmptyParts);
        ASSERT_GE(fields.size(), 7);
        EXPECT_EQ(fields.at(fields.size() - 5), QStringLiteral("yes")) << "embedded: " << font.toStdString();
        EXPECT_TRUE(fields.at(0).contains(QStringLiteral("UMing")) || fields.at(0).contains(QStringLiteral("UKai")))
            << font.toStdString();
    }
    EXPECT_EQ(entries(), QStringList{"list.pdf"});
}

TEST_F(ReportPdf, sheetsComeOutInTheirSizeAndOrientationOnFilesAndPrinters) {
    Listing listing(test::numberedLines(100));
    ReportPageSetup& page = listing.engine.definition().page;
    page.orientation = QPageLayout::Landscape;
    auto pages = listing.engine.produceAll(none);
    EXPECT_EQ(pages->pageCount(), 4) << "a landscape A4 body holds 31 records under the headers";
    writeReportPdf(*pages, path("landscape.pdf"), none);
    QSizeF size = pageSizeInPoints(path("landscape.pdf"));
    EXPECT_NEAR(size.width(), millimetresToPoints(297), 0.5);
    EXPECT_NEAR(size.height(), millimetresToPoints(210), 0.5);

    // Through a printer: the layout arrives whole, landscape included.
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path("printed.pdf"));
    printReport(*pages, printer, none);
    size = pageSizeInPoints(path("printed.pdf"));
    EXPECT_GT(size.width(), size.height());
    EXPECT_NEAR(size.width(), millimetresToPoints(297), 0.5);
    EXPECT_TRUE(outputOf(QStringLiteral("pdftotext"), {path("printed.pdf"), QStringLiteral("-")})
                    .contains(QStringLiteral("record 100")));

    page.widthMm = 100;
    page.lengthMm = 150;
    for (const auto orientation : {QPageLayout::Portrait, QPageLayout::Landscape}) {
        page.orientation = orientation;
        listing.engine.writePdf(path("custom.pdf"), none);
        size = pageSizeInPoints(path("custom.pdf"));
        const bool turned = orientation == QPageLayout::Landscape;
        EXPECT_NEAR(size.width(), millimetresToPoints(turned ? 150 : 100), 0.5);
        EXPECT_NEAR(size.height(), millimetresToPoints(turned ? 100 : 150), 0.5);
    }
}

TEST_F(ReportPdf, aWriteThatFailsOrIsCanceledLeavesTheExistingFileAsItWas) {
    const QString existing = path("report.pdf");
    {
        QFile file(existing);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("old");
    }
    Listing listing(test::numberedLines(2000));

    std::string message;
    try {
        const test::FileSizeLimit limit(4096);  // the fonts alone are more
        listing.engine.writePdf(existing, none);
    } catch (const ReportError& error) {
        message = error.what();
    }
    EXPECT_EQ(message.rfind("無法儲存檔案 \"" + existing.toStdString() + "\": ", 0), 0u) << message;
    EXPECT_EQ(read(existing), QByteArray("old"));
    EXPECT_EQ(entries(), QStringList{"report.pdf"});

    test::CancelAfter cancel(3);
    EXPECT_THROW(listing.engine.writePdf(existing, cancel), OperationCanceled);
    EXPECT_EQ(read(existing), QByteArray("old"));
    EXPECT_THROW(listing.engine.writePdf(path("new.pdf"), cancel), OperationCanceled);
    EXPECT_EQ(entries(), QStringList{"report.pdf"});

    try {
        listing.engine.writePdf(path("missing/report.pdf"), none);
        ADD_FAILURE() << "written into a missing folder";
    } catch (const ReportError& error) {
        EXPECT_NE(std::string(error.what()).find("missing/report.pdf"), std::string::npos) << error.what();
    }
}

TEST_F(ReportPdf, aPipeOrAReadOnlyFileIsRefusedAndAReplacedFileKeepsItsMode) {
    Listing listing(test::numberedLines(3));
    const QByteArray pipe = QFile::encodeName(path("pipe.pdf"));
    ASSERT_EQ(::mkfifo(pipe.constData(), 0600), 0);
    const QString readOnly = path("read-only.pdf");
    {
        QFile file(readOnly);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("old");
    }
    ASSERT_EQ(::chmod(QFile::encodeName(readOnly).constData(), 0444), 0);
    for (const QString& target : {path("pipe.pdf"), readOnly}) {
        try {
            listing.engine.writePdf(target, none);
            ADD_FAILURE() << "written onto " << target.toStdString();
        } catch (const ReportError& error) {
            EXPECT_EQ(std::string(error.what()).rfind("無法儲存檔案 \"" + target.toStdString() + "\": ", 0), 0u)
                << error.what();
        }
    }
    struct stat status {};
    ASSERT_EQ(::lstat(pipe.constData(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    EXPECT_EQ(read(readOnly), QByteArray("old"));

    const QString mine = path("mine.pdf");
    {
        QFile file(mine);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ASSERT_EQ(::chmod(QFile::encodeName(mine).constData(), 0600), 0);
    listing.engine.writePdf(mine, none);
    ASSERT_EQ(::stat(QFile::encodeName(mine).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_TRUE(read(mine).startsWith("%PDF"));
}

}  // namespace
}  // namespace tarnwell
