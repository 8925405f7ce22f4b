// The layout of Frm_Main, built from tables: where every control stands, in
// twips, with its caption and default value. Behaviour is wired elsewhere.
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <iterator>

#include "common/qt/AppIcon.h"
#include "supervisor/ui/Frm_Main.h"
#include "supervisor/ui/ToolCheckBox.h"
#include "supervisor/ui/TwipsPage.h"
#include "supervisor/ui/WindowFace.h"

namespace tolvane {

namespace {

// Twips of the window's client area.
constexpr int ClientWidth = 11010;
constexpr int ClientHeight = 6210;

constexpr int RowTop = 900;
constexpr int RowPitch = 360;
constexpr int BoxDrop = 60;  // check boxes and labels sit lower than fields
constexpr int ButtonHeight = 315;
constexpr int FieldHeight = 285;
constexpr int BoxHeight = 195;

struct Heading {
    const char* text;
    int left;
    int width;
};

// The headings above the columns of a tool page.
constexpr Heading Headings[] = {
    {"Démarrage Windows", 1980, 915},
    {"Tempo. en ms", 4020, 615},
    {"Arguments de la ligne de commande", 4740, 1515},
    {"Fréquence de vérification", 7320, 1020},
    {"Prochaine vérification", 8400, 900},
    {"Vérification manuelle", 9240, 1020},
    {"Mémoire en Mo", 10200, 735},
};
constexpr int HeadingTop = 420;
constexpr int HeadingHeight = 375;
// Kept clear between one heading's text and the next heading. The headings
// wrap onto the same two lines, so a gap no wider than a word space makes
// "Prochaine vérification" and "Vérification manuelle" read as one line.
constexpr int HeadingGap = 120;

// The right edge shared by the bottom buttons and the batch pages; the clock
// ends there too rather than against the window's edge.
constexpr int RightEdge = 10935;

constexpr const char* PageNames[] = {"Général", "Player", "Tools", "Batch"};
constexpr const char* DayNames[] = {"Actif", "Lundi", "Mardi", "Mercredi", "Jeudi", "Vendredi", "Samedi", "Dimanche"};

QString tr8(const char* text) { return QString::fromUtf8(text); }

QLabel* makeLabel(const char* text, bool wrap = false) {
    auto* label = new QLabel(tr8(text));
    label->setWordWrap(wrap);
    return label;
}

QComboBox* makeList() {
    // Choose-only lists: QComboBox is not editable unless asked.
    auto* list = new QComboBox;
    list->setMaxVisibleItems(12);
    return list;
}

QCheckBox* makeBox(const char* caption) { return new ToolCheckBox(tr8(caption)); }

QFont narrowFace(const QFont& font) {
    QFont narrow = font;
    narrow.setFamilies({QStringLiteral("Arial Narrow"), QStringLiteral("Liberation Sans Narrow")});
    return narrow;
}

// Width in twips a heading may fill: its own, but never up to the next one.
int headingRoom(std::size_t at) {
    const Heading& h = Headings[at];
    if (at + 1 == std::size(Headings)) return h.width;
    return std::min(h.width, Headings[at + 1].left - h.left - HeadingGap);
}

bool headingFits(std::size_t at, const QFont& font) {
    const QFontMetrics metrics(font);
    const QRect room(0, 0, headingRoom(at) / 15, HeadingHeight / 15);
    const QRect drawn =
        metrics.boundingRect(room, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, tr8(Headings[at].text));
    // A word wider than the room would be cut, and the heading's height holds
    // two lines, not three (counted in lines: the drawn height of two lines
    // can exceed it by a pixel of rounding, which costs nothing).
    return drawn.width() <= room.width() && drawn.height() < 3 * metrics.lineSpacing();
}

// A heading that does not fit its room in the window's font takes the narrow
// face, as a long tool caption does. A machine without a narrow face falls
// back to one as wide as the window's, so the size then steps down until the
// heading fits.
QFont headingFont(std::size_t at, const QFont& windowFont) {
    if (headingFits(at, windowFont)) return windowFont;
    QFont narrow = narrowFace(windowFont);
    while (!headingFits(at, narrow) && narrow.pointSizeF() > 6.0) narrow.setPointSizeF(narrow.pointSizeF() - 0.5);
    return narrow;
}

}  // namespace

void Frm_Main::buildWindow() {
    setWindowTitle(QStringLiteral("Vantorix: Tools Launcher"));
    setWindowIcon(applicationIcon());
    // A fixed single border with a minimise box and no maximise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(ClientWidth / 15, ClientHeight / 15);
    QFont font;
    const QString face = QString::fromStdString(windowFaceFamily([](std::string_view family) {
        const QString name = QString::fromUtf8(family.data(), static_cast<qsizetype>(family.size()));
        return FaceFacts{QFontDatabase::hasFamily(name), QFontDatabase::isSmoothlyScalable(name)};
    }));
    if (!face.isEmpty()) font.setFamilies({face});
    font.setPointSizeF(8.0);
    setFont(font);

    SftTabsMain = new QTabWidget(this);
    SftTabsMain->setGeometry(0, 0, 10995 / 15, 5655 / 15);
    buildToolPages();
    buildBottomRow();
    buildTimers();
}

void Frm_Main::buildToolPages() {
    std::array<TwipsPage*, 3> pages{};
    for (int p = 0; p < 3; ++p) {
        pages[static_cast<std::size_t>(p)] = new TwipsPage(SftTabsMain);
        SftTabsMain->addTab(pages[static_cast<std::size_t>(p)], tr8(PageNames[p]));
        for (std::size_t at = 0; at < std::size(Headings); ++at) {
            QLabel* heading = makeLabel(Headings[at].text, true);
            heading->setFont(headingFont(at, font()));
            pages[static_cast<std::size_t>(p)]->place(heading, Headings[at].left, HeadingTop, headingRoom(at),
                                                      HeadingHeight);
        }
    }
    auto* batchPage = new TwipsPage(SftTabsMain);
    SftTabsMain->addTab(batchPage, tr8(PageNames[3]));
    buildBatchPage(batchPage);

    for (int i = 0; i < ToolCount; ++i) {
        const ToolEntry& tool = toolTable()[static_cast<std::size_t>(i)];
        TwipsPage* page = pages[static_cast<std::size_t>(tool.page)];
        const int top = RowTop + RowPitch * tool.row;
        const auto at = static_cast<std::size_t>(i);

        auto* caption = new QLabel(QString::fromUtf8(tool.caption.data(), static_cast<qsizetype>(tool.caption.size())));
        caption->setFont(font());
        if (caption->sizeHint().width() > (1380 - 60) / 15 - 2) {
            // A long caption ("Broadcaster backup") keeps clear of the Kill
            // button in the narrow face of the same font.
            caption->setFont(narrowFace(font()));
        }
        Label[at] = page->place(caption, 60, top + BoxDrop, -1, BoxHeight);
        CommandKillProcess[at] = page->place(new QPushButton(QStringLiteral("Kill")), 1380, top, 555, ButtonHeight);
        CommandKillProcess[at]->setToolTip(tr8("Tuer la tâche"));
        CheckLaunchWindows[at] = page->place(makeBox("Lancer"), 2040, top + BoxDrop, 810, BoxHeight);
        CheckMinimiser[at] = page->place(makeBox("Minimiser"), 2880, top + BoxDrop, 1110, BoxHeight);
        TexteTemporisation[at] = page->place(new QLineEdit(QStringLiteral("10000")), 4020, top, 555, FieldHeight);
        TexteArguments[at] = page->place(new QLineEdit, 4680, top, 1575, FieldHeight);
        CheckCheck[at] = page->place(makeBox("Vérifier"), 6360, top + BoxDrop, 870, BoxHeight);
        ComboFrequenceVerification[at] = page->place(makeList(), 7320, top, 1095, ButtonHeight);
        LabelNextCheck[at] = page->place(new QLabel(QStringLiteral("00:00:00")), 8520, top + BoxDrop, 630, BoxHeight);
        CommandImportNow[at] = page->place(new QPushButton(tr8("Vérifier")), 9360, top, 735, ButtonHeight);
        TexteMemoire[at] = page->place(new QLineEdit, 10260, top, 675, FieldHeight);
        ComboFrequenceVerification[at]->setVisible(false);
        LabelNextCheck[at]->setVisible(false);
        CommandImportNow[at]->setVisible(false);
    }
}

void Frm_Main::buildBatchPage(QWidget* pageWidget) {
    auto* page = static_cast<TwipsPage*>(pageWidget);
    SftTabsBatch = page->place(new QTabWidget, 60, 360, 10875, 5235);
    auto* scheduler = new TwipsPage(SftTabsBatch);
    auto* planner = new TwipsPage(SftTabsBatch);
    SftTabsBatch->addTab(scheduler, QStringLiteral("Scheduler"));
    SftTabsBatch->addTab(planner, QStringLiteral("Planner"));
    buildSchedulerPage(scheduler);
    buildPlannerPage(planner);
}

namespace {

// The day boxes, the separator, "J+" and the start time are common to both
// batch pages.
template <std::size_t N>
void placeDaysAndTiming(TwipsPage* page, std::array<QCheckBox*, 8>& days, QFrame*& picture,
                        std::array<QLabel*, N>& labels, QComboBox*& dayOffset, std::array<QComboBox*, 2>& timing) {
    days[0] = page->place(makeBox(DayNames[0]), 120, 480, 1200, BoxHeight);
    for (int n = 1; n <= 7; ++n)
        days[static_cast<std::size_t>(n)] =
            page->place(makeBox(DayNames[n]), 300, 780 + 300 * (n - 1), 1400, BoxHeight);
    picture = page->place(new QFrame, 1920, 840, 15, 1995);
    picture->setAutoFillBackground(true);
    labels[3] = page->place(makeLabel("J+"), 2760, 480, 180, BoxHeight);
    dayOffset = page->place(makeList(), 2940, 420, 735, ButtonHeight);
    labels[0] = page->place(makeLabel("Timing"), 2400, 1680, 540, BoxHeight);
    timing[0] = page->place(makeList(), 2940, 1620, 855, ButtonHeight);
    timing[1] = page->place(makeList(), 3840, 1620, 735, ButtonHeight);
}

QGroupBox* placeFrame(TwipsPage* page, QLabel*& nextLabel) {
    auto* frame = page->place(new QGroupBox(QStringLiteral("Timing prochain Batch")), 180, 4500, 3195, 615);
    nextLabel = new QLabel(QStringLiteral("..."), frame);
    nextLabel->setGeometry(8, 18, 3195 / 15 - 16, BoxHeight / 15 + 2);
    return frame;
}

}  // namespace

void Frm_Main::buildSchedulerPage(QWidget* pageWidget) {
    auto* page = static_cast<TwipsPage*>(pageWidget);
    placeDaysAndTiming(page, CheckSchedulerJour, PictureScheduler, LabelScheduler, ComboSchedulerJ,
                       ComboSchedulerTiming);
    CheckSchedulerReprogrammer = page->place(makeBox("Reprogrammer"), 4140, 480, 1800, BoxHeight);
    CheckSchedulerOptDuree = page->place(makeBox("Optimisation des durées"), 4140, 960, 2200, BoxHeight);
    LabelScheduler[1] = page->place(makeLabel("N° de station"), 6480, 480, 1300, BoxHeight);
    ComboSchedulerNoStation = page->place(makeList(), 7860, 420, 855, ButtonHeight);
    LabelScheduler[4] = page->place(makeLabel("Heure de début"), 6480, 960, 1300, BoxHeight);
    ComboSchedulerHeure[0] = page->place(makeList(), 7860, 900, 855, ButtonHeight);
    LabelScheduler[5] = page->place(makeLabel("Heure de fin"), 6480, 1320, 1300, BoxHeight);
    ComboSchedulerHeure[1] = page->place(makeList(), 7860, 1260, 855, ButtonHeight);
    CommandSchedulerTest =
        page->place(new QPushButton(QStringLiteral("Tester maintenant")), 9180, 420, 1500, ButtonHeight);
    FrameScheduler = placeFrame(page, LabelScheduler[2]);
}

void Frm_Main::buildPlannerPage(QWidget* pageWidget) {
    auto* page = static_cast<TwipsPage*>(pageWidget);
    placeDaysAndTiming(page, CheckPlannerJour, PicturePlanner, LabelPlanner, ComboPlannerJ, ComboPlannerTiming);
    CheckPlannerReplanifier = page->place(makeBox("Replanifier"), 4140, 480, 1500, BoxHeight);
    LabelPlanner[1] = page->place(makeLabel("Nombre de jours à planifier"), 5700, 480, 2100, BoxHeight);
    ComboPlannerNbJour = page->place(makeList(), 7860, 420, 855, ButtonHeight);
    CommandPlannerTest =
        page->place(new QPushButton(QStringLiteral("Tester maintenant")), 9180, 420, 1500, ButtonHeight);
    FramePlanner = placeFrame(page, LabelPlanner[2]);
}

void Frm_Main::buildBottomRow() {
    LabelAffichageMemory = new QLabel(QStringLiteral("0000"), this);
    LabelAffichageMemory->setGeometry(120 / 15, 5760 / 15, 735 / 15, 375 / 15);
    LabelAffichageMemory->setToolTip(tr8("Mémoire occupée par le programme (en Mo)"));
    QFont narrow;
    narrow.setFamilies({QStringLiteral("Arial Narrow"), QStringLiteral("Liberation Sans Narrow")});
    narrow.setPointSizeF(15.75);
    LabelAffichageMemory->setFont(narrow);

    CommandVeille = new QPushButton(QStringLiteral("Mettre en veille"), this);
    CommandVeille->setGeometry(8280 / 15, 5760 / 15, 1275 / 15, 375 / 15);
    CommandQuitter = new QPushButton(QStringLiteral("Quitter..."), this);
    CommandQuitter->setGeometry(9660 / 15, 5760 / 15, 1275 / 15, 375 / 15);

    // The clock stands right of the tab captions, level with them: as tall
    // as the tab strip down to the page frame, which it must not overlap, and
    // wide enough for its widest reading, ending where the buttons end.
    LabelTiming = new QLabel(QStringLiteral("00:00:00"), this);
    LabelTiming->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont rounded;
    rounded.setFamilies({QStringLiteral("Arial Rounded MT Bold"), QStringLiteral("Liberation Sans")});
    rounded.setBold(true);
    rounded.setPointSizeF(15.75);
    LabelTiming->setFont(rounded);
    const QFontMetrics metrics(rounded);
    int digit = 0;
    for (char d = '0'; d <= '9'; ++d) digit = std::max(digit, metrics.horizontalAdvance(QLatin1Char(d)));
    const int width = std::max(1290 / 15, 6 * digit + 2 * metrics.horizontalAdvance(QLatin1Char(':')) + 2);
    const int stripHeight = SftTabsMain->tabBar()->sizeHint().height() -
                            SftTabsMain->style()->pixelMetric(QStyle::PM_TabBarBaseOverlap, nullptr, SftTabsMain);
    LabelTiming->setGeometry(RightEdge / 15 - width, SftTabsMain->y(), width, stripHeight);
    LabelTiming->raise();
}

void Frm_Main::buildTimers() {
    const auto make = [this](int interval) {
        auto* timer = new QTimer(this);
        timer->setInterval(interval);
        timer->setTimerType(Qt::CoarseTimer);
        return timer;
    };
    TimerLaunch = make(100);
    TimerCheck = make(250);
    TimerMemoire = make(15000);
    Timer30s = make(30000);
    // The launch ticks decide start times to the tenth of a second.
    TimerLaunch->setTimerType(Qt::PreciseTimer);
}

}  // namespace tolvane
