#include "journal/Journal.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>
#include <utility>

#include "supervisor/core/ToolTable.h"

namespace tolvane {

using namespace std::chrono;

JournalSeverity journalSeverity(JournalEvent event) {
    switch (event) {
        // A tool that had gone is the news of the night; a second Tolvane,
        // a display that stopped answering or a run that did not close are
        // worth a look, not an alarm.
        case JournalEvent::ToolRestartedByVerification:
        case JournalEvent::ToolRestartedAfterEnd:
        case JournalEvent::ToolEnded:
        case JournalEvent::ToolLoopBegan:
        case JournalEvent::ToolLoopLasts:
        case JournalEvent::ToolFrozen:
        case JournalEvent::ToolKilledFrozen:
        case JournalEvent::SettingNotUnderstood:
        case JournalEvent::PolicyValueNotUnderstood:
        case JournalEvent::LastRunEndedUnexpectedly:
        case JournalEvent::LastRunEndingUnknown:
        case JournalEvent::DisplayNotAnswering:
        case JournalEvent::NotificationAreaGone:
        case JournalEvent::DayFileFull:
        case JournalEvent::SecondTolvaneTurnedAway:
        case JournalEvent::SupervisingWithoutLock:
        case JournalEvent::MetricsFileUnwritable: return JournalSeverity::Warning;
        case JournalEvent::StartedInServicesSession:
        case JournalEvent::ToolStartRefused:
        case JournalEvent::RestarterStartRefused:
        case JournalEvent::RestarterTolvaneRefused:
        case JournalEvent::SettingsNotWritten:
        case JournalEvent::SettingsUnreadable:
        case JournalEvent::JournalFileUnwritable: return JournalSeverity::Error;
        default: return JournalSeverity::Information;
    }
}

std::string_view journalText(JournalEvent event) {
    switch (event) {
        case JournalEvent::TolvaneStarted: return "Tolvane démarré";
        case JournalEvent::EndedByOperator: return "Tolvane arrêté par l'opérateur";
        case JournalEvent::EndedForDailyRestart:
            return "Tolvane arrêté pour le redémarrage quotidien, relais confié à Krandel";
        case JournalEvent::EndedBySignal: return "Tolvane arrêté à la demande du système";
        case JournalEvent::EndedWithSession: return "Tolvane arrêté avec la fin de la session";
        case JournalEvent::LastRunEndedUnexpectedly:
            return "La précédente exécution de Tolvane s'est terminée de façon inattendue";
        case JournalEvent::LastRunEndingUnknown: return "La fin de la précédente exécution de Tolvane n'est pas connue";
        case JournalEvent::SecondTolvaneTurnedAway: return "Un second Tolvane a été refusé : un Tolvane tourne déjà";
        case JournalEvent::SupervisingWithoutLock:
            return "Aucun verrou n'a pu être pris : Tolvane surveille quand même, un second Tolvane surveillerait aussi";
        case JournalEvent::TolvaneInOtherSession:
            return "Un Tolvane de ce programme surveille déjà dans une autre session Windows : celui-ci s'arrête";
        case JournalEvent::StartedInServicesSession:
            return "Tolvane ne supervise pas : démarré dans la session 0 des services, il ne verrait aucune fenêtre des outils";
        case JournalEvent::ToolStartedByLaunchSequence: return "Démarré par la séquence de lancement";
        case JournalEvent::ToolStartedByCheckButton: return "Démarré par le bouton « Vérifier »";
        case JournalEvent::ToolStartedByBatch: return "Démarré en batch";
        case JournalEvent::ToolRestartedByVerification: return "Relancé : la vérification n'a trouvé aucune fenêtre";
        case JournalEvent::ToolRestartedAfterEnd: return "Relancé : son processus s'est arrêté";
        case JournalEvent::ToolStartRefused: return "Démarrage refusé par le système";
        case JournalEvent::ToolKilled: return "Arrêt forcé par le bouton « Kill »";
        case JournalEvent::ToolEnded: return "Arrêté : son dernier processus s'est terminé";
        case JournalEvent::ToolEndedByKill:
            return "Arrêté par le bouton « Kill » : son dernier processus s'est terminé";
        case JournalEvent::ToolLoopBegan:
            return "Redémarre en boucle : ses relances et ses arrêts ne sont plus écrits un à un, une ligne par heure "
                   "les compte";
        case JournalEvent::ToolLoopLasts: return "Redémarre toujours en boucle";
        case JournalEvent::ToolLoopOver: return "Ne redémarre plus en boucle";
        case JournalEvent::ToolFrozen: return "Ne répond plus : sa fenêtre ne traite plus ses messages";
        case JournalEvent::ToolAnswersAgain: return "Répond de nouveau";
        case JournalEvent::ToolKilledFrozen:
            return "Arrêt forcé : il ne répondait plus depuis la durée choisie, il va être relancé";
        case JournalEvent::RestarterStartRefused:
            return "Krandel n'a pas pu être démarré : pas de redémarrage quotidien aujourd'hui";
        case JournalEvent::DisplayNotAnswering:
            return "L'affichage ne répond plus : aucun outil n'est démarré tant qu'il ne répond pas";
        case JournalEvent::DisplayAnsweringAgain: return "L'affichage répond de nouveau";
        case JournalEvent::NotificationAreaGone:
            return "La zone de notification a disparu : une fenêtre cachée par la veille est réduite à la place";
        case JournalEvent::NotificationAreaBack: return "La zone de notification est de nouveau là";
        case JournalEvent::RestarterWaiting: return "Krandel attend que l'ancien Tolvane se soit arrêté";
        case JournalEvent::RestarterStartedTolvane: return "Krandel a démarré Tolvane";
        case JournalEvent::RestarterTolvaneRefused: return "Krandel n'a pas pu démarrer Tolvane";
        case JournalEvent::ToolChoiceChanged: return "Réglage de l'outil modifié";
        case JournalEvent::BatchChoiceChanged: return "Réglage de page batch modifié";
        case JournalEvent::ToolTextChanged: return "Texte de l'outil modifié";
        case JournalEvent::SettingsNotWritten:
            return "Les réglages n'ont pas pu être enregistrés : les modifications sont gardées et seront enregistrées dès que le stockage les acceptera, perdues si Tolvane s'arrête avant";
        case JournalEvent::SettingsWrittenAgain:
            return "Les réglages sont de nouveau enregistrés, les modifications gardées comprises";
        case JournalEvent::SettingsUnreadable:
            return "Les réglages n'ont pas pu être lus : la fenêtre montre les valeurs par défaut";
        case JournalEvent::SettingNotUnderstood: return "Réglage non compris : lu comme « jamais », laissé tel quel";
        case JournalEvent::PolicyValueNotUnderstood:
            return "Valeur imposée par l'administrateur non comprise : la valeur par défaut est montrée, le réglage reste imposé";
        case JournalEvent::DayFileFull:
            return "Journal du jour plein : les lignes suivantes sont abandonnées jusqu'à minuit";
        case JournalEvent::JournalFileUnwritable:
            return "Le fichier du journal ne peut pas être écrit : les lignes ne vont qu'au journal du système tant que cela dure";
        case JournalEvent::JournalFileWritableAgain: return "Le fichier du journal peut de nouveau être écrit";
        case JournalEvent::MetricsFileUnwritable:
            return "Le fichier des mesures ne peut pas être écrit : les mesures sont abandonnées tant que cela dure";
        case JournalEvent::MetricsFileWritableAgain: return "Le fichier des mesures peut de nouveau être écrit";
    }
    return "Événement";
}

std::string_view startRequestText(JournalEvent startEvent) {
    switch (startEvent) {
        case JournalEvent::ToolStartedByLaunchSequence: return "séquence de lancement";
        case JournalEvent::ToolStartedByCheckButton: return "bouton « Vérifier »";
        case JournalEvent::ToolRestartedByVerification: return "vérification (aucune fenêtre)";
        case JournalEvent::ToolRestartedAfterEnd: return "vérification après un arrêt";
        default: return "batch";
    }
}

const std::vector<JournalEvent>& allJournalEvents() {
    using E = JournalEvent;
    static const std::vector<JournalEvent> events{E::TolvaneStarted,
                                                  E::EndedByOperator,
                                                  E::EndedForDailyRestart,
                                                  E::EndedBySignal,
                                                  E::EndedWithSession,
                                                  E::LastRunEndedUnexpectedly,
                                                  E::LastRunEndingUnknown,
                                                  E::SecondTolvaneTurnedAway,
                                                  E::SupervisingWithoutLock,
                                                  E::TolvaneInOtherSession,
                                                  E::StartedInServicesSession,
                                                  E::ToolStartedByLaunchSequence,
                                                  E::ToolStartedByCheckButton,
                                                  E::ToolStartedByBatch,
                                                  E::ToolRestartedByVerification,
                                                  E::ToolRestartedAfterEnd,
                                                  E::ToolStartRefused,
                                                  E::ToolKilled,
                                                  E::ToolEnded,
                                                  E::ToolEndedByKill,
                                                  E::ToolLoopBegan,
                                                  E::ToolLoopLasts,
                                                  E::ToolLoopOver,
                                                  E::ToolFrozen,
                                                  E::ToolAnswersAgain,
                                                  E::ToolKilledFrozen,
                                                  E::RestarterStartRefused,
                                                  E::RestarterWaiting,
                                                  E::RestarterStartedTolvane,
                                                  E::RestarterTolvaneRefused,
                                                  E::DisplayNotAnswering,
                                                  E::DisplayAnsweringAgain,
                                                  E::NotificationAreaGone,
                                                  E::NotificationAreaBack,
                                                  E::ToolChoiceChanged,
                                                  E::BatchChoiceChanged,
                                                  E::ToolTextChanged,
                                                  E::SettingsNotWritten,
                                                  E::SettingsWrittenAgain,
                                                  E::SettingsUnreadable,
                                                  E::SettingNotUnderstood,
                                                  E::PolicyValueNotUnderstood,
                                                  E::DayFileFull,
                                                  E::JournalFileUnwritable,
                                                  E::JournalFileWritableAgain,
                                                  E::MetricsFileUnwritable,
                                                  E::MetricsFileWritableAgain};
    return events;
}

bool isMergedWhenRepeated(JournalEvent event) {
    switch (event) {
        case JournalEvent::ToolChoiceChanged:
        case JournalEvent::BatchChoiceChanged:
        case JournalEvent::ToolTextChanged:
        case JournalEvent::RestarterWaiting:
        case JournalEvent::RestarterStartedTolvane:
        case JournalEvent::RestarterTolvaneRefused:
        // Changes of state: merged, a second outage within a minute would
        // leave "answers again" as the last word while nothing answers.
        case JournalEvent::DisplayNotAnswering:
        case JournalEvent::DisplayAnsweringAgain:
        case JournalEvent::NotificationAreaGone:
        case JournalEvent::NotificationAreaBack:
        case JournalEvent::ToolLoopBegan:
        case JournalEvent::ToolLoopOver:
        case JournalEvent::ToolFrozen:
        case JournalEvent::ToolAnswersAgain:
        case JournalEvent::ToolKilledFrozen:
        case JournalEvent::SettingNotUnderstood:
        case JournalEvent::PolicyValueNotUnderstood:
        case JournalEvent::SettingsNotWritten:
        case JournalEvent::SettingsWrittenAgain:
        case JournalEvent::SettingsUnreadable:
        case JournalEvent::JournalFileUnwritable:
        case JournalEvent::JournalFileWritableAgain:
        case JournalEvent::MetricsFileUnwritable:
        case JournalEvent::MetricsFileWritableAgain: return false;
        default: return true;
    }
}

bool isRestartEvent(JournalEvent event) {
    return event == JournalEvent::ToolRestartedByVerification || event == JournalEvent::ToolRestartedAfterEnd;
}

bool isClosingEvent(JournalEvent event) {
    return event == JournalEvent::EndedByOperator || event == JournalEvent::EndedForDailyRestart ||
           event == JournalEvent::EndedBySignal || event == JournalEvent::EndedWithSession;
}

namespace {

// Length of the valid UTF-8 sequence at the start of `s`, 0 when the first
// byte does not start one (overlong forms, surrogates and code points past
// U+10FFFF are not valid).
std::size_t utf8SequenceLength(std::string_view s, char32_t& codePoint) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = b(0);
    std::size_t length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, cp = lead & 0x1Fu, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, cp = lead & 0x0Fu, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, cp = lead & 0x07u, minimum = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((b(i) & 0xC0u) != 0x80u) return 0;
        cp = (cp << 6) | (b(i) & 0x3Fu);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    codePoint = cp;
    return length;
}

void appendHexByte(std::string& out, unsigned char byte) {
    static constexpr char digits[] = "0123456789ABCDEF";
    out += "\\x";
    out += digits[byte >> 4];
    out += digits[byte & 0x0F];
}

bool breaksOrControls(char32_t cp) {
    return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029;
}

std::string twoDigits(unsigned value) {
    char buf[3];
    std::snprintf(buf, sizeof buf, "%02u", value % 100u);
    return buf;
}

}  // namespace

