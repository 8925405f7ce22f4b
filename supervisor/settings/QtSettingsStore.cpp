#include "supervisor/settings/QtSettingsStore.h"

#include <QByteArray>
#include <QDataStream>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QMetaType>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <utility>

#include "platform/platform.h"

// ---------------------------------------------------------------------------
// The store.

namespace tolvane::settings_detail {

// A key of the INI file as QSettings holds it between reading and writing.
struct StoredLine {
    ini::KeyLine line;
    qint64 position = std::numeric_limits<qint64>::max();  // order in the file; new keys go last
};

}  // namespace tolvane::settings_detail

Q_DECLARE_METATYPE(tolvane::settings_detail::StoredLine)

namespace tolvane {

namespace {

using settings_detail::StoredLine;

std::string fromQt(const QString& s) { return s.toStdString(); }

QString toQt(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QString keyPath(std::string_view section, std::string_view key) { return toQt(section) + QLatin1Char('/') + toQt(key); }

bool isStoredLine(const QVariant& v) { return v.metaType() == QMetaType::fromType<StoredLine>(); }

// A value QSettings produced itself (the registry, or a data stream) as
// the one text it stands for.
std::string variantText(const QVariant& v) {
    if (v.userType() == QMetaType::QStringList) return fromQt(v.toStringList().join(QStringLiteral(", ")));
    if (v.userType() == QMetaType::QByteArray) {
        const QByteArray bytes = v.toByteArray();
        return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    }
    return fromQt(v.toString());
}

bool readIni(QIODevice& device, QSettings::SettingsMap& map) {
    const QByteArray data = device.readAll();
    const ini::FileText text = ini::parse(std::string_view(data.constData(), static_cast<std::size_t>(data.size())));
    qint64 position = 0;
    for (const ini::KeyLine& line : text.keys) {
        const std::string path = line.section.empty() ? line.key : line.section + "/" + line.key;
        map.insert(toQt(path), QVariant::fromValue(StoredLine{line, position++}));
    }
    // Lines that are not keys are left out, never a reason to show nothing.
    return true;
}

bool writeIni(QIODevice& device, const QSettings::SettingsMap& map) {
    std::vector<StoredLine> lines;
    lines.reserve(static_cast<std::size_t>(map.size()));
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        if (isStoredLine(it.value())) {
            lines.push_back(it.value().value<StoredLine>());
            continue;
        }
        // Set through another QSettings on the same file: written as its text.
        StoredLine line;
        const std::string path = fromQt(it.key());
        const auto slash = path.find('/');
        line.line.section = slash == std::string::npos ? std::string() : path.substr(0, slash);
        line.line.key = slash == std::string::npos ? path : path.substr(slash + 1);
        line.line.rawKey = ini::writeKey(line.line.key);
        line.line.rawValue = it.value().isValid() ? ini::writeValue(variantText(it.value())) : "@Invalid()";
        lines.push_back(std::move(line));
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const StoredLine& a, const StoredLine& b) { return a.position < b.position; });
    std::vector<ini::KeyLine> keys;
    keys.reserve(lines.size());
    for (StoredLine& line : lines) keys.push_back(std::move(line.line));
    const std::string text = ini::format(keys);
    return device.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size());
}

QSettings::Format iniFormat() {
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("ini"), readIni, writeIni, Qt::CaseSensitive);
    return format;
}

std::optional<std::string> streamText(const ini::Value& value) {
    QByteArray bytes(value.bytes.data(), static_cast<qsizetype>(value.bytes.size()));
    QDataStream stream(&bytes, QIODevice::ReadOnly);
    stream.setVersion(value.dateTimeStream ? QDataStream::Qt_5_6 : QDataStream::Qt_4_0);
    QVariant decoded;
    stream >> decoded;
    if (!decoded.isValid()) return std::nullopt;
    return variantText(decoded);
}

