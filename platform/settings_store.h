#pragma once

#include <string>

namespace tavro {

// The per-user settings store, addressed by application name, section and key.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The stored text, or the default when the key is absent. Raises an Error
    // when the store cannot be read.
    virtual std::string GetSetting(const std::string& appName, const std::string& section,
                                   const std::string& key, const std::string& defaultValue) = 0;
    // Raises an Error when the store cannot be written.
    virtual void SaveSetting(const std::string& appName, const std::string& section, const std::string& key,
                             const std::string& value) = 0;
    // Where the store keeps its data (a file's path), for messages that ask the
    // user to mend a value; empty when it cannot tell. Never raises.
    virtual std::string location() const { return {}; }
};

} // namespace tavro
