#include "journal/JournalFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStorageInfo>

#include <algorithm>
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
    for (const QString& name : QDir(folder).entryList({QStringLiteral("*.log")}, QDir::Files))
        names.push_back(text(name));
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

std::string JournalFiles::standardFolder(const std::string& application) {
    return text(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)) + "/Vantorix/" + application +
           "/journal";
}

JournalFiles::JournalFiles(std::string application, std::string folder)
    : m_application(std::move(application)),
      m_folder(folder.empty() ? standardFolder(m_application) : std::move(folder)) {
    clock = currentClock;
    systemLog = [this](platform::LogSeverity severity, const std::string& message) {
        return platform::sendToSystemLog(m_application, severity, message);
    };
    complain = [](const std::string& message) { std::fprintf(stderr, "%s\n", message.c_str()); };
}

void JournalFiles::fileFailed(const std::string& why) {
    // Once for a run of failures, again only after the journal has worked.
    ++m_linesLost;
    if (m_fileFailing) return;
    m_fileFailing = true;
    m_linesLost = 1;
    alert({JournalEvent::JournalFileUnwritable, {}, {{"dossier", m_folder}, {"raison", why}}},
          m_application + " : le journal ne peut pas être écrit dans " + m_folder + " (" + why +
              ") ; les événements sont abandonnés tant que cela dure, la surveillance continue.");
}

void JournalFiles::alert(const JournalEntry& entry, const std::string& complaint) {
    if (std::find(m_alerted.begin(), m_alerted.end(), entry.event) != m_alerted.end()) return;
    try {
        m_alerted.push_back(entry.event);
        complain(complaint);
        sendToSystemLog(entry.event, formatJournalLine(clock(), entry));
    } catch (...) {
        // Out of memory: said nowhere, the supervision goes on.
    }
}

void JournalFiles::rearmAlert(JournalEvent event) {
    m_alerted.erase(std::remove(m_alerted.begin(), m_alerted.end(), event), m_alerted.end());
}

bool JournalFiles::appendLine(const JournalClock& at, const std::string& line) {
    const QString folder = qtext(m_folder);
    // Made again for each line: the folder may have been deleted meanwhile.
    if (!QDir().mkpath(folder)) {
        fileFailed("dossier impossible à créer");
        return false;
    }
    const auto day = std::chrono::floor<std::chrono::days>(at.local);
    const QString path = folder + QLatin1Char('/') + qtext(journalFileName(day));
    // A power failure while appending may have left the file without its
    // last line end: the next line must not be glued onto the fragment.
    bool needsLineEnd = false;
    {
        QFile probe(path);
        char last = '\n';
        needsLineEnd = probe.open(QIODevice::ReadOnly) && probe.size() > 0 && probe.seek(probe.size() - 1) &&
                       probe.getChar(&last) && last != '\n';
    }
    // Unbuffered: what write() reports is what reached the file, so a line
    // that went only in part can be taken back.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        fileFailed(text(file.errorString()));
        return false;
    }
    const qint64 before = file.size();
    std::string recovery;
    if (m_fileFailing)
        recovery =
            formatJournalLine(
                at, {JournalEvent::JournalFileWritableAgain, {}, {{"lignes perdues", std::to_string(m_linesLost)}}}) +
            "\n";
    std::string bytes = recovery + line + "\n";
    switch (m_cap.admit(day, static_cast<std::uint64_t>(before), bytes.size())) {
        case JournalDayCap::Decision::Drop: return true;
        case JournalDayCap::Decision::WriteFullNotice:
            recovery.clear();
            bytes = formatJournalLine(at, {JournalEvent::DayFileFull, {}, {}}) + "\n";
            break;
        case JournalDayCap::Decision::Write: break;
    }
    if (needsLineEnd) bytes = '\n' + bytes;
    qint64 written = 0;
    const auto size = static_cast<qint64>(bytes.size());
    while (written < size) {
        // After a short write the rest is tried: a short count carries no
        // error, the write that fails then says why (a full disk).
        const qint64 now = file.write(bytes.data() + written, size - written);
        if (now <= 0) break;
        written += now;
    }
    if (written != size) {
        std::string why = text(file.errorString());
        const qint64 available = QStorageInfo(folder).bytesAvailable();
        if (file.error() == QFileDevice::ResourceError || (available >= 0 && available < size - written))
            why = "disque plein, " + why;
        // Taken back: a line is in the file whole or not at all.
        if (written > 0) file.resize(before);
        file.close();
        fileFailed(why);
        return false;
    }
    file.close();
    if (m_fileFailing) {
        m_fileFailing = false;
        m_linesLost = 0;
        rearmAlert(JournalEvent::JournalFileUnwritable);
        if (!recovery.empty()) {
            recovery.pop_back();
            sendToSystemLog(JournalEvent::JournalFileWritableAgain, recovery);
        }
    }
    return true;
}

