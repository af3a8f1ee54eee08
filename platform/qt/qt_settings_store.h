#pragma once

#include "platform/settings_store.h"

#include <string>

namespace tavro::qt {

// The settings store on QSettings: one INI file per application name in the
// user's configuration folder, "<folder>/<application>.conf", one group per section.
class QtSettingsStore final : public SettingsStore {
public:
    // folder: where the files live; empty for the user's configuration folder
    // ($XDG_CONFIG_HOME, by default ~/.config).
    explicit QtSettingsStore(std::string folder = {});

    std::string GetSetting(const std::string& appName, const std::string& section, const std::string& key,
                           const std::string& defaultValue) override;
    void SaveSetting(const std::string& appName, const std::string& section, const std::string& key,
                     const std::string& value) override;

    // The program's own file.
    std::string location() const override;
    // The file that holds an application's settings.
    std::string fileFor(const std::string& appName) const;

private:
    std::string m_folder;
};

} // namespace tavro::qt
