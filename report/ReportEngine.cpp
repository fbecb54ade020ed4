#include "report/ReportEngine.h"

#include <QElapsedTimer>
#include <exception>
#include <utility>
#include <vector>

#include "report/ReportOutput.h"

namespace tarnwell {

// Lays out pages one at a time: the header bands, then detail bands while the
// data request answers that there is more (a record asked for on a full page
// opens the next one), then the summary.
class ReportPaginator {
public:
    ReportPaginator(const ReportDefinition& definition, std::shared_ptr<const ReportPageFormat> format,
                    std::function<bool()> moreData)
        : live_(definition),
          format_(std::move(format)),
          moreData_(std::move(moreData)),
          pageHeader_(placed(definition.pageHeader)),
          columnHeader_(placed(definition.columnHeader)),
          detail_(placed(definition.detail)),
          summary_(placed(definition.summary)) {}

    const std::shared_ptr<const ReportPageFormat>& format() const { return format_; }
    bool atEnd() const { return phase_ == Phase::Done; }
    // Asks for no more records, even from inside a data request.
    void abandon() { phase_ = Phase::Done; }

    // Lays out the next page into `page`; false after the last.
    bool next(ReportPage& page) {
        if (phase_ == Phase::Done) {
            return false;
        }
        page = ReportPage();
        const QRectF body = format_->body();
        double y = body.top();
        for (const PlacedBand* header : {&pageHeader_, &columnHeader_}) {
            if (header->band.enabled) {
                place(page, *header, y, nullptr);
                y += header->band.height;
            }
        }
        int details = 0;
        while (phase_ == Phase::Records) {
            if (!pending_) {
                const bool more = fetchRecord();
                if (phase_ == Phase::Done) {
                    return false;  // abandoned by the data request
                }
                if (!more) {
                    phase_ = Phase::Summary;
                    break;
                }
            }
            if (!detail_.band.enabled) {
                pending_ = false;
                continue;
            }
            if (details > 0 && !fits(y, detail_.band.height)) {
                return true;  // the record waits for the next page
            }
            place(page, detail_, y, &pendingTexts_);
            y += detail_.band.height;
            pending_ = false;
            ++details;
        }
        if (summary_.band.enabled) {
            if (details > 0 && !fits(y, summary_.band.height)) {
                return true;
            }
            place(page, summary_, y, nullptr);
        }
        phase_ = Phase::Done;
        return true;
    }

private:
    struct PlacedBand {
        ReportBand band;
        std::vector<int> fonts;  // of its labels, in the format
    };
    enum class Phase { Records, Summary, Done };

    // A band whose bottom passes the body's by less than this still fits:
    // heights converted from millimetres need not add up exactly.
    static constexpr double kSlack = 1e-6;

    PlacedBand placed(const ReportBand& band) const {
        PlacedBand result{band, {}};
        for (const ReportLabel& label : band.labels) {
            result.fonts.push_back(format_->fontIndex(label.font));
        }
        return result;
    }

    bool fits(double top, double height) const { return top + height <= format_->body().bottom() + kSlack; }

    bool fetchRecord() {
        if (!moreData_()) {
            return false;
        }
        pendingTexts_.clear();
        for (const ReportLabel& label : live_.detail.labels) {
            pendingTexts_.push_back(label.text);
        }
        pending_ = true;
        return true;
    }

    static std::uint16_t alignmentOf(const ReportLabel& label) {
        if (label.alignment & Qt::AlignHCenter) {
            return ReportTextRun::kCentre;
        }
        return (label.alignment & Qt::AlignRight) ? ReportTextRun::kRight : ReportTextRun::kLeft;
    }

    // Puts the band's labels on the page with its top at `top`; `texts`, when
    // given, replace the labels' own (a record's). Lines past the band's
    // bottom are left out, so the band never grows.
    void place(ReportPage& page, const PlacedBand& placed, double top, const std::vector<QString>* texts) const {
        const QRectF body = format_->body();
        const double bottom = top + placed.band.height;
        for (std::size_t i = 0; i < placed.band.labels.size(); ++i) {
            const ReportLabel& label = placed.band.labels[i];
            const int font = placed.fonts[i];
            const QStringView text = texts != nullptr && i < texts->size() ? QStringView((*texts)[i])
                                                                            : QStringView(label.text);
            const double spacing = format_->lineSpacing(font);
            double lineTop = top + label.top;
            qsizetype start = 0;
            for (bool first = true; start <= text.size(); first = false) {
                qsizetype end = start;
                while (end < text.size() && text.at(end) != u'\n' && text.at(end) != u'\r') {
                    ++end;
                }
                if (!first && lineTop + spacing > bottom + kSlack) {
                    break;
                }
                if (end > start) {
                    page.addText(text.sliced(start, end - start), font, alignmentOf(label),
                                 body.left() + label.left, lineTop);
                }
                lineTop += spacing;
                if (end < text.size() && text.at(end) == u'\r' && end + 1 < text.size() &&
                    text.at(end + 1) == u'\n') {
                    ++end;
                }
                start = end + 1;
            }
        }
        if (placed.band.ruleBelow) {
            page.addRule(body.left(), body.right(), bottom);
        }
    }

