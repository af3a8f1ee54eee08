#pragma once

#include "platform/platform.h"
#include "tests/fakes/fake_browser.h"
#include "tests/fakes/fake_services.h"
#include "tests/fakes/fake_toolkit.h"

namespace tavro::fakes {

// Every platform service as an in-memory fake, and the Platform that hands them out.
struct FakePlatform {
    FakeToolkit toolkit;
    FakeBrowserAutomation browser;
    FakeKeyState keys;
    FakeTone tone;
    FakeSettingsStore settings;
    FakeNotifyArea notifyArea;
    FakeHelpViewer helpViewer;
    FakeHttpFetch http;
    FakeFiles files;

    Platform platform{toolkit, browser, keys, tone, settings, notifyArea, helpViewer, http, files};
};

} // namespace tavro::fakes
