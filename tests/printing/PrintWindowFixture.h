#pragma once

// A query window on a SQLite file, and the print window its print button
// opens over the window's result.
#include "query/QueryWindowFixture.h"

#include <QPointer>
#include <QTimer>
#include <QToolButton>
#include <functional>

#include "printing/UPrint.h"

namespace tarnwell::test {

class PrintWindowFixture : public LocalWindowTest {
protected:
    // Presses the print button; while the print window is up (it is modal),
    // runs `body` on it and then ends it with "結束". Whether a window came up.
    bool whilePrinting(const std::function<void(TfrmPrint&)>& body) {
        bool shown = false;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            QPointer<TfrmPrint> print = TfrmPrint::instance();
            if (!print) {
                return;
            }
            shown = true;
            body(*print);
            if (print) {
                print->SpeedButton4Click();
            }
            if (print && print->isVisible()) {
                ADD_FAILURE() << "\"結束\" left the print window up";
                print->done(QDialog::Rejected);
            }
        });
        timer.start(0);
        child<QToolButton>(*window, "ToolButton5")->click();
        return shown;
    }
};

}  // namespace tarnwell::test