    const ReportDefinition& live_;  // where the data request leaves a record's texts
    std::shared_ptr<const ReportPageFormat> format_;
    std::function<bool()> moreData_;
    PlacedBand pageHeader_;
    PlacedBand columnHeader_;
    PlacedBand detail_;
    PlacedBand summary_;
    Phase phase_ = Phase::Records;
    bool pending_ = false;
    std::vector<QString> pendingTexts_;
};

namespace {

QString messageOf(const std::exception& error) { return QString::fromUtf8(error.what()); }

QString unknownFailure() { return QStringLiteral("製作報表時發生不明的錯誤"); }

}  // namespace

ReportEngine::ReportEngine(QObject* parent) : QObject(parent) {
    slices_.setSingleShot(true);
    slices_.setInterval(0);
    connect(&slices_, &QTimer::timeout, this, &ReportEngine::produceSlice);
}

ReportEngine::~ReportEngine() { stop(); }

std::shared_ptr<ReportPaginator> ReportEngine::startProduction() {
    stop();
    if (beforePrint_) {
        beforePrint_(*this);
    }
    checkReportDefinition(definition_);
    auto format = std::make_shared<const ReportPageFormat>(definition_);
    return std::make_shared<ReportPaginator>(definition_, std::move(format), [this] {
        bool moreData = false;
        if (dataRequest_) {
            dataRequest_(*this, moreData);
        }
        return moreData;
    });
}

std::shared_ptr<ReportDocument> ReportEngine::preview() {
    std::shared_ptr<ReportPaginator> paginator = startProduction();
    auto document = std::make_shared<ReportDocument>(paginator->format());
    document_ = document;
    paginator_ = paginator;
    try {
        if (previewHook_) {
            previewHook_(*this, document);
        }
        if (paginator_ == paginator && producePreviewPage()) {
            slices_.start();
        }
    } catch (const std::exception& error) {
        if (paginator_ == paginator) {
            endProduction(ReportDocument::State::Failed, messageOf(error));
        }
        throw;
    } catch (...) {
        if (paginator_ == paginator) {
            endProduction(ReportDocument::State::Failed, unknownFailure());
        }
        throw;
    }
    return document;
}

bool ReportEngine::producePreviewPage() {
    const std::shared_ptr<ReportPaginator> paginator = paginator_;
    const std::shared_ptr<ReportDocument> document = document_;
    ReportPage page;
    const bool made = paginator->next(page);
    if (paginator_ != paginator) {
        return false;  // stopped or replaced while it asked for data
    }
    if (made) {
        document->appendPage(std::move(page));
        if (paginator_ != paginator) {
            return false;  // a page-ready listener stopped it
        }
    }
    if (paginator->atEnd()) {
        endProduction(ReportDocument::State::Complete);
        return false;
    }
    return true;
}

void ReportEngine::produceSlice() {
    QElapsedTimer clock;
    clock.start();
    try {
        while (producePreviewPage()) {
            if (clock.elapsed() >= kSliceMs) {
                slices_.start();
                return;
            }
        }
    } catch (const std::exception& error) {
        failProduction(messageOf(error));
    } catch (...) {
        // Nothing may leave a slice: the event loop would end the program.
        failProduction(unknownFailure());
    }
}

void ReportEngine::failProduction(const QString& message) {
    endProduction(ReportDocument::State::Failed, message);
    emit productionFailed(message);
}

void ReportEngine::endProduction(ReportDocument::State state, const QString& failure) {
    slices_.stop();
    if (paginator_) {
        paginator_->abandon();
    }
    paginator_.reset();
    if (const std::shared_ptr<ReportDocument> document = document_) {
        document->finish(state, failure);
    }
}

void ReportEngine::stop() {
    if (paginator_) {
        endProduction(ReportDocument::State::Stopped);
    }
}

bool ReportEngine::isProducing() const { return paginator_ != nullptr; }

void ReportEngine::closePreview() {
    stop();
    document_.reset();
}

std::shared_ptr<ReportDocument> ReportEngine::produceAll(Feedback& feedback) {
    const std::shared_ptr<ReportPaginator> paginator = startProduction();
    auto document = std::make_shared<ReportDocument>(paginator->format());
    try {
        ReportPage page;
        while (paginator->next(page)) {
            document->appendPage(std::move(page));
            feedback.setProgress(document->pageCount());
            feedback.throwIfCanceled();
        }
    } catch (const OperationCanceled&) {
        document->finish(ReportDocument::State::Stopped);
        throw;
    } catch (const std::exception& error) {
        document->finish(ReportDocument::State::Failed, messageOf(error));
        throw;
    } catch (...) {
        document->finish(ReportDocument::State::Failed, unknownFailure());
        throw;
    }
    document->finish(ReportDocument::State::Complete);
    return document;
}

namespace {

NextReportPage pagesFrom(ReportPaginator& paginator, ReportPage& page) {
    return [&paginator, &page]() -> const ReportPage* { return paginator.next(page) ? &page : nullptr; };
}

}  // namespace

void ReportEngine::print(QPrinter& printer, Feedback& feedback) {
    const std::shared_ptr<ReportPaginator> paginator = startProduction();
    ReportPage page;
    printReportPages(*paginator->format(), pagesFrom(*paginator, page), printer, feedback);
}

void ReportEngine::writePdf(const QString& path, Feedback& feedback) {
    const std::shared_ptr<ReportPaginator> paginator = startProduction();
    ReportPage page;
    writeReportPdfPages(*paginator->format(), pagesFrom(*paginator, page), path, feedback);
}

}  // namespace tarnwell
