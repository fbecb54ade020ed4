#pragma once

#include <QFont>
#include <QObject>
#include <QPageLayout>
#include <QRawFont>
#include <QRectF>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "report/ReportDefinition.h"

class QPainter;

namespace tarnwell {

// One line of a label as it lands on a page. Text is kept, not pictures: a
// run costs its characters plus these 20 bytes.
struct ReportTextRun {
    std::uint32_t offset = 0;  // into the page's text
    std::uint32_t length = 0;
    float x = 0;  // report pixels from the sheet's left edge (left-aligned runs)
    float y = 0;  // top of the line, report pixels from the sheet's top edge
    std::uint16_t font = 0;  // index into the format's fonts
    std::uint16_t alignment = kLeft;

    // Centred and right-aligned runs are placed in the page body's width when
    // painted, with the advances of the device-independent glyphs.
    static constexpr std::uint16_t kLeft = 0;
    static constexpr std::uint16_t kCentre = 1;
    static constexpr std::uint16_t kRight = 2;
};

// A line across the page (under a band).
struct ReportRule {
    float left = 0;
    float right = 0;
    float y = 0;
};

// A laid-out page: its text in one buffer, the runs that place it, the rules.
class ReportPage {
public:
    void addText(QStringView text, int font, std::uint16_t alignment, double x, double y);
    void addRule(double left, double right, double y);
    // Gives back what the buffers hold beyond the page's needs.
    void squeeze();

    const std::vector<ReportTextRun>& runs() const { return runs_; }
    const std::vector<ReportRule>& rules() const { return rules_; }
    QStringView textOf(const ReportTextRun& run) const;
    std::size_t bytesHeld() const;

private:
    QString text_;
    std::vector<ReportTextRun> runs_;
    std::vector<ReportRule> rules_;
};

// What every page of one production shares: the sheet, its body and the
// fonts, and the one routine that paints a page onto any painter (preview,
// printer, PDF), so what the preview shows is what the paper gets.
class ReportPageFormat {
public:
    // The fonts are those of the definition's labels, each once.
    explicit ReportPageFormat(const ReportDefinition& definition);

    const QPageLayout& pageLayout() const { return layout_; }
    QSizeF sheetSize() const { return sheet_; }  // report pixels, as turned
    QRectF body() const { return body_; }
    const QString& documentTitle() const { return title_; }

    int fontIndex(const QFont& font) const;  // -1 for a font no label has
    const QFont& font(int index) const;
    double lineSpacing(int font) const;  // report pixels

    // Paints `page` in report pixels from the sheet's top left corner: the
    // caller scales the painter to its device first. Text stays text (a PDF
    // file gets it with its fonts embedded), clipped to the page body.
    void paint(QPainter& painter, const ReportPage& page) const;

private:
    struct Face {
        QFont requested;     // as the label asked for it
        QFont font;          // for text that needs the shaper
        QRawFont primary;    // the face drawn, sized in report pixels
        QRawFont fallback;   // for characters the primary face lacks
        double ascent = 0;
        double lineSpacing = 0;
        // Bold or italic asked of a face that has no such style: only the
        // text shaper makes it up (emboldened, slanted).
        bool synthesized = false;
    };
    static Face faceFor(const QFont& font);
    void paintRun(QPainter& painter, const ReportPage& page, const ReportTextRun& run) const;
    bool paintPlain(QPainter& painter, const Face& face, QStringView text, const ReportTextRun& run) const;
    void paintShaped(QPainter& painter, QStringView text, const ReportTextRun& run) const;

    QPageLayout layout_;
    QSizeF sheet_;
    QRectF body_;
    QString title_;
    std::vector<Face> faces_;
};

// The pages of one production, growing while it runs. Lives on the user
// interface thread; a preview shows the pages already there while the engine
// adds the next ones.
class ReportDocument : public QObject {
    Q_OBJECT

public:
    enum class State { Producing, Complete, Stopped, Failed };

    explicit ReportDocument(std::shared_ptr<const ReportPageFormat> format);

    const ReportPageFormat& format() const { return *format_; }

    int pageCount() const { return static_cast<int>(pages_.size()); }
    const ReportPage& page(int index) const;  // from 0
    void paintPage(QPainter& painter, int index) const;

    State state() const { return state_; }
    bool isProducing() const { return state_ == State::Producing; }
    QString failure() const { return failure_; }  // why a failed production stopped

    // What the pages hold in memory, in bytes.
    std::size_t bytesHeld() const;

    // For the producer.
    void appendPage(ReportPage page);
    void finish(State state, const QString& failure = {});

signals:
    // After every page added, with the number of pages so far.
    void pageReady(int pageCount);
    // Once, when production completed, was stopped or failed.
    void productionEnded();

private:
    std::shared_ptr<const ReportPageFormat> format_;
    std::vector<ReportPage> pages_;
    State state_ = State::Producing;
    QString failure_;
};

}  // namespace tarnwell
