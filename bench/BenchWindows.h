#pragma once

#include <functional>
#include <memory>

namespace tarnwell {
class Application;
}

namespace tarnwell::bench {

// The application object for the modes that make windows: on the offscreen
// platform unless the caller chose another, with the program's fonts. Null
// when one exists already.
std::unique_ptr<Application> startWindowedApplication();

// Serves the event loop until `done` holds; false when `limitMs` passed first.
bool serveUntil(const std::function<bool()>& done, int limitMs);

}  // namespace tarnwell::bench
