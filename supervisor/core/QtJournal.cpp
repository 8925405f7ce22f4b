#include "supervisor/core/QtJournal.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cstdio>

namespace tolvane {

namespace {

QString qtext(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string text(const QString& s) { return s.toStdString(); }

JournalClock currentClock() {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    using namespace std::chrono;
    const local_days day{year{d.year()} / month{static_cast<unsigned>(d.month())} / static_cast<unsigned>(d.day())};
    return {day + hours{t.hour()} + minutes{t.minute()} + seconds{t.second()}, seconds{now.offsetFromUtc()}};
}

std::vector<std::string> journalFiles(const QString& folder) {
    std::vector<std::string> names;
    for (const QString& name : QDir(folder).entryList({QStringLiteral("*.log")}, QDir::Files)) names.push_back(text(name));
    return names;
}

// The last non-empty line of a file; only its tail is read.
std::optional<std::string> lastLineOf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    constexpr qint64 Tail = 64 * 1024;
    if (file.size() > Tail && !file.seek(file.size() - Tail)) return std::nullopt;
    QByteArray tail = file.readAll();
    while (!tail.isEmpty() && (tail.endsWith('\n') || tail.endsWith('\r'))) tail.chop(1);
    const qsizetype start = tail.lastIndexOf('\n') + 1;
    return tail.mid(start).toStdString();
}

}  // namespace

platform::LogSeverity systemLogSeverity(JournalEvent event) {
    switch (journalSeverity(event)) {
        case JournalSeverity::Error: return platform::LogSeverity::Error;
        case JournalSeverity::Warning: return platform::LogSeverity::Warning;
        case JournalSeverity::Information: break;
    }
    return platform::LogSeverity::Information;
}

std::string QtJournal::standardFolder(const std::string& application) {
    return text(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)) + "/Vantorix/" + application +
           "/journal";
}

QtJournal::QtJournal(std::string application, std::string folder)
    : m_application(std::move(application)),
      m_folder(folder.empty() ? standardFolder(m_application) : std::move(folder)) {
    clock = currentClock;
    systemLog = [this](platform::LogSeverity severity, const std::string& message) {
        return platform::sendToSystemLog(m_application, severity, message);
    };
    complain = [](const std::string& message) { std::fprintf(stderr, "%s\n", message.c_str()); };
}

void QtJournal::fileFailed(const std::string& why) {
    // Once for a run of failures, again only after the journal has worked.
    if (m_fileFailing) return;
    m_fileFailing = true;
    complain(m_application + " : le journal ne peut pas être écrit dans " + m_folder + " (" + why +
             ") ; les événements sont abandonnés tant que cela dure, la surveillance continue.");
}

bool QtJournal::appendLine(const JournalClock& at, const std::string& line) {
    const QString folder = qtext(m_folder);
    // Made again for each line: the folder may have been deleted meanwhile.
    if (!QDir().mkpath(folder)) {
        fileFailed("dossier impossible à créer");
        return false;
    }
    const auto day = std::chrono::floor<std::chrono::days>(at.local);
    QFile file(folder + QLatin1Char('/') + qtext(journalFileName(day)));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        fileFailed(text(file.errorString()));
        return false;
    }
    std::string bytes = line + "\n";
    switch (m_cap.admit(day, static_cast<std::uint64_t>(file.size()), bytes.size())) {
        case JournalDayCap::Decision::Drop: return true;
        case JournalDayCap::Decision::WriteFullNotice:
            bytes = formatJournalLine(at, {JournalEvent::DayFileFull, {}, {}}) + "\n";
            break;
        case JournalDayCap::Decision::Write: break;
    }
    const qint64 written = file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    if (written != static_cast<qint64>(bytes.size()) || !file.flush()) {
        fileFailed(text(file.errorString()));
        return false;
    }
    file.close();
    m_fileFailing = false;
    return true;
}

void QtJournal::record(const JournalEntry& entry) {
    if (isClosingEvent(entry.event) && beforeClosingLine) {
        auto before = std::move(beforeClosingLine);  // once, and never from within itself
        beforeClosingLine = nullptr;
        before();
    }
    try {
        const JournalClock at = clock();
        // Counted before merging: the tooltip counts every restart.
        if (entry.event == JournalEvent::ToolRestartedByVerification && entry.tool) m_restarts.note(*entry.tool, at.local);
        const auto merged = m_repeats.admit(entry.event, entry.tool, at.local);
        if (!merged) return;
        const std::string line = formatJournalLine(at, entry, *merged);
        appendLine(at, line);
        const auto sent = systemLog(systemLogSeverity(entry.event), std::string(systemLogPart(line)));
        if (sent == platform::SystemLogResult::Dropped && !m_systemLogFailing) {
            m_systemLogFailing = true;
            complain(m_application + " : le journal du système ne prend pas les lignes ; elles ne vont que dans " +
                     m_folder + ".");
        } else if (sent == platform::SystemLogResult::Sent) {
            m_systemLogFailing = false;
        }
    } catch (...) {
        // Out of memory: the line is lost, the supervision goes on.
    }
}

RestartsToday QtJournal::restartsToday(int tool) {
    return m_restarts.today(tool, std::chrono::floor<std::chrono::days>(clock().local));
}

void QtJournal::removeExpiredFiles() {
    const QString folder = qtext(m_folder);
    const auto today = std::chrono::floor<std::chrono::days>(clock().local);
    for (const auto& name : expiredJournalFiles(journalFiles(folder), today))
        QFile::remove(folder + QLatin1Char('/') + qtext(name));
}

void QtJournal::beginRun(const std::vector<JournalDetail>& details) {
    const QString folder = qtext(m_folder);
    if (const auto newest = newestJournalFile(journalFiles(folder))) {
        const auto last = lastLineOf(folder + QLatin1Char('/') + qtext(*newest));
        switch (last ? lastRunEnding(*last) : LastRunEnding::Unknown) {
            case LastRunEnding::Closed: break;
            case LastRunEnding::Unexpected: record({JournalEvent::LastRunEndedUnexpectedly, {}, {}}); break;
            case LastRunEnding::Unknown: record({JournalEvent::LastRunEndingUnknown, {}, {}}); break;
        }
    }
    const auto today = std::chrono::floor<std::chrono::days>(clock().local);
    QFile todays(folder + QLatin1Char('/') + qtext(journalFileName(today)));
    if (todays.open(QIODevice::ReadOnly)) {
        while (!todays.atEnd()) {
            const QByteArray line = todays.readLine();
            m_restarts.noteLine(std::string_view(line.constData(), static_cast<std::size_t>(line.size())));
        }
    }
    removeExpiredFiles();
    record({JournalEvent::TolvaneStarted, {}, details});
}

}  // namespace tolvane