std::string escapeJournalText(std::string_view text, std::size_t limit) {
    const std::size_t whole = text.size();
    std::string out;
    out.reserve(std::min(whole, limit));
    std::string piece;
    while (!text.empty()) {
        char32_t cp = 0;
        const std::size_t length = utf8SequenceLength(text, cp);
        piece.clear();
        if (length == 0) {
            appendHexByte(piece, static_cast<unsigned char>(text.front()));
        } else if (cp == '\\') {
            piece = "\\\\";
        } else if (cp == '|') {
            piece = "\\|";
        } else if (cp == '\n') {
            piece = "\\n";
        } else if (cp == '\t') {
            piece = "\\t";
        } else if (cp == '\r') {
            piece = "\\r";
        } else if (breaksOrControls(cp)) {
            for (std::size_t i = 0; i < length; ++i) appendHexByte(piece, static_cast<unsigned char>(text[i]));
        } else {
            piece.assign(text.substr(0, length));
        }
        if (piece.size() > limit - std::min(limit, out.size())) {
            out += " [...] (tronqué, " + std::to_string(whole) + " octets en tout)";
            return out;
        }
        out += piece;
        text.remove_prefix(length == 0 ? 1 : length);
    }
    return out;
}

std::string unescapeJournalText(std::string_view escaped) {
    std::string out;
    out.reserve(escaped.size());
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        const char c = escaped[i];
        if (c != '\\' || i + 1 == escaped.size()) {
            out += c;
            continue;
        }
        const char e = escaped[++i];
        switch (e) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'x':
                if (i + 2 < escaped.size() && hex(escaped[i + 1]) >= 0 && hex(escaped[i + 2]) >= 0) {
                    out += static_cast<char>(hex(escaped[i + 1]) * 16 + hex(escaped[i + 2]));
                    i += 2;
                } else {
                    out += "\\x";
                }
                break;
            default: out += e; break;  // "\\", "\\|"
        }
    }
    return out;
}