// The value at this key as the store reads it: the exact text of the INI
// file, a serialised variant's text, the registry's value; nothing when the
// key is absent or holds nothing that reads as a value.
std::optional<std::string> readValue(QSettings& settings, std::string_view section, std::string_view key) {
    const QVariant value = settings.value(keyPath(section, key));
    if (!value.isValid()) return std::nullopt;
    if (isStoredLine(value)) {
        const ini::Value stored = ini::readValue(value.value<StoredLine>().line.rawValue);
        switch (stored.kind) {
            case ini::Value::Kind::Text: return stored.bytes;
            case ini::Value::Kind::Absent: return std::nullopt;
            case ini::Value::Kind::Stream: return streamText(stored);
        }
    }
    // A value QSettings parsed itself (the registry on Windows): a list is
    // still the one text that was stored.
    return variantText(value);
}

// The settings of the table found in the first of these places that has
// each (one QSettings per place, read once).
SettingValues readPlaces(const std::vector<std::function<std::unique_ptr<QSettings>()>>& places) {
    std::vector<std::unique_ptr<QSettings>> opened;
    for (const auto& open : places) opened.push_back(open());
    return tableValues([&opened](std::string_view section, std::string_view key) -> std::optional<std::string> {
        for (const auto& settings : opened)
            if (auto value = readValue(*settings, section, key)) return value;
        return std::nullopt;
    });
}

}  // namespace

QtSettingsStore::QtSettingsStore(const std::string& application)
    : QtSettingsStore([application] {
          const bool registry = platform::settingsInSystemStore();
          auto settings =
              std::make_unique<QSettings>(registry ? QSettings::NativeFormat : iniFormat(), QSettings::UserScope,
                                          QStringLiteral("Vantorix"), QString::fromStdString(application));
          // Only the user's own values: the machine-wide ones are presets.
          settings->setFallbacksEnabled(false);
          return settings;
      }) {}

