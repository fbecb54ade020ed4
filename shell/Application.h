#pragma once

#include <QApplication>

namespace tarnwell {

// The application object. An error that no handler catches ends up here: its
// message is shown in a message box and the program goes on.
class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace tarnwell
