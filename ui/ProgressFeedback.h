#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QString>

#include "output/Feedback.h"

class QProgressDialog;
class QWidget;

namespace tarnwell {

// Feedback for long work on the user-interface thread: the windows keep
// painting while it runs, and after about half a second a modal progress dialog
// over `parent` shows how far the work got, with a button to cancel it.
//
// Until the dialog shows, user input waits (it is delivered afterwards and
// blocked by the dialog), so nothing a user clicks can change what the work is
// reading under it. The dialog goes when this object goes.
class ProgressFeedback final : public Feedback {
public:
    // `labelText` is shown with "%1" replaced by the units done; `total`, when
    // known (> 0), gives the dialog a bar that fills.
    ProgressFeedback(QWidget* parent, QString labelText, std::int64_t total = 0);
    ~ProgressFeedback() override;
    ProgressFeedback(const ProgressFeedback&) = delete;
    ProgressFeedback& operator=(const ProgressFeedback&) = delete;

    void setProgress(std::int64_t done) override;
    bool canceled() const override;
    // The dialog goes, and no other comes for this work.
    void finished() override;
    // Asks the work to stop, as the cancel button does.
    void cancel() { canceled_ = true; }

    // Asks every work in progress under a ProgressFeedback to stop; true when
    // there was any. Such work is somewhere down the stack of the caller's
    // event handling and ends only once control returns to it, so whatever it
    // uses (its window, the program) must stay until then.
    static bool cancelAllWork();

    // The dialog once it is shown, else null (tests press its button).
    QProgressDialog* dialog() const;

    // How long the work runs before the dialog appears.
    static constexpr int kShowAfterMs = 500;

private:
    void showDialog();
    void updateDialog();

    QPointer<QWidget> parent_;
    bool watchesWindow_ = false;
    QString labelText_;
    std::int64_t total_ = 0;
    std::int64_t done_ = 0;
    QElapsedTimer started_;
    QElapsedTimer sinceEvents_;
    // Owned here, and by its window too: the window may go first (and take
    // the dialog with it) while the work is still unwinding.
    QPointer<QProgressDialog> dialog_;
    bool canceled_ = false;
    bool finished_ = false;
};

}  // namespace tarnwell