void JournalFiles::sendToSystemLog(JournalEvent event, const std::string& line) {
    const auto sent = systemLog(systemLogSeverity(event), std::string(systemLogPart(line)));
    if (sent == platform::SystemLogResult::Dropped && !m_systemLogFailing) {
        m_systemLogFailing = true;
        complain(m_application + " : le journal du système ne prend pas les lignes ; elles ne vont que dans " +
                 m_folder + ".");
    } else if (sent == platform::SystemLogResult::Sent) {
        m_systemLogFailing = false;
    }
}

void JournalFiles::writeLine(const JournalClock& at, const JournalEntry& entry, int merged) {
    const std::string line = formatJournalLine(at, entry, merged);
    appendLine(at, line);
    sendToSystemLog(entry.event, line);
}

void JournalFiles::record(const JournalEntry& entry) {
    if (isClosingEvent(entry.event) && beforeClosingLine) {
        auto before = std::move(beforeClosingLine);  // once, and never from within itself
        beforeClosingLine = nullptr;
        before();
    }
    try {
        const JournalClock at = clock();
        // Counted before merging: the tooltip counts every restart.
        if (isRestartEvent(entry.event) && entry.tool) m_restarts.note(*entry.tool, at.local);
        // The run ends: what looped in its last minute is written before
        // the closing line, so the next run's tally is whole.
        if (isClosingEvent(entry.event))
            for (const auto& pending : m_repeats.takePending()) writeLine(pending.at, pending.entry, pending.merged);
        const auto merged = m_repeats.admit(entry, at);
        if (!merged) return;
        writeLine(at, entry, *merged);
    } catch (...) {
        // Out of memory: the line is lost, the supervision goes on.
    }
}

void JournalFiles::fold(const JournalEntry& entry) {
    try {
        if (isRestartEvent(entry.event) && entry.tool) m_restarts.note(*entry.tool, clock().local);
    } catch (...) {
        // Only the tooltip's count is lost.
    }
}

RestartsToday JournalFiles::restartsToday(int tool) {
    return m_restarts.today(tool, std::chrono::floor<std::chrono::days>(clock().local));
}

void JournalFiles::removeExpiredFiles() {
    const QString folder = qtext(m_folder);
    const auto today = std::chrono::floor<std::chrono::days>(clock().local);
    for (const auto& name : expiredJournalFiles(journalFiles(folder), today))
        QFile::remove(folder + QLatin1Char('/') + qtext(name));
}

void JournalFiles::beginRun(const std::vector<JournalDetail>& details) {
    const QString folder = qtext(m_folder);
    std::optional<LastRunEnding> ending;
    try {
        if (const auto newest = newestJournalFile(journalFiles(folder))) {
            const auto last = lastLineOf(folder + QLatin1Char('/') + qtext(*newest));
            ending = last ? lastRunEnding(*last) : LastRunEnding::Unknown;
        }
    } catch (...) {
        ending = LastRunEnding::Unknown;
    }
    if (ending == LastRunEnding::Unexpected) record({JournalEvent::LastRunEndedUnexpectedly, {}, {}});
    if (ending == LastRunEnding::Unknown) record({JournalEvent::LastRunEndingUnknown, {}, {}});
    try {
        readToday();
    } catch (...) {
        // Only the tooltip's count is lost: the station is supervised all
        // the same.
        m_restarts = RestartTally{};
    }
    removeExpiredFiles();
    record({JournalEvent::TolvaneStarted, {}, details});
}

void JournalFiles::readToday() {
    const auto today = std::chrono::floor<std::chrono::days>(clock().local);
    QFile todays(qtext(m_folder) + QLatin1Char('/') + qtext(journalFileName(today)));
    if (!todays.open(QIODevice::ReadOnly)) return;
    while (!todays.atEnd()) {
        const QByteArray line = todays.readLine();
        m_restarts.noteLine(std::string_view(line.constData(), static_cast<std::size_t>(line.size())));
    }
}

}  // namespace tolvane
