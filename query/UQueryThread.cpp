#include "query/UQueryThread.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLocale>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTimer>

#include "dataaccess/ValueText.h"
#include "query/QueryEngine.h"
#include "query/QueryWidgets.h"

namespace tarnwell {

namespace {

// How often an abandoned run is asked again to stop: a cancel that arrives
// just before the statement reaches the engine is missed.
constexpr int kCancelRepeatMs = 20;

// The threads made and not yet deleted; touched on the user-interface thread
// only (they are made there and deleted there).
QList<QPointer<TQueryThread>>& liveThreads() {
    static QList<QPointer<TQueryThread>> threads;
    return threads;
}

QString engineMessage(const std::exception& error) { return QString::fromUtf8(error.what()); }

}  // namespace

QString currentDateTimeText() {
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::currentDateTime();
    return locale.toString(now.date(), locale.dateFormat(QLocale::ShortFormat)) + QLatin1Char(' ') +
           locale.toString(now.time(), db::timeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat)));
}

QString secondsText(double seconds) {
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(seconds, 'f', 3);
}

void addMemoLines(QPlainTextEdit& memo, const QString& text) {
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    memo.appendPlainText(lines);
}

TQueryThread::TQueryThread(std::shared_ptr<QueryWindowEngine> engine, const QString& sqlText,
                           const QString& linkType, PanelStatusBar* statusBar,
                           QPlainTextEdit* messages, QTabWidget* pages, QAbstractButton* runButton)
    : engine_(std::move(engine)),
      engineForCancel_(engine_),
      FSQLText(sqlText),
      FLinkType(linkType),
      FStatusBar(statusBar),
      FMessages(messages),
      FPages(pages),
      FRunButton(runButton) {
    liveThreads() << this;
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    start();
}

TQueryThread::~TQueryThread() {
    liveThreads().removeAll(this);
    liveThreads().removeAll(nullptr);
}

bool TQueryThread::startFailed() const { return !isRunning() && !isFinished(); }

template <typename Step>
void TQueryThread::inWindow(Step&& step) {
    if (abandoned_) {
        return;
    }
    std::exception_ptr failure;
    // The receiver is this object, which lives on the user-interface thread
    // until the run has ended; the window itself may be gone by the time the
    // call is served, so it is checked there.
    QMetaObject::invokeMethod(
        this,
        [this, &step, &failure] {
            if (abandoned_ || !FStatusBar || !FMessages || !FPages || !FRunButton) {
                return;
            }
            try {
                step();
            } catch (...) {
                failure = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void TQueryThread::addMessage(const QString& text) {
    inWindow([this, text] { addMemoLines(*FMessages, text); });
}

void TQueryThread::setStatus(const QString& text) {
    inWindow([this, text] { FStatusBar->setPanelText(0, text); });
}

void TQueryThread::showPage(const char* pageName) {
    if (QWidget* page = FPages->findChild<QWidget*>(QLatin1String(pageName))) {
        FPages->setCurrentWidget(page);
    }
}

void TQueryThread::run() {
    execute();
    if (abandoned_) {
        // Nobody will read what the statement returned.
        engine_->BDE_Query1.close();
    }
    engine_.reset();
}

void TQueryThread::execute() {
    if (FLinkType != QLatin1String("BDE")) {
        inWindow([this] { FRunButton->setEnabled(true); });
        return;
    }
    inWindow([this] {
        FMessages->clear();
        FRunButton->setEnabled(false);
    });
    QElapsedTimer clock;
    clock.start();

    db::Query& query = engine_->BDE_Query1;
    db::ClientDataSet& clientData = engine_->CDS1;
    const auto reportChanged = [&](std::int64_t rowsAffected) {
        inWindow([&] {
            clientData.close();
            addMemoLines(*FMessages, QStringLiteral("執行結束：") + currentDateTimeText());
            // A statement that returned no result set where one was expected
            // has run all the same; its count is unknown to some engines.
            if (rowsAffected >= 0) {
                addMemoLines(*FMessages, QStringLiteral("共 %1 被異動").arg(rowsAffected));
            }
            showPage("TabErrMessage");
        });
    };
    try {
        query.close();
        query.setSql(FSQLText.toStdString());
        addMessage(QStringLiteral("執行起始：") + currentDateTimeText());
        setStatus(QStringLiteral("執行中....."));
        if (abandoned_) {
            return;
        }
        if (query.run()) {
            inWindow([&] {
                engine_->bindResult(query, clientData.tag());
                addMemoLines(*FMessages, QStringLiteral("執行結束：") + currentDateTimeText());
                showPage("TabData");
            });
        } else {
            reportChanged(query.rowsAffected());
        }
    } catch (const std::exception& error) {
        const QString message = engineMessage(error);
        inWindow([&] {
            showPage("TabErrMessage");
            FStatusBar->setPanelText(0, QStringLiteral("BDE_執行失敗"));
            addMemoLines(*FMessages, QStringLiteral("執行結束：") + currentDateTimeText());
            addMemoLines(*FMessages, QStringLiteral("\r\nBDE_查詢失敗: ") + message + QStringLiteral("\r\n"));
            FRunButton->setEnabled(true);
        });
    }
    // Whole milliseconds, as a tick count gives them.
    const QString seconds = secondsText(static_cast<double>(clock.elapsed()) / 1000.0);
    addMessage(QStringLiteral("共 ") + seconds + QStringLiteral(" 秒"));
    setStatus(QStringLiteral("完成 共 ") + seconds + QStringLiteral(" 秒"));
    inWindow([this] {
        FRunButton->setEnabled(true);
        emit runEnded();
    });
}

void TQueryThread::cancelStatement() {
    if (const std::shared_ptr<QueryWindowEngine> engine = engineForCancel_.lock()) {
        engine->BDE_Query1.cancel();
        engine->BDE_DB.cancel();
    }
}

void TQueryThread::abandon() {
    if (abandoned_.exchange(true)) {
        return;
    }
    cancelStatement();
    if (isFinished()) {
        return;
    }
    cancelTimer_ = new QTimer(this);
    cancelTimer_->setInterval(kCancelRepeatMs);
    connect(cancelTimer_, &QTimer::timeout, this, &TQueryThread::cancelStatement);
    connect(this, &QThread::finished, cancelTimer_, &QTimer::stop);
    cancelTimer_->start();
}

bool TQueryThread::waitServingCalls(QDeadlineTimer deadline) {
    while (!isFinished()) {
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
        if (abandoned_) {
            cancelStatement();
        }
        if (wait(QDeadlineTimer(5))) {
            break;
        }
        if (deadline.hasExpired()) {
            return false;
        }
    }
    return true;
}

bool TQueryThread::abandonAllAndWait(QDeadlineTimer deadline) {
    const QList<QPointer<TQueryThread>> threads = liveThreads();
    for (const QPointer<TQueryThread>& thread : threads) {
        if (thread) {
            thread->abandon();
        }
    }
    bool allEnded = true;
    for (const QPointer<TQueryThread>& thread : threads) {
        if (thread && !thread->waitServingCalls(deadline)) {
            allEnded = false;
        }
    }
    return allEnded;
}

}  // namespace tarnwell
