// The floor Tolvane's idle cost is read against: the least a Qt Widgets
// program on X11 costs when it wakes up as often as Tolvane's clock does and
// then does nothing. One minimised label, as Tolvane's window is minimised
// after loading, and one empty 250 ms timer (the clock's interval, with Qt's
// default timer type, as Tolvane's timers have). Whatever Tolvane uses above
// this is its own work and its own extra wake-ups, not the toolkit's.
//
// Usage: bench_floor (on the X server named by DISPLAY; runs until killed)
#include <QApplication>
#include <QLabel>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("bench_floor"));
    label.showMinimized();
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [] {});
    timer.start(250);
    return QApplication::exec();
}
