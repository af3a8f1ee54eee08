#pragma once

#include "platform/browser.h"
#include "platform/files.h"
#include "platform/help_viewer.h"
#include "platform/http_fetch.h"
#include "platform/key_state.h"
#include "platform/notify_area.h"
#include "platform/settings_store.h"
#include "platform/tone.h"
#include "platform/toolkit.h"

namespace tavro {

// The services the logic reaches the world through, chosen once by main().
struct Platform {
    Toolkit& toolkit;
    BrowserAutomation& browser;
    KeyState& keys;
    Tone& tone;
    SettingsStore& settings;
    NotifyArea& notifyArea;
    HelpViewer& helpViewer;
    HttpFetch& http;
    Files& files;
};

} // namespace tavro
