#pragma once
#include <QCoreApplication>

namespace tolvane {
// Installs Qt's own translation for the system's language on the
// application, so the standard buttons of the message boxes read "Oui" and
// "Non" on a French system. Linux takes it from the system's Qt; the Windows
// programs carry it inside themselves, since they are copied into a folder
// without Qt beside them.
void installQtTranslation(QCoreApplication& application);
}  // namespace tolvane
