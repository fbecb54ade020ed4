#pragma once

#include <functional>

namespace tarnwell {

class TfrmMain;

struct StartupHooks {
    // Called once, the first time the event loop has nothing left to do after
    // start-up (the start-up measurement reads its clock here).
    std::function<void(TfrmMain&)> whenIdle;
};

// The whole program: command line, single-instance rule, main window, event
// loop. Returns the process exit code.
int runTarnwell(int argc, char** argv, const StartupHooks& hooks = {});

}  // namespace tarnwell
