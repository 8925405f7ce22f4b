// Tolvane: keeps the station's thirty tools running.
#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/ApplicationName.h"
#include "common/qt/QtTranslation.h"
#include "journal/JournalFiles.h"
#include "platform/platform.h"
#include "supervisor/app/CommandLine.h"
#include "supervisor/app/InstanceClaim.h"
#include "supervisor/app/SingleInstance.h"
#include "supervisor/core/Startup.h"
#include "supervisor/core/VersionStamp.h"
#include "supervisor/settings/JournaledSettings.h"
#include "supervisor/settings/QtSettingsStore.h"
#include "supervisor/ui/Frm_Main.h"

int main(int argc, char** argv) {
    {
        // Asked from a terminal: answer without a window (and without a
        // display at all).
        const auto request = tolvane::infoRequest(tolvane::platform::commandLineArguments(argc, argv));
        if (request != tolvane::InfoRequest::None) {
            auto platform = tolvane::platform::createSystemPlatform();
            const std::string version = tolvane::VersionText(platform->ownVersion());
            std::fputs(
                request == tolvane::InfoRequest::Help ? tolvane::usageText(version).c_str() : (version + "\n").c_str(),
                stdout);
            return 0;
        }
    }
    QApplication app(argc, argv);
    // The message boxes' standard buttons in the operator's language.
    tolvane::installQtTranslation(app);

    auto platform = tolvane::platform::createSystemPlatform();
    // The settings live under the executable's own base name.
    const std::string application =
        tolvane::applicationName(platform->ownExecutablePath(), tolvane::platform::executableSuffix());
    tolvane::QtSettingsStore settings(application);
    // What the administrator set (policy and presets) is read once, here,
    // and layered over the user's own store: policy, the user's value, the
    // preset, the default.
    tolvane::AdministratorSettings administrator = tolvane::readAdministratorSettings(application);
    tolvane::LayeredSettings layeredSettings(settings, std::move(administrator.policy),
                                             std::move(administrator.presets));

    // The command line is read once, as one text: switches are found
    // anywhere in it. As the system keeps it (wide characters on Windows),
    // so that accents reach the journal as they were typed.
    const auto arguments = tolvane::platform::commandLineArguments(argc, argv);
    std::string commandLine;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) commandLine += ' ';
        commandLine += arguments[i];
    }

    tolvane::JournalFiles journal(application);

    // A start that must not supervise says why, in the journal, the system's
    // log (before the process goes) and on standard error, and ends with 0.
    const auto endWithoutSupervising = [&journal](const tolvane::JournalEntry& entry, const std::string& message) {
        journal.record(entry);
        std::fprintf(stderr, "%s\n", message.c_str());
        tolvane::platform::flushSystemLog(std::chrono::seconds{1});
        return 0;
    };

    // Started in the services' session (a deployment agent, a service): no
    // tool's window can be seen from there, so supervising would start the
    // whole suite a second time. Say why, and never supervise.
    if (const auto session = tolvane::platform::ownSessionId(); tolvane::inServicesSession(session)) {
        return endWithoutSupervising(
            {tolvane::JournalEvent::StartedInServicesSession,
             {},
             {{"session", std::to_string(*session)}, {"ligne de commande", commandLine}}},
            application + ": started in session 0, where no tool's window can be seen: not supervising");
    }

    // One Tolvane: a second start shows the running one (when an operator
    // asked for it) and ends; so does a start in another Windows session
    // than the one that supervises.
    tolvane::SingleInstance instance(*platform, application, settings.location());
    const bool askToShow = tolvane::secondStartAsksToShow(commandLine);
    const auto claim = instance.claim(askToShow);
    if (claim == tolvane::SingleInstance::Claim::AnotherSession) {
        const auto& other = instance.otherSession();
        return endWithoutSupervising({tolvane::JournalEvent::TolvaneInOtherSession,
                                      {},
                                      {{"session", std::to_string(other.session)},
                                       {"utilisateur", other.user.empty() ? "inconnu" : other.user},
                                       {"ligne de commande", commandLine}}},
                                     application + ": a Tolvane already supervises from session " +
                                         std::to_string(other.session) + " (" + other.user + "); this one ends.");
    }
    if (claim == tolvane::SingleInstance::Claim::AnotherRuns)
        return endWithoutSupervising(
            {tolvane::JournalEvent::SecondTolvaneTurnedAway, {}, {{"ligne de commande", commandLine}}},
            tolvane::secondStartMessage(application, askToShow));
    // Asked to end by the system from here on: the request waits for the
    // event loop, so the run's start line always gets its closing line.
    const int terminationFd = tolvane::platform::terminationRequests();
    // Only the one Tolvane looks at how the last run ended.
    journal.beginRun({{"version", tolvane::VersionText(platform->ownVersion())},
                      {"ligne de commande", commandLine},
                      {"veille", tolvane::hasStandbySwitch(commandLine) ? "oui" : "non"}});
    // After the run's start line, which must follow the last run's end: a
    // Tolvane without a lock, or that a second start cannot reach, is news
    // for IT, in the journal and the system's log, once.
    instance.reportTo(
        [&journal](const std::string& why) {
            journal.record({tolvane::JournalEvent::SupervisingWithoutLock, {}, {{"raison", why}}});
        },
        [&application](const std::string& why) {
            tolvane::platform::sendToSystemLog(
                application, tolvane::platform::LogSeverity::Warning,
                "Un second Tolvane ne peut pas joindre celui-ci pour montrer sa fenêtre : " + why);
        });

    // The operator's choices are journaled as they are saved; a text once
    // it has stood still for five seconds, or as Tolvane ends.
    tolvane::JournaledSettings journaledSettings(layeredSettings, journal);
    QTimer textsStill;
    textsStill.setSingleShot(true);
    textsStill.setInterval(5000);
    QObject::connect(&textsStill, &QTimer::timeout, [&journaledSettings] { journaledSettings.flushTexts(); });
    journaledSettings.textPending = [&textsStill] { textsStill.start(); };
    journal.beforeClosingLine = [&journaledSettings] {
        journaledSettings.retryRefused();
        journaledSettings.flushTexts();
    };
    // Said on standard error already; IT reads the journal and the system's
    // log, where a station started from the logon has no standard error.
    if (settings.unreadable())
        journal.record({tolvane::JournalEvent::SettingsUnreadable, {}, {{"emplacement", settings.location()}}});

    tolvane::Frm_Main window(*platform, journaledSettings);
    window.setJournal(journal, [&journal] { journal.removeExpiredFiles(); });
    instance.onShowRequest = [&window] { window.showOnRequest(); };
    window.batch().beforeRestartHandOver = [&instance] { instance.release(); };
    window.batch().afterFailedHandOver = [&instance] { instance.reclaim(); };

    // Asked to end by the system: end the way Tolvane always ends, so the
    // notification-area icon goes too. The tools keep running.
    std::unique_ptr<QSocketNotifier> terminationNotifier;
    if (terminationFd >= 0) {
        terminationNotifier = std::make_unique<QSocketNotifier>(terminationFd, QSocketNotifier::Read);
        QObject::connect(terminationNotifier.get(), &QSocketNotifier::activated, [&window] {
            const std::string asker = tolvane::platform::takeTerminationRequest();
            window.endOnSystemRequest(asker.empty() ? "signal" : asker);
        });
    }

    window.Form_Initialize();
    window.Form_Load(commandLine);
    // Loading saved the loaded values again; from here on a change is the
    // operator's.
    journaledSettings.startJournaling();
    return app.exec();
}
