#pragma once

#include "platform/error.h"
#include "platform/files.h"
#include "platform/help_viewer.h"
#include "platform/http_fetch.h"
#include "platform/key_state.h"
#include "platform/notify_area.h"
#include "platform/settings_store.h"
#include "platform/tone.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace tavro::fakes {

class FakeKeyState final : public KeyState {
public:
    std::int16_t GetKeyState(int virtualKey) override {
        queried.push_back(virtualKey);
        if (fail)
            throw Error(errc::AutomationError, "Key state unavailable");
        return ctrlDown && virtualKey == VK_CONTROL ? static_cast<std::int16_t>(-32767) : std::int16_t{0};
    }
    bool ctrlDown = false;
    bool fail = false;
    std::vector<int> queried;
};

struct ToneCall {
    int frequencyHz;
    int durationMs;
    bool operator==(const ToneCall&) const = default;
};

class FakeTone final : public Tone {
public:
    void Beep(int frequencyHz, int durationMs) override {
        calls.push_back({frequencyHz, durationMs});
        if (fail)
            throw Error(errc::AutomationError, "No sound device");
    }
    std::vector<ToneCall> calls;
    bool fail = false;
};

class FakeSettingsStore final : public SettingsStore {
public:
    using Key = std::tuple<std::string, std::string, std::string>;

    std::string GetSetting(const std::string& app, const std::string& section, const std::string& key,
                           const std::string& defaultValue) override {
        reads.push_back(key);
        if (failRead)
            throw Error(errc::PermissionDenied, "Permission denied");
        const auto it = values.find({app, section, key});
        return it == values.end() ? defaultValue : it->second;
    }
    void SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                     const std::string& value) override {
        if (failWrite)
            throw Error(errc::PermissionDenied, "Permission denied");
        writes.push_back(key);
        values[{app, section, key}] = value;
    }

    std::map<Key, std::string> values;
    std::vector<std::string> reads;
    std::vector<std::string> writes;
    bool failRead = false;
    bool failWrite = false;
};

class FakeNotifyArea final : public NotifyArea {
public:
    bool Shell_NotifyIcon(std::uint32_t message, const NotifyIconData& data) override {
        calls.push_back({message, data});
        return available;
    }
    struct Call {
        std::uint32_t message;
        NotifyIconData data;
    };
    std::vector<Call> calls;
    bool available = true;
};

class FakeHelpViewer final : public HelpViewer {
public:
    struct Call {
        WindowHandle owner;
        std::string helpFile;
        std::uint32_t command;
        std::uint32_t data;
        bool operator==(const Call&) const = default;
    };
    int WinHelp(WindowHandle owner, const std::string& helpFile, std::uint32_t command,
                std::uint32_t data) override {
        calls.push_back({owner, helpFile, command, data});
        if (fail)
            throw Error(errc::FileNotFound, "The help viewer could not be started");
        return 1;
    }
    std::vector<Call> calls;
    bool fail = false;
};

class FakeHttpFetch final : public HttpFetch {
public:
    std::string OpenURL(const std::string& url) override {
        requested.push_back(url);
        if (failure)
            throw *failure;
        return body;
    }
    std::string body;
    std::unique_ptr<Error> failure;
    std::vector<std::string> requested;
};

// Files held in memory, by path.
class FakeFiles final : public Files {
public:
    std::unique_ptr<TextInput> openInput(const std::string& path) override;
    std::unique_ptr<TextOutput> openOutput(const std::string& path) override;
    void copyFile(const std::string& path, const std::string& copyPath) override;
    void removeLeftovers(const std::string& path) override { leftoversRemoved.push_back(path); }

    std::map<std::string, std::string> files;
    std::vector<std::string> leftoversRemoved;
    // A read fails once this many bytes of a file have been read; -1 never.
    long failReadAfter = -1;
    bool failOpenInput = false;
    // The two failures above raise std::bad_alloc instead of an Error.
    bool outOfMemory = false;
    bool unwritable = false;
    // A write fails after this many lines; -1 never.
    int failWriteAfterLines = -1;
    int openInputs = 0; // inputs open at the moment
};

} // namespace tavro::fakes
