#include "session/RunsInProgress.h"

#include <QList>

namespace tarnwell {

namespace {

QList<BackgroundRun*>& runsInProgress() {
    static QList<BackgroundRun*> runs;
    return runs;
}

// Serving one run's calls may end another: only a run still registered
// exists.
bool stillInProgress(BackgroundRun* run) { return runsInProgress().contains(run); }

}  // namespace

void registerRun(BackgroundRun& run) { runsInProgress() << &run; }

void unregisterRun(BackgroundRun& run) { runsInProgress().removeAll(&run); }

bool abandonRunsAndWait(QDeadlineTimer deadline) {
    const QList<BackgroundRun*> runs = runsInProgress();
    for (BackgroundRun* run : runs) {
        if (stillInProgress(run)) {
            run->abandon();
        }
    }
    bool allEnded = true;
    for (BackgroundRun* run : runs) {
        if (stillInProgress(run) && !run->waitServingCalls(deadline)) {
            allEnded = false;
        }
    }
    return allEnded;
}

}  // namespace tarnwell