std::optional<std::vector<JournalDetail>> journalLineDetails(std::string_view line) {
    // The details start at the first " | " after the tool's brackets: the
    // event's text and the merged count never hold one, and inside a detail
    // every "|" is escaped.
    const auto close = line.find("] ");
    if (systemLogPart(line).size() == line.size() || close == std::string_view::npos) return std::nullopt;
    std::vector<JournalDetail> details;
    auto at = line.find(" | ", close);
    while (at != std::string_view::npos) {
        std::size_t end = at + 3;
        while (end < line.size() && line.compare(end, 3, " | ") != 0) end += line[end] == '\\' ? 2 : 1;
        const std::string_view field = line.substr(at + 3, std::min(end, line.size()) - (at + 3));
        const auto colon = field.find(" : ");
        if (colon == std::string_view::npos) return std::nullopt;
        details.push_back({unescapeJournalText(field.substr(0, colon)), unescapeJournalText(field.substr(colon + 3))});
        at = end < line.size() ? end : std::string_view::npos;
    }
    return details;
}

std::string formatJournalInstant(const JournalClock& clock) {
    const auto day = floor<days>(clock.local);
    const year_month_day date{day};
    const hh_mm_ss time{clock.local - day};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02d:%02d:%02d ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    const auto offsetMinutes = duration_cast<minutes>(clock.utcOffset).count();
    const auto magnitude = static_cast<unsigned>(offsetMinutes < 0 ? -offsetMinutes : offsetMinutes);
    return buf + std::string(offsetMinutes < 0 ? "-" : "+") + twoDigits(magnitude / 60) + twoDigits(magnitude % 60);
}

