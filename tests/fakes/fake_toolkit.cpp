#include "tests/fakes/fake_toolkit.h"

#include <utility>

namespace tavro::fakes {

void FakeMainWindow::show() {
    m_visible = true;
    ++shows;
    if (events)
        events->Form_Paint();
}

void FakeMainWindow::close(CloseReason reason) {
    if (!events)
        return;
    std::int16_t cancel = 0;
    events->Form_QueryUnload(cancel, static_cast<std::int16_t>(reason));
    if (cancel != 0)
        return;
    events->Form_Unload(cancel);
    m_visible = false;
    destroyed = true;
}

WindowProc FakeMainWindow::setWindowProc(WindowProc proc) {
    WindowProc previous = std::move(m_proc);
    m_proc = std::move(proc);
    return previous;
}

void FakeMainWindow::popupMenu(const std::vector<std::string>& items, const std::string& defaultItem) {
    popups.push_back({items, defaultItem});
    const std::string choice = std::exchange(nextMenuChoice, {});
    if (!choice.empty() && events)
        events->Click(choice);
}

std::intptr_t FakeMainWindow::send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    // A copy, as the real window makes: the procedure may replace itself while it runs.
    const WindowProc proc = m_proc;
    return proc(handle, message, wParam, lParam);
}

MessageAnswer FakeToolkit::messageBox(const MessageBoxRequest& request) {
    messages.push_back(request);
    if (whileWaiting)
        whileWaiting();
    if (!answers.empty()) {
        const MessageAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    return request.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
}

} // namespace tavro::fakes
