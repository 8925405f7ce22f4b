// Tolvane: keeps the station's thirty tools running.
#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <string>

#include "platform/platform.h"
#include "supervisor/core/QtSettingsStore.h"
#include "supervisor/core/Startup.h"
#include "supervisor/ui/Frm_Main.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The message boxes' standard buttons in the operator's language.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale::system(), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtTranslator);

    auto platform = tolvane::platform::createSystemPlatform();
    // The settings live under the executable's own base name.
    const std::string application = tolvane::applicationName(platform->ownExecutablePath(),
                                                             tolvane::platform::executableSuffix());
    tolvane::QtSettingsStore settings(application);

    // The command line is read once, as one text: switches are found
    // anywhere in it.
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) commandLine += ' ';
        commandLine += argv[i];
    }

    tolvane::Frm_Main window(*platform, settings);
    window.Form_Initialize();
    window.Form_Load(commandLine);
    return app.exec();
}
