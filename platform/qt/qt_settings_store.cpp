#include "platform/qt/qt_settings_store.h"

#include "form/design.h"
#include "platform/error.h"

#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QVariant>

namespace tavro::qt {

namespace {

QString keyPath(const std::string& section, const std::string& key) {
    return QString::fromStdString(section) + QLatin1Char('/') + QString::fromStdString(key);
}

[[noreturn]] void fail(int number, const char* what, const std::string& file) {
    throw Error(number, std::string(what) + ": " + file);
}

} // namespace

QtSettingsStore::QtSettingsStore(std::string folder) : m_folder(std::move(folder)) {
    if (m_folder.empty())
        m_folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString();
}

std::string QtSettingsStore::fileFor(const std::string& appName) const {
    return m_folder + "/" + appName + ".conf";
}

std::string QtSettingsStore::location() const {
    return fileFor(std::string(AppTitle));
}

std::string QtSettingsStore::GetSetting(const std::string& appName, const std::string& section,
                                        const std::string& key, const std::string& defaultValue) {
    const std::string file = fileFor(appName);
    QSettings settings(QString::fromStdString(file), QSettings::IniFormat);
    if (settings.status() == QSettings::AccessError)
        fail(errc::PermissionDenied, "Permission denied", file);
    if (settings.status() == QSettings::FormatError)
        fail(errc::PathFileAccess, "The settings file cannot be read", file);
    const QString path = keyPath(section, key);
    if (!settings.contains(path))
        return defaultValue;
    const QVariant value = settings.value(path);
    // The INI reader splits a value at its commas; the text as stored is wanted.
    if (value.metaType().id() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(',')).toStdString();
    return value.toString().toStdString();
}

void QtSettingsStore::SaveSetting(const std::string& appName, const std::string& section,
                                  const std::string& key, const std::string& value) {
    const std::string file = fileFor(appName);
    QSettings settings(QString::fromStdString(file), QSettings::IniFormat);
    settings.setValue(keyPath(section, key), QString::fromStdString(value));
    settings.sync();
    if (settings.status() != QSettings::NoError)
        fail(errc::PathFileAccess, "The settings cannot be written to", file);
}

} // namespace tavro::qt
