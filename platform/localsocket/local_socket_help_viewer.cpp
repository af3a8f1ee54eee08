#include "platform/localsocket/local_socket_help_viewer.h"

#include "platform/error.h"
#include "platform/localsocket/help_protocol.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <utility>

namespace tavro {

namespace {

QString ownerId(WindowHandle owner) {
    return QString::number(QCoreApplication::applicationPid()) + QLatin1Char(':') + QString::number(owner);
}

} // namespace

LocalSocketHelpViewer::LocalSocketHelpViewer()
    : LocalSocketHelpViewer(QCoreApplication::applicationDirPath() + QStringLiteral("/tavro-help-viewer"),
                            {}) {}

LocalSocketHelpViewer::LocalSocketHelpViewer(QString viewerProgram, QString socketName, int answerTimeoutMs)
    : m_viewerProgram(std::move(viewerProgram)), m_socketName(std::move(socketName)),
      m_answerTimeoutMs(answerTimeoutMs) {}

int LocalSocketHelpViewer::WinHelp(WindowHandle owner, const std::string& helpFile, std::uint32_t command,
                                   std::uint32_t data) {
    const helpsocket::Request request{ownerId(owner), QFile::decodeName(QByteArray::fromStdString(helpFile)),
                                      command, data};
    QString why;
    const QString socketName = m_socketName.isEmpty() ? helpsocket::defaultSocketName(&why) : m_socketName;
    if (socketName.isEmpty()) {
        if (command == HELP_QUIT)
            return 0; // no viewer can be running there
        throw Error(errc::PermissionDenied,
                    "The help viewer has no private place (" + why.toStdString() + ").");
    }
    bool connected = false;
    std::optional<QJsonObject> reply =
        helpsocket::exchange(socketName, request, m_answerTimeoutMs, &why, &connected);

    if (!reply && command == HELP_QUIT) {
        // No viewer, nobody to tell; and a quit runs while the program closes,
        // where a failure of the viewer must not stand in the way. Only one we
        // started may not listen yet, and would then keep our request open for
        // ever: a viewer started with the quit hands it over, or ends at once.
        if (!connected && m_startedOne) {
            try {
                startViewer(socketName, request);
            } catch (const Error&) {
            }
        }
        return 0;
    }
    // No viewer runs: one is started with the request to serve, and the window
    // does not wait for it to come up, which takes longer than an answer may.
    // A viewer that took the request and did not answer is running but stuck;
    // another one would only find the socket taken.
    if (!reply && !connected) {
        startViewer(socketName, request);
        return 1;
    }
    if (!reply)
        throw Error(errc::AutomationError, "The help viewer did not answer (" + why.toStdString() + ").");
    return reply->value(QStringLiteral("ok")).toBool() ? 1 : 0;
}

void LocalSocketHelpViewer::startViewer(const QString& socketName, const helpsocket::Request& request) {
    QProcess process;
    process.setProgram(m_viewerProgram);
    process.setArguments({QStringLiteral("--socket"), socketName, QStringLiteral("--request"),
                          QString::fromUtf8(helpsocket::encode(request).trimmed())});
    // Detached, so the viewer outlives us when another program still uses it.
    m_startedOne = true;
    if (!process.startDetached())
        throw Error(errc::FileNotFound, "The help viewer could not be started (" +
                                            m_viewerProgram.toStdString() +
                                            "): " + process.errorString().toStdString());
}

} // namespace tavro
