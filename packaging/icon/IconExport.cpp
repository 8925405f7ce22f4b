// Build-time tool: writes Tolvane's icon, as the programs draw it, as PNG
// files for the desktop entry of the Debian package (packaging/debian/); the
// Windows side embeds tolvane.ico beside this file instead.
// Usage: tolvane_icon_export OUT_DIR
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>

#include "common/qt/AppIcon.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QIcon icon = tolvane::applicationIcon();
    const QDir out(QString::fromLocal8Bit(argv[1]));
    for (const int size : {16, 32, 48, 64}) {
        const QString dir = QStringLiteral("%1x%1/apps").arg(size);
        out.mkpath(dir);
        if (!icon.pixmap(size, size).save(out.filePath(dir + QStringLiteral("/tolvane.png")))) return 1;
    }
    return 0;
}
