// Picks the adapters, builds the main window and runs the program.
#include "app/form_events.h"
#include "browsers/bidi/bidi_browser.h"
#include "browsers/devtools/devtools_browser.h"
#include "browsers/extension/extension_browsers.h"
#include "browsers/mirror/browser_set.h"
#include "browsers/wire/socket_place.h"
#include "form/design.h"
#include "form/quellit.h"
#include "help/web_links.h"
#include "platform/alsa/alsa_tone.h"
#include "platform/curl/curl_http_fetch.h"
#include "platform/error.h"
#include "platform/localsocket/local_socket_help_viewer.h"
#include "platform/platform.h"
#include "platform/posix/posix_files.h"
#include "platform/qt/browser_news_watch.h"
#include "platform/qt/browsers_dialog.h"
#include "platform/qt/process_exit_hook.h"
#include "platform/qt/qt_notify_area.h"
#include "platform/qt/qt_settings_store.h"
#include "platform/qt/qt_toolkit.h"
#include "platform/qt/termination_signals.h"
#include "platform/x11/x11_key_state.h"
#include "program/browsers_report.h"

#include <QApplication>
#include <QString>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <future>
#include <malloc.h>
#include <memory>
#include <string_view>

namespace {

constexpr int LargeBlockBytes = 1024 * 1024;

// Shows the logic's control models in the window and takes the user's changes back.
void bindControls(tavro::qt::QtMainWindow& window, tavro::Quellit& form) {
    window.bindList("lstWhiteList", form.lstWhiteList);
    window.bindList("lstBlockedUrls", form.lstBlockedUrls);
    window.bindCheckBox("chkBeep", form.chkBeep);
    window.bindCheckBox("chkHideOnStart", form.chkHideOnStart);
    window.bindCheckBox("chkMenubar", form.chkMenubar);
    window.bindCaption("cmd_Enable", form.cmd_Enable);
    window.bindCaption("mnuEnable", form.mnuEnable);
    for (const tavro::ControlDesign& d : tavro::controlDesigns()) {
        if (d.kind == tavro::ControlKind::HyperLink)
            window.bindLink(d.name, tavro::linkTarget(d.name));
    }
}

} // namespace

int main(int argc, char* argv[]) {
    // For scripts and support, from a terminal: no window, no display, and
    // none of the single instance's lock, so it runs beside the program.
    if (argc == 2 && std::string_view(argv[1]) == "--browsers")
        return tavro::printBrowsers();
    // A browser or help viewer that goes away while we write to it is a failed
    // write to handle, not a reason to end without saving the user's list.
    std::signal(SIGPIPE, SIG_IGN);
    // A browser's answer can be tens of megabytes (pages with addresses near
    // its 2 MB limit). Blocks of a megabyte and more are mapped on their own,
    // so they go back to the system when freed instead of staying in the heap
    // for the rest of the run.
    mallopt(M_MMAP_THRESHOLD, LargeBlockBytes);
    QApplication app(argc, argv);
    // The application name stays the executable's: the single-instance lock
    // records it and takes a lock whose process runs under another name for stale.
    QApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                            .arg(tavro::VersionMajor)
                                            .arg(tavro::VersionMinor)
                                            .arg(tavro::VersionRevision));
    // Hiding the window or closing a message box while hidden must not end the
    // program; only the window's unload does.
    QApplication::setQuitOnLastWindowClosed(false);

    tavro::qt::QtToolkit toolkit;
    tavro::qt::QtSettingsStore settings;
    tavro::qt::QtNotifyArea notifyArea(toolkit.window());
    // Its members are added once this is known to be the only running copy.
    tavro::browsers::BrowserSet browser({});
    tavro::x11::X11KeyState xKeys;
    std::unique_ptr<tavro::extension::ExtensionBrowsers> extension;
    tavro::extension::ExtensionCtrlKeyState keys(
        xKeys, [&xKeys] { return xKeys.serverReachable(); },
        [&extension] { return extension && extension->ctrlHeld(); });
    tavro::alsa::AlsaTone tone;
    tavro::LocalSocketHelpViewer helpViewer;
    tavro::CurlHttpFetch http;
    tavro::PosixFiles files;

    tavro::Platform platform{toolkit, browser, keys, tone, settings, notifyArea, helpViewer, http, files};
    tavro::Quellit form(platform);
    tavro::QuellitEvents events(form);

    tavro::qt::QtMainWindow& window = toolkit.window();
    bindControls(window, form);
    window.setEvents(&events);
    // A termination request is the close the task manager would make.
    tavro::qt::TerminationSignals terminationSignals(
        [&window](int) { window.close(tavro::CloseReason::TaskManager); });

    events.Form_Load();
    if (window.ended())
        return 0;

    // The browsers are looked for from here on, not only at the first tick,
    // each on a thread of its own; a second copy that ends at start-up never
    // asks a browser for anything (Firefox serves one session at a time).
    // Chromium first, then Firefox, then the everyday browsers' extension:
    // the order of the walk and of the browsers asked for a new window.
    tavro::devtools::DevToolsBrowserAutomation chromium;
    tavro::bidi::BidiBrowserAutomation firefox;
    browser.add(&chromium);
    browser.add(&firefox);
    std::string noSocket;
    if (const std::string socket = tavro::wire::socketPath(&noSocket); !socket.empty()) {
        try {
            extension = std::make_unique<tavro::extension::ExtensionBrowsers>(socket);
            browser.add(extension.get());
        } catch (const tavro::Error& e) {
            noSocket = e.description();
        }
    }
    if (!extension)
        std::fprintf(stderr, "tavro-popup-blocker: the browser extension cannot reach the program: %s\n",
                     noSocket.c_str());

    // The browsers' news runs the tick's scan at once, on the same terms as a
    // tick: only while the timer runs.
    tavro::qt::BrowserNewsWatch newsWatch(
        browser.news(), [&] { return toolkit.timer1().enabled() && !window.ended(); },
        [&events] { events.Timer1_Timer(); });
    // A lost display ends the process from inside the event loop, past the
    // unload: the saves then run without the window. Made after the start-up,
    // so that the settings store it saves through is torn down only after it.
    tavro::qt::ProcessExitHook lostDisplay([&window, &events, &firefox] {
        if (window.ended())
            return;
        events.DisplayLost();
        // Nothing is torn down past this point: Firefox's one session is
        // ended here, or Firefox would refuse every other client.
        firefox.link().letGo();
    });
    // What is protected, for the "Browsers" view and for --browsers in
    // another process; asked of the browsers' mirrors, never of a browser.
    auto protection = [&] { return tavro::protectionNow(chromium, firefox, extension.get()); };
    tavro::ProtectionReport report;
    report.update(protection());
    QTimer reportTimer;
    QObject::connect(&reportTimer, &QTimer::timeout, [&] { report.update(protection()); });
    reportTimer.start(1000);
    // browsers.py takes a python3's start and a look at every browser's
    // folders: seconds on a busy machine, which the window does not wait for.
    std::vector<tavro::InstalledBrowser> installed;
    std::future<std::vector<tavro::InstalledBrowser>> looking;
    tavro::qt::BrowsersDialog browsersView([&](bool opening) {
        if (opening && !looking.valid())
            looking = std::async(std::launch::async, [] { return tavro::installedBrowsers(false); });
        if (looking.valid() && looking.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
            installed = looking.get();
        return tavro::browserRows(installed, protection());
    });
    window.addMenuItem("mnuBrowsers", "Browsers", "mnuAbout", [&browsersView] { browsersView.present(); });

    window.show();
    return QApplication::exec();
}
