#pragma once

#include "platform/help_viewer.h"

#include <QString>

namespace tavro {

// The help viewer as a program of its own, one per user, reached over its
// local socket. A contents or topic request starts it when it is not running;
// a quit request never does.
class LocalSocketHelpViewer final : public HelpViewer {
public:
    // The viewer program beside our executable, on the per-user socket, whose
    // place is checked afresh at each request.
    LocalSocketHelpViewer();
    // answerTimeoutMs bounds the wait for a running viewer's reply; an empty
    // socketName stands for the per-user one.
    LocalSocketHelpViewer(QString viewerProgram, QString socketName, int answerTimeoutMs = 4000);
    LocalSocketHelpViewer(const LocalSocketHelpViewer&) = delete;
    LocalSocketHelpViewer& operator=(const LocalSocketHelpViewer&) = delete;

    // Raises an Error when the viewer cannot be started or does not answer, or
    // when its socket would have no private place; a quit that finds no viewer,
    // or one that fails, returns 0 without one.
    int WinHelp(WindowHandle owner, const std::string& helpFile, std::uint32_t command,
                std::uint32_t data) override;

private:
    void startViewer(const QString& socketName);

    QString m_viewerProgram;
    QString m_socketName;
    int m_answerTimeoutMs;
};

} // namespace tavro
