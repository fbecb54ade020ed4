#include "ui/ErrorReport.h"

#include "output/Feedback.h"
#include "ui/Prompt.h"

namespace tarnwell {

void reportUnhandledError(const std::exception& error) {
    if (dynamic_cast<const OperationCanceled*>(&error) != nullptr) {
        return;
    }
    prompt().showMessage(QString::fromUtf8(error.what()));
}

}  // namespace tarnwell
