#pragma once

#include <exception>
#include <utility>

namespace tarnwell {

// The general error report: shows the message of an error that reached the
// top in a message box, and the program goes on. A stop the user asked for
// (OperationCanceled) shows nothing: the user knows of it. The application
// object sends every error no handler caught here; code that calls handlers
// outside the event loop, or must not let an error pass through Qt, calls it
// itself.
void reportUnhandledError(const std::exception& error);

// Runs a command the user started (a handler the event loop called); an
// error it lets through goes to the general error report, as one escaping
// any other handler would.
template <typename Command>
void reportingErrors(Command&& command) {
    try {
        std::forward<Command>(command)();
    } catch (const std::exception& error) {
        reportUnhandledError(error);
    }
}

}  // namespace tarnwell
