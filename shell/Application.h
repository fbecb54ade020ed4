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

// Shows the message of an error that reached the top, as the general error
// handler does; for code that calls handlers outside the event loop.
void reportUnhandledError(const std::exception& error);

}  // namespace tarnwell