std::string formatJournalLine(const JournalClock& clock, const JournalEntry& entry, int merged) {
    std::string line = formatJournalInstant(clock);
    line += ' ';
    line += std::to_string(static_cast<int>(entry.event));
    line += " [";
    const auto name = entry.tool ? toolBaseName(*entry.tool) : std::nullopt;
    if (name) {
        line += std::to_string(*entry.tool);
        line += ' ';
        line += *name;
    } else {
        line += '-';
    }
    line += "] ";
    line += journalText(entry.event);
    if (merged > 0) line += " (répété " + std::to_string(merged) + " fois depuis la ligne précédente)";
    for (const auto& detail : entry.details) {
        line += " | ";
        line += escapeJournalText(detail.label, JournalDetailLimit);
        line += " : ";
        line += escapeJournalText(detail.value, JournalDetailLimit);
    }
    return line;
}

std::string_view systemLogPart(std::string_view line) {
    // Date, time and offset are the first three blank-separated fields.
    std::size_t at = 0;
    for (int field = 0; field < 3; ++field) {
        at = line.find(' ', at);
        if (at == std::string_view::npos) return line;
        ++at;
    }
    return line.substr(at);
}

std::optional<int> JournalRepeats::admit(const JournalEntry& entry, const JournalClock& at) {
    if (!isMergedWhenRepeated(entry.event)) return 0;
    auto [it, first] = m_runs.try_emplace({static_cast<int>(entry.event), entry.tool.value_or(-1)});
    Run& run = it->second;
    // A clock set back is no repeat: the line is written, so the journal
    // never goes quiet for the length of the jump.
    if (!first && at.local >= run.written && at.local - run.written < minutes{1}) {
        ++run.merged;
        run.last = entry;
        run.lastAt = at;
        return std::nullopt;
    }
    const int merged = first ? 0 : run.merged;
    run.written = at.local;
    run.merged = 0;
    return merged;
}

