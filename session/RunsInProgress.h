#pragma once

#include <QDeadlineTimer>

namespace tarnwell {

// Work on the workspace's session that runs away from the user interface (a
// query window's statement on its thread), seen from the session's end: the
// workspace must stop and wait for it before the session goes, without
// knowing what runs it.
class BackgroundRun {
public:
    // Stops the work and leaves its window alone from now on.
    virtual void abandon() = 0;
    // Waits until the work has ended, serving the calls it makes to the user
    // interface meanwhile (so it may be called on that thread). False when
    // the deadline passed first.
    virtual bool waitServingCalls(QDeadlineTimer deadline) = 0;

protected:
    ~BackgroundRun() = default;
};

// The runs in progress: each one registers when it is made and unregisters
// when it is destroyed, both on the user-interface thread.
void registerRun(BackgroundRun& run);
void unregisterRun(BackgroundRun& run);

// Abandons every run in progress and waits for them; for the end of the
// program, before the engine's session goes. False when the deadline passed
// before they had all ended.
bool abandonRunsAndWait(QDeadlineTimer deadline);

}  // namespace tarnwell
