#pragma once

// A text listing as the report window builds one: a centred title, a column
// header line and one line per record in the Ming face, each band as high as
// its font asks for, over lines the test hands in.

#include <gtest/gtest.h>

#include <QFont>
#include <QList>
#include <QProcess>
#include <QRegularExpression>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <cmath>

#include "report/ReportEngine.h"

namespace tarnwell::test {

// Band heights in report pixels for a 12 pt title and a 10 pt detail font.
constexpr double kTitleHeight = 2 * 12 + 4;
constexpr double kHeaderHeight = 2 * 10 + 2;
constexpr double kDetailHeight = 2 * 10 + 1;
constexpr double kSummaryHeight = 25;

inline QFont reportFont(int points) {
    QFont font(QStringLiteral("細明體"));
    font.setPointSize(points);
    return font;
}

class Listing {
public:
    explicit Listing(QStringList lines, bool title = true) : lines_(std::move(lines)) {
        ReportDefinition& d = engine.definition();
        d.pageHeader.enabled = title;
        d.pageHeader.height = kTitleHeight;
        d.pageHeader.ruleBelow = true;
        ReportLabel& caption = d.pageHeader.addLabel();
        caption.text = QStringLiteral("客戶清單");
        caption.font = reportFont(12);
        caption.alignment = Qt::AlignHCenter;
        d.columnHeader.height = kHeaderHeight;
        d.columnHeader.ruleBelow = true;
        ReportLabel& header = d.columnHeader.addLabel();
        header.text = QStringLiteral("HEADER");
        header.font = reportFont(10);
        d.detail.height = kDetailHeight;
        d.detail.addLabel().font = reportFont(10);
        d.summary.height = kSummaryHeight;
        d.summary.addLabel().font = reportFont(10);
        engine.setBeforePrint([this](ReportEngine&) { next_ = 0; });
        engine.setDataRequest([this](ReportEngine& report, bool& moreData) {
            ++requests;
            if (failAt >= 0 && next_ == failAt) {
                throw ReportError(QStringLiteral("資料讀取失敗"));
            }
            if (next_ < lines_.size()) {
                moreData = true;
                report.definition().detail.labels[0].text = lines_.at(next_++);
            }
        });
    }

    ReportEngine engine;
    int requests = 0;
    int failAt = -1;  // the record whose request throws

private:
    QStringList lines_;
    int next_ = 0;
};

inline QStringList numberedLines(int count, const QString& prefix = QStringLiteral("record ")) {
    QStringList lines;
    for (int i = 1; i <= count; ++i) {
        lines.append(prefix + QString::number(i));
    }
    return lines;
}

// The texts of a page's runs, top to bottom.
inline QStringList textsOf(const ReportPage& page) {
    QStringList texts;
    for (const ReportTextRun& run : page.runs()) {
        texts.append(page.textOf(run).toString());
    }
    return texts;
}

// Asks to stop once the work has reported `units` done.
class CancelAfter final : public Feedback {
public:
    explicit CancelAfter(std::int64_t units) : units_(units) {}
    void setProgress(std::int64_t done) override { done_ = done; }
    bool canceled() const override { return done_ >= units_; }

private:
    std::int64_t units_;
    std::int64_t done_ = 0;
};

// Standard output of a command that must succeed (poppler's readers).
inline QString outputOf(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " failed: " << process.errorString().toStdString() << ' '
                      << process.readAllStandardError().toStdString();
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

// PDF files read back by poppler's readers.

inline QSizeF pageSizeInPoints(const QString& pdf) {
    const QString info = outputOf(QStringLiteral("pdfinfo"), {pdf});
    const QRegularExpression size(QStringLiteral("Page size:\\s+([0-9.]+) x ([0-9.]+) pts"));
    const QRegularExpressionMatch match = size.match(info);
    EXPECT_TRUE(match.hasMatch()) << info.toStdString();
    return QSizeF(match.captured(1).toDouble(), match.captured(2).toDouble());
}

inline QStringList nonBlankLines(const QString& text) {
    QStringList lines = text.split(u'\n');
    lines.removeIf([](const QString& line) { return line.trimmed().isEmpty(); });
    return lines;
}

struct Word {
    double x = 0;
    double y = 0;
    double right = 0;
    double bottom = 0;
    QString text;
};

// The words of `pdftotext -bbox` output, line by line from the top.
inline QList<QList<Word>> wordsByLine(const QString& boxes) {
    static const QRegularExpression word(
        QStringLiteral("<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" "
                       "yMax=\"([0-9.]+)\">([^<]*)</word>"));
    QList<QList<Word>> lines;
    for (auto it = word.globalMatch(boxes); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const Word found{match.captured(1).toDouble(), match.captured(2).toDouble(), match.captured(3).toDouble(),
                         match.captured(4).toDouble(), match.captured(5)};
        if (lines.isEmpty() || std::abs(lines.last().last().y - found.y) > 1) {
            lines.append(QList<Word>());
        }
        lines.last().append(found);
    }
    return lines;
}

inline double millimetresToPoints(double mm) { return mm * 72.0 / 25.4; }

}  // namespace tarnwell::test
