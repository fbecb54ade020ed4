// The progress dialog of long work: it must not outlive the window it stands
// over, nor let the work go on once that window or the program asks to stop.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QPointer>
#include <QProgressDialog>
#include <QThread>
#include <QWidget>
#include <memory>

#include "ui/ProgressFeedback.h"

namespace tarnwell {
namespace {

// Reports progress until the dialog is up.
void workUntilTheDialogShows(ProgressFeedback& feedback) {
    QElapsedTimer clock;
    clock.start();
    for (std::int64_t done = 1; feedback.dialog() == nullptr && clock.elapsed() < 10000; ++done) {
        feedback.setProgress(done);
        QThread::msleep(1);
    }
}

TEST(ProgressFeedbackTest, aWindowThatGoesTakesItsDialogAndStopsTheWork) {
    auto window = std::make_unique<QWidget>();
    window->show();
    ProgressFeedback feedback(window.get(), QStringLiteral("%1"));
    workUntilTheDialogShows(feedback);
    const QPointer<QProgressDialog> dialog = feedback.dialog();
    ASSERT_FALSE(dialog.isNull());
    EXPECT_FALSE(feedback.canceled());

    window.reset();
    EXPECT_TRUE(dialog.isNull());
    EXPECT_TRUE(feedback.canceled());
    feedback.setProgress(1000000);  // nothing left to show it on
}

TEST(ProgressFeedbackTest, workThatIsOverTakesItsDialogDownForGood) {
    QWidget window;
    window.show();
    ProgressFeedback feedback(&window, QStringLiteral("%1"));
    workUntilTheDialogShows(feedback);
    const QPointer<QProgressDialog> dialog = feedback.dialog();
    ASSERT_FALSE(dialog.isNull());
    feedback.finished();
    EXPECT_TRUE(dialog.isNull());
    QThread::msleep(50);
    feedback.setProgress(1000000);
    EXPECT_EQ(feedback.dialog(), nullptr) << "no second dialog for work that is over";
}

TEST(ProgressFeedbackTest, theProgramCancelsAllWorkThatIsRunning) {
    QWidget window;
    EXPECT_FALSE(ProgressFeedback::cancelAllWork()) << "nothing runs yet";
    {
        ProgressFeedback first(&window, QStringLiteral("%1"));
        ProgressFeedback second(&window, QStringLiteral("%1"));
        EXPECT_TRUE(ProgressFeedback::cancelAllWork());
        EXPECT_TRUE(first.canceled());
        EXPECT_THROW(second.throwIfCanceled(), OperationCanceled);
    }
    EXPECT_FALSE(ProgressFeedback::cancelAllWork());
}

}  // namespace
}  // namespace tarnwell
