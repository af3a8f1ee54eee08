#pragma once

#include "platform/help_viewer.h"
#include "platform/localsocket/help_protocol.h"

#include <QString>

namespace tavro {

// The help viewer as a program of its own, one per user, reached over its
// local socket. A contents or topic request starts it when it is not running,
// handing it the request to serve once it is up; a quit request never does.
class LocalSocketHelpViewer final : public HelpViewer {
public:
    // The viewer program beside our executable, on the per-user socket, whose
    // place is checked afresh at each request.
    LocalSocketHelpViewer();
    // answerTimeoutMs bounds the wait for a running viewer's reply, and with it
    // how long the window is held: a viewer that runs answers in a few
    // milliseconds, one stopped or stuck never. An empty socketName stands for
    // the per-user one.
    LocalSocketHelpViewer(QString viewerProgram, QString socketName, int answerTimeoutMs = 100);
    LocalSocketHelpViewer(const LocalSocketHelpViewer&) = delete;
    LocalSocketHelpViewer& operator=(const LocalSocketHelpViewer&) = delete;

    // Raises an Error when the viewer cannot be started or does not answer, or
    // when its socket would have no private place; a quit that finds no viewer,
    // or one that fails, returns 0 without one. Returns 1 once a viewer was
    // started with the request.
    int WinHelp(WindowHandle owner, const std::string& helpFile, std::uint32_t command,
                std::uint32_t data) override;

private:
    void startViewer(const QString& socketName, const helpsocket::Request& request);

    QString m_viewerProgram;
    QString m_socketName;
    int m_answerTimeoutMs;
    bool m_startedOne = false;
};

} // namespace tavro