std::vector<JournalRepeats::Pending> JournalRepeats::takePending() {
    std::vector<Pending> pending;
    for (auto& [key, run] : m_runs) {
        if (run.merged == 0) continue;
        // The last repeat is the line; the ones before it are merged into it.
        pending.push_back({run.last, run.lastAt, run.merged - 1});
        run.written = run.lastAt.local;
        run.merged = 0;
    }
    std::stable_sort(pending.begin(), pending.end(),
                     [](const Pending& a, const Pending& b) { return a.at.local < b.at.local; });
    return pending;
}

JournalDayCap::Decision JournalDayCap::admit(local_days day, std::uint64_t fileSize, std::uint64_t lineSize) {
    if (m_fullDay == day) return Decision::Drop;
    // A file found at or past the cap was filled by an earlier run of the
    // day, whose notice is in it already.
    if (fileSize >= m_cap) {
        m_fullDay = day;
        return Decision::Drop;
    }
    if (fileSize + lineSize > m_cap) {
        m_fullDay = day;
        return Decision::WriteFullNotice;
    }
    return Decision::Write;
}

std::string journalFileName(local_days day) {
    const year_month_day date{day};
    char buf[24];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u.log", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return buf;
}

std::optional<local_days> journalFileDay(std::string_view name) {
    // Exactly "YYYY-MM-DD.log" and a real date.
    if (name.size() != 14 || name.substr(10) != ".log" || name[4] != '-' || name[7] != '-') return std::nullopt;
    const auto number = [&](std::size_t at, std::size_t length) -> std::optional<int> {
        int value = 0;
        const char* first = name.data() + at;
        const auto [ptr, ec] = std::from_chars(first, first + length, value);
        if (ec != std::errc{} || ptr != first + length ||
            !std::all_of(first, first + length, [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        return value;
    };
    const auto y = number(0, 4), m = number(5, 2), d = number(8, 2);
    if (!y || !m || !d) return std::nullopt;
    const year_month_day date{year{*y}, month{static_cast<unsigned>(*m)}, day{static_cast<unsigned>(*d)}};
    if (!date.ok()) return std::nullopt;
    return local_days{date};
}

std::vector<std::string> expiredJournalFiles(const std::vector<std::string>& fileNames, local_days today) {
    std::vector<std::string> expired;
    for (const auto& name : fileNames)
        if (const auto day = journalFileDay(name); day && *day < today - days{31}) expired.push_back(name);
    return expired;
}

std::optional<std::string> newestJournalFile(const std::vector<std::string>& fileNames) {
    std::optional<std::string> newest;
    std::optional<local_days> newestDay;
    for (const auto& name : fileNames) {
        const auto day = journalFileDay(name);
        if (day && (!newestDay || *day > *newestDay)) newestDay = day, newest = name;
    }
    return newest;
}

LastRunEnding lastRunEnding(std::string_view lastLine) {
    // The event number is the fourth field. A day's file that filled up may
    // have dropped the closing line: that run's end is not known.
    const auto rest = systemLogPart(lastLine);
    if (rest.size() == lastLine.size()) return LastRunEnding::Unknown;
    int number = 0;
    const auto [ptr, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), number);
    if (ec != std::errc{} || ptr == rest.data() || (ptr != rest.data() + rest.size() && *ptr != ' '))
        return LastRunEnding::Unknown;
    const auto event = static_cast<JournalEvent>(number);
    if (event == JournalEvent::DayFileFull) return LastRunEnding::Unknown;
    // A start that found the station supervised from another session, or
    // that found itself in the services' session, ended on purpose, and is
    // the last line of this user's journal until the next.
    if (event == JournalEvent::TolvaneInOtherSession || event == JournalEvent::StartedInServicesSession)
        return LastRunEnding::Closed;
    return isClosingEvent(event) ? LastRunEnding::Closed : LastRunEnding::Unexpected;
}

bool JournalDailyChore::due(local_seconds now) {
    const auto today = floor<days>(now);
    if (today == m_doneFor) return false;
    m_doneFor = today;
    return true;
}

std::string restartTooltip(const RestartsToday& restarts) {
    if (restarts.count <= 0) return "Aucune relance aujourd'hui";
    const auto t = restarts.lastTimeOfDay.count();
    return "Relancé " + std::to_string(restarts.count) + " fois aujourd'hui, la dernière fois à " +
           twoDigits(static_cast<unsigned>(t / 3600)) + ":" + twoDigits(static_cast<unsigned>(t / 60 % 60)) + ":" +
           twoDigits(static_cast<unsigned>(t % 60));
}

void RestartTally::note(int tool, local_seconds at, int count) {
    const auto day = floor<days>(at);
    if (m_day != day) {
        // A new day, or a clock set back into another one: the count is the
        // day's own.
        m_tools.clear();
        m_day = day;
    }
    RestartsToday& restarts = m_tools[tool];
    // A forged or damaged count must not wrap the tally round to nothing.
    restarts.count = count > std::numeric_limits<int>::max() - restarts.count ? std::numeric_limits<int>::max()
                                                                              : restarts.count + std::max(count, 0);
    restarts.lastTimeOfDay = std::max(restarts.lastTimeOfDay, duration_cast<seconds>(at - day));
}

void RestartTally::noteLine(std::string_view line) {
    // "2026-12-08 03:12:45 +0100 2003 [6 VX8_Player] Relancé ...[ (répété N fois ...)]"
    // Any bytes at all may come here (a line cut by a power failure, a file
    // edited by hand): every part is looked at only where it is, and a line
    // that is not whole counts nothing.
    const auto part = [&line](std::size_t at, std::size_t length) {
        return at > line.size() ? std::string_view() : line.substr(at, length);
    };
    const auto number = [](std::string_view text) -> std::optional<int> {
        int value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
        return value;
    };
    if (line.size() < 20 || line[4] != '-' || line[7] != '-' || line[10] != ' ' || line[13] != ':' || line[16] != ':')
        return;
    const auto y = number(line.substr(0, 4)), mo = number(line.substr(5, 2)), d = number(line.substr(8, 2));
    const auto h = number(line.substr(11, 2)), mi = number(line.substr(14, 2)), s = number(line.substr(17, 2));
    if (!y || !mo || !d || !h || !mi || !s) return;
    const year_month_day date{year{*y}, month{static_cast<unsigned>(*mo)}, day{static_cast<unsigned>(*d)}};
    if (!date.ok()) return;
    // A restart by verification, or by the verification that follows an end;
    // while a tool loops, its restarts are folded into the loop's lines,
    // which count them: the first for the restart that made the loop, the
    // others in a detail of their own.
    const auto eventAt = line.find(' ', 20);  // after the offset
    if (eventAt == std::string_view::npos) return;
    struct Counted {
        JournalEvent event;
        std::string_view prefix;
        std::string_view countLabel;  // empty: the line is one restart
    };
    static constexpr Counted counted[] = {
        {JournalEvent::ToolRestartedByVerification, " 2003 [", {}},
        {JournalEvent::ToolRestartedAfterEnd, " 2004 [", {}},
        {JournalEvent::ToolLoopBegan, " 2040 [", {}},
        {JournalEvent::ToolLoopLasts, " 2041 [", " | relances dans l'heure : "},
        {JournalEvent::ToolLoopOver, " 2042 [", " | relances depuis la ligne précédente : "}};
    const Counted* restart = nullptr;
    for (const auto& candidate : counted)
        if (part(eventAt, candidate.prefix.size()) == candidate.prefix) restart = &candidate;
    if (!restart) return;
    const std::string_view prefix = restart->prefix;
    const auto toolStart = eventAt + prefix.size();
    const auto toolEnd = line.find(' ', toolStart);
    const auto close = line.find("] ", toolStart);
    if (toolEnd == std::string_view::npos || close == std::string_view::npos) return;
    if (toolEnd > close) return;
    const int tool = number(part(toolStart, toolEnd - toolStart)).value_or(-1);
    if (!isToolIndex(tool)) return;
    const std::string_view text = journalText(restart->event);
    if (part(close + 2, text.size()) != text) return;
    const auto after = close + 2 + text.size();
    if (!restart->countLabel.empty()) {
        // The loop's count is one of its details, read up to the next one.
        const auto label = line.find(restart->countLabel, after);
        if (label == std::string_view::npos) return;
        const auto from = label + restart->countLabel.size();
        const auto to = std::min(line.find(" | ", from), line.size());
        const auto n = number(part(from, to - from));
        if (n && *n > 0) note(tool, local_days{date} + hours{*h} + minutes{*mi} + seconds{*s}, *n);
        return;
    }
    int count = 1;
    // The repeats merged into the line come right after the event's text;
    // a detail holding the same words further on is not read as a count.
    const std::string_view merged = " (répété ";
    if (part(after, merged.size()) == merged) {
        const auto from = after + merged.size();
        const auto to = line.find(' ', from);
        if (const auto n = to == std::string_view::npos ? std::nullopt : number(part(from, to - from)); n && *n > 0)
            count = *n == std::numeric_limits<int>::max() ? *n : *n + 1;
    }
    note(tool, local_days{date} + hours{*h} + minutes{*mi} + seconds{*s}, count);
}

RestartsToday RestartTally::today(int tool, local_days today) const {
    if (m_day != today) return {};
    const auto it = m_tools.find(tool);
    return it == m_tools.end() ? RestartsToday{} : it->second;
}

JournalSink& noJournal() {
    static JournalSink none;
    return none;
}

}  // namespace tolvane
