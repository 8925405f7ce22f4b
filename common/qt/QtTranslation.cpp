#include "common/qt/QtTranslation.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QString>
#include <QTranslator>

namespace tolvane {
void installQtTranslation(QCoreApplication& application) {
    // Owned by the application, so it lives as long as the texts it gives.
    auto* translator = new QTranslator(&application);
    const QLocale locale = QLocale::system();
    const QString name = QStringLiteral("qtbase");
    const QString separator = QStringLiteral("_");
    if (translator->load(locale, name, separator, QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        translator->load(locale, name, separator, QStringLiteral(":/translations")))
        application.installTranslator(translator);
    else
        delete translator;
}
}  // namespace tolvane
