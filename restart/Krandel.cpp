// Krandel: waits ten seconds, so that the Tolvane that started it has gone,
// then starts Tolvane from its own folder with "/Base=Current" and ends.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <functional>
#include <string>

#include "common/ApplicationName.h"
#include "common/MonotonicTickCount.h"
#include "common/qt/AppIcon.h"
#include "common/qt/QtTranslation.h"
#include "journal/JournalFiles.h"
#include "platform/platform.h"
#include "restart/RestartRules.h"

namespace {
const QString Caption = QStringLiteral("Tools Launcher Launcher");
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    app.setWindowIcon(tolvane::applicationIcon());
    tolvane::installQtTranslation(app);

    auto platform = tolvane::platform::createSystemPlatform();
    tolvane::MonotonicTickCount tickCount([&] { return platform->rawTickCount(); });
    // As the system keeps it (wide characters on Windows), so that the
    // journal shows it as it was typed.
    const auto arguments = tolvane::platform::commandLineArguments(argc, argv);
    std::string commandLine;
    for (std::size_t i = 0; i < arguments.size(); ++i) commandLine.append(i > 0 ? " " : "").append(arguments[i]);

    const std::int64_t deadline = tickCount() + tolvane::RestartDelayMs;
    const std::string folder = tolvane::folderOf(platform->ownExecutablePath(), tolvane::platform::pathSeparator());
    const auto command =
        tolvane::restartCommand(folder, tolvane::platform::pathSeparator(), tolvane::platform::executableSuffix());

    // Krandel's own journal (its own folder and its own name in the
    // system's log): Tolvane has ended by now, so only Krandel can tell
    // whether the station got its supervisor back.
    tolvane::JournalFiles journal(
        tolvane::applicationName(platform->ownExecutablePath(), tolvane::platform::executableSuffix()));
    journal.record(
        {tolvane::JournalEvent::RestarterWaiting, {}, {{"ligne de commande", commandLine}, {"attente", "10 s"}}});
    // Kept as long as Tolvane's own: a station that restarts every night
    // must not gather a file a day for ever.
    journal.removeExpiredFiles();

    int status = 0;
    const auto startTolvane = [&] {
        if (tolvane::hasTestSwitch(commandLine))
            QMessageBox::information(
                nullptr, Caption,
                QStringLiteral("Application à lancer: ") + QString::fromStdString(command.displayText));
        // Tolvane runs in its own folder, as the tools it starts do.
        const auto started =
            platform->startProgram(command.applicationPath, command.arguments, tolvane::platform::ShowState::Normal,
                                   folder + tolvane::platform::pathSeparator());
        if (started) {
            journal.record({tolvane::JournalEvent::RestarterStartedTolvane, {}, {{"programme", command.displayText}}});
        } else {
            journal.record({tolvane::JournalEvent::RestarterTolvaneRefused,
                            {},
                            {{"programme", command.applicationPath}, {"raison", started.failure}}});
            // No second attempt: the message names what failed, and the
            // exit status tells a script.
            QMessageBox::critical(nullptr, Caption,
                                  QString::fromStdString(tolvane::startFailureMessage(
                                      command.applicationPath, platform->fileExists(command.applicationPath))));
            status = 1;
        }
        app.exit(status);
    };

    // The wait sleeps on a timer until the deadline of the monotonic tick
    // count; a timer that fires early (or a tick counter that wrapped) just
    // re-arms for what is left.
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const std::int64_t left = tolvane::remainingWaitMs(tickCount(), deadline);
        if (left > 0) {
            timer.start(static_cast<int>(left));
            return;
        }
        startTolvane();
    });
    timer.start(static_cast<int>(tolvane::remainingWaitMs(tickCount(), deadline)));
    return app.exec();
}
