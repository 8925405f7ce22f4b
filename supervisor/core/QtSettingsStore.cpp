#include "supervisor/core/QtSettingsStore.h"

#include <QSettings>
#include <QStringList>

#include <cstdio>

#include "platform/platform.h"

namespace tolvane {

namespace {
QString keyPath(std::string_view section, std::string_view key) {
    return QString::fromUtf8(section.data(), static_cast<qsizetype>(section.size())) + QLatin1Char('/') +
           QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}
}  // namespace

QtSettingsStore::QtSettingsStore(const std::string& application)
    : QtSettingsStore(std::make_unique<QSettings>(
          platform::settingsInSystemStore() ? QSettings::NativeFormat : QSettings::IniFormat,
          QSettings::UserScope, QStringLiteral("Vantorix"), QString::fromStdString(application))) {}

QtSettingsStore::QtSettingsStore(std::unique_ptr<QSettings> settings) : m_settings(std::move(settings)) {
    if (m_settings->status() != QSettings::NoError)
        reportOnce("cannot be read; the defaults are shown");
}

QtSettingsStore::~QtSettingsStore() = default;

std::unique_ptr<QtSettingsStore> QtSettingsStore::atIniFile(const std::string& path) {
    return std::unique_ptr<QtSettingsStore>(new QtSettingsStore(
        std::make_unique<QSettings>(QString::fromStdString(path), QSettings::IniFormat)));
}

std::string QtSettingsStore::location() const { return m_settings->fileName().toStdString(); }

void QtSettingsStore::reportOnce(const char* what) {
    // An operator never sees this, but the station's IT person must be able
    // to tell that edits are not being kept. Once per run, never a box.
    if (m_reported) return;
    m_reported = true;
    std::fprintf(stderr, "Tolvane: the settings store %s %s.\n", location().c_str(), what);
    std::fflush(stderr);
}

std::string QtSettingsStore::GetSetting(std::string_view section, std::string_view key,
                                        std::string_view defaultValue) {
    const QVariant value = m_settings->value(keyPath(section, key));
    if (!value.isValid()) return std::string(defaultValue);
    // A value written by hand as "a, b" comes back as a list: it is still
    // the text that was stored.
    if (value.userType() == QMetaType::QStringList) return value.toStringList().join(QStringLiteral(", ")).toStdString();
    return value.toString().toStdString();
}

bool QtSettingsStore::SaveSetting(std::string_view section, std::string_view key, std::string_view value) {
    m_settings->setValue(keyPath(section, key),
                         QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())));
    m_settings->sync();
    if (m_settings->status() != QSettings::NoError) {
        reportOnce("cannot be written; edits are not being kept");
        return false;
    }
    return true;
}

}  // namespace tolvane
