#include "shell/Startup.h"

#include <QAbstractEventDispatcher>
#include <QStringList>
#include <cstdio>

#include "session/Workspace.h"
#include "shell/Application.h"
#include "shell/BatchRun.h"
#include "shell/CommandLine.h"
#include "shell/SingleInstance.h"
#include "shell/StandardStreams.h"
#include "shell/UMain.h"
#include "ui/Fonts.h"

namespace tarnwell {

namespace {

QStringList argumentList(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    return arguments;
}

void callWhenIdle(TfrmMain& mainWindow, const std::function<void(TfrmMain&)>& hook) {
    auto* dispatcher = QAbstractEventDispatcher::instance();
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock,
                                   &mainWindow, [connection, &mainWindow, hook] {
                                       QObject::disconnect(*connection);
                                       hook(mainWindow);
                                   });
}

}  // namespace

int runTarnwell(int argc, char** argv, const StartupHooks& hooks) {
    openClosedStandardStreams();
    const CommandLine commandLine = parseCommandLine(argumentList(argc, argv));
    switch (commandLine.action) {
    case CommandLine::Action::ShowHelp:
        std::fputs(helpText().toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLine::Action::ShowVersion:
        std::fputs(versionText().toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLine::Action::Refuse:
        std::fprintf(stderr, "tarnwell: %s\nTry 'tarnwell --help'.\n",
                     commandLine.error.toLocal8Bit().constData());
        return 2;
    case CommandLine::Action::Batch:
        // No window, no display and no single-instance rule.
        return runBatch(commandLine.batch);
    case CommandLine::Action::Run:
        break;
    }

    Application app(argc, argv);
    SingleInstance instance(SingleInstance::addressForCurrentUser());
    if (!instance.claim()) {
        return 0;
    }
    setUpFonts();
    // Made before the main window and destroyed after the last window.
    Workspace workspace;
    TfrmMain mainWindow(workspace);
    QObject::connect(&instance, &SingleInstance::activationRequested, &mainWindow,
                     &TfrmMain::bringApplicationForward);
    mainWindow.startUp();
    if (hooks.whenIdle) {
        callWhenIdle(mainWindow, hooks.whenIdle);
    }
    return app.exec();
}

}  // namespace tarnwell
