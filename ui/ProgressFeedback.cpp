#include "ui/ProgressFeedback.h"

#include <QCoreApplication>
#include <QProgressDialog>
#include <QWidget>
#include <algorithm>
#include <vector>

namespace tarnwell {

namespace {

// Often enough that painting and the cancel button feel immediate, seldom
// enough that a walk of millions of records does not spend its time here.
constexpr int kEventsEveryMs = 40;

std::vector<ProgressFeedback*>& workInProgress() {
    static std::vector<ProgressFeedback*> running;
    return running;
}

}  // namespace

ProgressFeedback::ProgressFeedback(QWidget* parent, QString labelText, std::int64_t total)
    : parent_(parent), watchesWindow_(parent != nullptr), labelText_(std::move(labelText)), total_(total) {
    started_.start();
    sinceEvents_.start();
    workInProgress().push_back(this);
}

ProgressFeedback::~ProgressFeedback() {
    std::erase(workInProgress(), this);
    delete dialog_.data();
}

bool ProgressFeedback::cancelAllWork() {
    for (ProgressFeedback* work : workInProgress()) {
        work->cancel();
    }
    return !workInProgress().empty();
}

void ProgressFeedback::setProgress(std::int64_t done) {
    done_ = done;
    if (sinceEvents_.elapsed() < kEventsEveryMs) {
        return;
    }
    sinceEvents_.restart();
    if (!dialog_ && !finished_ && !canceled() && started_.elapsed() >= kShowAfterMs) {
        showDialog();
    }
    if (dialog_) {
        updateDialog();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    } else {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
}

bool ProgressFeedback::canceled() const {
    // A window that went away takes its work with it.
    return canceled_ || (watchesWindow_ && parent_.isNull());
}

void ProgressFeedback::finished() {
    finished_ = true;
    delete dialog_.data();
}

QProgressDialog* ProgressFeedback::dialog() const {
    return dialog_.data();
}

void ProgressFeedback::showDialog() {
    QWidget* owner = parent_ ? parent_->window() : nullptr;
    dialog_ = new QProgressDialog(owner);
    dialog_->setObjectName(QStringLiteral("progressDialog"));
    dialog_->setWindowTitle(QCoreApplication::applicationName());
    dialog_->setWindowModality(Qt::ApplicationModal);
    dialog_->setAutoReset(false);
    dialog_->setAutoClose(false);
    dialog_->setMinimumDuration(0);
    dialog_->setCancelButtonText(QStringLiteral("取消"));
    dialog_->setRange(0, total_ > 0 ? 1000 : 0);
    QObject::connect(dialog_.data(), &QProgressDialog::canceled, dialog_.data(),
                     [this] { canceled_ = true; });
    updateDialog();
    dialog_->show();
}

void ProgressFeedback::updateDialog() {
    dialog_->setLabelText(labelText_.arg(done_));
    if (total_ > 0) {
        // Per mille, since the counts may exceed an int's range.
        dialog_->setValue(static_cast<int>(std::min<std::int64_t>(done_, total_) * 1000 / total_));
    }
}

}  // namespace tarnwell