AdministratorSettings readAdministratorSettings(const std::string& application) {
    AdministratorSettings read;
    using Open = std::function<std::unique_ptr<QSettings>()>;
    std::vector<Open> policy, presets;
    const QString app = QString::fromStdString(application);
    if (platform::settingsInSystemStore()) {
        // Tolvane.exe is a 64-bit program: the registry's 64-bit view, where
        // the MSI and Group Policy write. Opened at HKLM\Software, which
        // always exists:
        // QSettings creates the key it is opened on when it may (an
        // administrator's run), and Tolvane must never create an empty
        // policy key; a key below is only ever opened for reading.
        const QString software = QStringLiteral("HKEY_LOCAL_MACHINE\\Software");
        const auto below = [software](const QString& group) -> Open {
            return [software, group] {
                auto settings = std::make_unique<QSettings>(software, QSettings::NativeFormat);
                settings->beginGroup(group);
                return settings;
            };
        };
        policy.push_back(below(QStringLiteral("Policies/Vantorix/") + app));
        presets.push_back(below(QStringLiteral("Vantorix/") + app));
        read.policyPlaces.push_back(fromQt(QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Policies\\Vantorix\\") + app));
        read.presetPlaces.push_back(fromQt(QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Vantorix\\") + app));
    } else {
        // The system's configuration folders, in their order of preference;
        // the user's own folder (the first location, which is also the
        // writable one) is never one of them.
        QStringList folders = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
        const QString own = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        folders.removeAll(own);
        for (const QString& folder : folders) {
            const QString policyFile = folder + QStringLiteral("/Vantorix/") + app + QStringLiteral("-policy.ini");
            const QString presetFile = folder + QStringLiteral("/Vantorix/") + app + QStringLiteral(".ini");
            policy.push_back([policyFile] { return std::make_unique<QSettings>(policyFile, iniFormat()); });
            presets.push_back([presetFile] { return std::make_unique<QSettings>(presetFile, iniFormat()); });
            read.policyPlaces.push_back(fromQt(policyFile));
            read.presetPlaces.push_back(fromQt(presetFile));
        }
    }
    read.policy = readPlaces(policy);
    read.presets = readPlaces(presets);
    return read;
}

QtSettingsStore::QtSettingsStore(std::function<std::unique_ptr<QSettings>()> open)
    : m_open(std::move(open)),
      m_settings(m_open()) {
    m_iniFile = m_settings->format() == iniFormat();
    if (m_settings->status() != QSettings::NoError) {
        reportOnce(m_readReported, "cannot be read; the defaults are shown");
        m_stale = true;
    }
}

QtSettingsStore::~QtSettingsStore() = default;

std::unique_ptr<QtSettingsStore> QtSettingsStore::atIniFile(const std::string& path) {
    const QString file = QString::fromStdString(path);
    return std::unique_ptr<QtSettingsStore>(
        new QtSettingsStore([file] { return std::make_unique<QSettings>(file, iniFormat()); }));
}

std::string QtSettingsStore::location() const { return fromQt(m_settings->fileName()); }

void QtSettingsStore::reportOnce(bool& reported, const std::string& what) {
    // An operator never sees this, but the station's IT person must be able
    // to tell that edits are not being stored. Once per run, never a box.
    if (reported) return;
    reported = true;
    std::fprintf(stderr, "Tolvane: the settings store %s %s.\n", location().c_str(), what.c_str());
    std::fflush(stderr);
}

void QtSettingsStore::clearAbandonedLock() {
    // QSettings locks the file with QLockFile while it writes. A writer
    // killed between creating the lock file and writing its owner into it
    // leaves an empty lock, which Qt only gives up on after 30 seconds: the
    // next edit would hold the window (and every timer) that long. Nobody
    // fills a lock file later than at once, so an empty one that is a
    // second old has been abandoned.
    if (!m_iniFile) return;
    const QFileInfo lock(m_settings->fileName() + QStringLiteral(".lock"));
    if (!lock.exists() || !lock.isFile() || lock.size() != 0) return;
    const qint64 age = lock.lastModified().msecsTo(QDateTime::currentDateTime());
    if (age >= 1000 || age <= -1000) QFile::remove(lock.filePath());
}

void QtSettingsStore::keepLinesThatAreNotSettings() {
    // Comments, and the lines of a damaged file that are not settings, do
    // not survive the file being written again. Before the first write of
    // the run they are kept, with the whole file as it was, beside it.
    if (!m_iniFile) return;
    const QString name = m_settings->fileName();
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) return;
    const QByteArray data = file.readAll();
    file.close();
    const ini::FileText text = ini::parse(std::string_view(data.constData(), static_cast<std::size_t>(data.size())));
    const std::size_t lines = text.commentLines + text.otherLines;
    if (lines == 0) return;
    QSaveFile copy(name + QStringLiteral(".orig"));
    bool kept = copy.open(QIODevice::WriteOnly) && copy.write(data) == data.size();
    kept = kept && copy.commit();
    bool once = false;
    reportOnce(once, "holds " + std::to_string(lines) + " line(s) that are not settings; " +
                         (kept ? "the file as it was is kept in " + fromQt(copy.fileName())
                               : std::string("they could not be copied aside")) +
                         ", and the settings file keeps only the settings from now on");
}

std::string QtSettingsStore::GetSetting(std::string_view section, std::string_view key, std::string_view defaultValue) {
    return readValue(*m_settings, section, key).value_or(std::string(defaultValue));
}

bool QtSettingsStore::SaveSetting(std::string_view section, std::string_view key, std::string_view value) {
    if (m_stale) {
        // QSettings keeps its first error for good: after one, each write
        // gets a fresh instance, made now rather than at the failure (its
        // first sync would fail again then), so it tells its own outcome.
        // Edits still pending in Qt's shared copy of the file are stored
        // with this one.
        m_settings = m_open();
        m_stale = false;
    }
    if (!m_checkedBeforeFirstWrite) {
        m_checkedBeforeFirstWrite = true;
        keepLinesThatAreNotSettings();
    }
    clearAbandonedLock();
    const QString path = keyPath(section, key);
    if (m_iniFile) {
        // The key keeps its place, its spelling and its comment in the file.
        const QVariant existing = m_settings->value(path);
        StoredLine line;
        if (isStoredLine(existing)) {
            line = existing.value<StoredLine>();
        } else {
            line.line.section = std::string(section);
            line.line.key = std::string(key);
            line.line.rawKey = ini::writeKey(key);
        }
        line.line.rawValue = ini::writeValue(value);
        m_settings->setValue(path, QVariant::fromValue(line));
    } else {
        m_settings->setValue(path, toQt(value));
    }
    m_settings->sync();
    if (m_settings->status() != QSettings::NoError) {
        reportOnce(m_writeReported,
                   "cannot be written; edits are kept until it takes a write again, and lost if Tolvane ends before");
        m_stale = true;
        return false;
    }
    return true;
}

}  // namespace tolvane
