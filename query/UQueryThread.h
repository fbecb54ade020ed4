#pragma once

#include <QDeadlineTimer>
#include <QPointer>
#include <QString>
#include <QThread>
#include <atomic>
#include <exception>
#include <memory>

class QAbstractButton;
class QPlainTextEdit;
class QTabWidget;
class QTimer;
class QWidget;

namespace tarnwell {

class PanelStatusBar;
struct QueryWindowEngine;

// Runs one statement of a query window's own database away from the user
// interface: times it, reports its course on the window's Messages page and
// status bar, and hands a result set to the window's client dataset.
//
// Every change of the window's controls or dataset is carried to the user
// interface thread and waited for. The thread object itself lives on that
// thread and receives those calls, so the receiver exists as long as the
// thread runs; each call first checks that the window is still there.
//
// The thread starts when it is made and deletes itself when it ends. It keeps
// the engine objects alive while it runs. A window that goes away abandons its
// thread: the statement is cancelled in the engine (repeatedly, until the
// thread lets go of it), its result is dropped, and the thread touches
// nothing of the window any more.
class TQueryThread : public QThread {
    Q_OBJECT
public:
    TQueryThread(std::shared_ptr<QueryWindowEngine> engine, const QString& sqlText,
                 const QString& linkType, PanelStatusBar* statusBar, QPlainTextEdit* messages,
                 QTabWidget* pages, QAbstractButton* runButton);
    ~TQueryThread() override;

    // True when the system could not start the thread; the caller then owns
    // the object and deletes it.
    bool startFailed() const;

    // The window is going: stop the statement and leave the window alone.
    void abandon();
    bool abandoned() const noexcept { return abandoned_; }

    // Waits until the thread has ended, serving the calls it makes to the user
    // interface meanwhile (so it may be called on that thread). False when the
    // deadline passed first.
    bool waitServingCalls(QDeadlineTimer deadline);

    // Abandons every query thread still running and waits for them; for the
    // end of the program, before the engine's session goes.
    static bool abandonAllAndWait(QDeadlineTimer deadline);

signals:
    // On the user-interface thread, when the run button is given back.
    void runEnded();

protected:
    void run() override;

private:
    template <typename Step>
    void inWindow(Step&& step);
    void execute();
    void addMessage(const QString& text);
    void setStatus(const QString& text);
    void showPage(const char* pageName);
    void cancelStatement();

    std::shared_ptr<QueryWindowEngine> engine_;
    std::weak_ptr<QueryWindowEngine> engineForCancel_;
    const QString FSQLText;
    const QString FLinkType;
    QPointer<PanelStatusBar> FStatusBar;
    QPointer<QPlainTextEdit> FMessages;
    QPointer<QTabWidget> FPages;
    QPointer<QAbstractButton> FRunButton;
    std::atomic<bool> abandoned_{false};
    QTimer* cancelTimer_ = nullptr;
};

// Now, in the system locale's short date format, a blank, and its long time
// format without the time zone.
QString currentDateTimeText();
// Seconds as "0.000" with the system locale's decimal separator.
QString secondsText(double seconds);
// Adds lines at the end of a memo; "\r\n", "\r" and "\n" all break a line.
void addMemoLines(QPlainTextEdit& memo, const QString& text);

}  // namespace tarnwell
