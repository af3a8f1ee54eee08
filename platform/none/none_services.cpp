#include "platform/none/none_services.h"

#include "platform/error.h"

namespace tavro::none {

namespace {
[[noreturn]] void notAvailable(int number, const std::string& what) {
    throw Error(number, what + " is not available");
}
} // namespace

std::shared_ptr<ShellWindows> NoBrowserAutomation::createShellWindows() {
    notAvailable(errc::AutomationError, "Browser automation");
}

std::unique_ptr<NewBrowser> NoBrowserAutomation::createBrowser() {
    notAvailable(errc::AutomationError, "Browser automation");
}

std::int16_t NoKeyState::GetKeyState(int) {
    return 0;
}

void NoTone::Beep(int, int) {
    notAvailable(errc::AutomationError, "The tone");
}

int NoHelpViewer::WinHelp(WindowHandle, const std::string&, std::uint32_t command, std::uint32_t) {
    if (command == HELP_QUIT)
        return 1;
    notAvailable(errc::AutomationError, "The help viewer");
}

std::string NoHttpFetch::OpenURL(const std::string&) {
    notAvailable(errc::AutomationError, "HTTP");
}

std::unique_ptr<TextInput> NoFiles::openInput(const std::string& path) {
    notAvailable(errc::PathFileAccess, "The file " + path);
}

std::unique_ptr<TextOutput> NoFiles::openOutput(const std::string& path) {
    notAvailable(errc::PathFileAccess, "The file " + path);
}

} // namespace tavro::none
