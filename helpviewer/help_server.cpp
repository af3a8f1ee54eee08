#include "helpviewer/help_server.h"

#include "helpviewer/help_window.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace tavro::helpviewer {

namespace {

// The program's three requests, as the help call numbers them.
constexpr quint32 HelpContext = 1;
constexpr quint32 HelpQuit = 2;
constexpr quint32 HelpContents = 3;

// A request is one short line; anything longer is not one of ours.
constexpr qint64 MaxRequestBytes = 64 * 1024;
constexpr int RequestTimeoutMs = 5000;

QJsonObject failure(const QString& why) {
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), why}};
}

} // namespace

HelpServer::HelpServer(HelpWindow& window, QObject* parent)
    : QObject(parent), m_window(window), m_server(new QLocalServer(this)) {
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &HelpServer::onNewConnection);
}

bool HelpServer::listen(const QString& socketName, QString* error) {
    // Called under the viewer's lock file, so a socket that is there now was
    // left behind by a viewer that died.
    QLocalServer::removeServer(socketName);
    if (m_server->listen(socketName))
        return true;
    if (error)
        *error = m_server->errorString();
    return false;
}

QJsonObject HelpServer::handle(const helpsocket::Request& request) {
    switch (request.command) {
    case HelpContents:
        m_owners.insert(request.owner);
        m_window.showContents(request.helpFile);
        break;
    case HelpContext:
        m_owners.insert(request.owner);
        m_window.showTopic(request.helpFile, request.data);
        break;
    case HelpQuit:
        // An owner that never asked for help changes nothing; the viewer may
        // be serving another program.
        if (m_owners.remove(request.owner) && m_owners.isEmpty()) {
            m_finished = true;
            Q_EMIT lastOwnerQuit();
        }
        break;
    case helpsocket::StatusCommand:
        return {{QStringLiteral("ok"), true},
                {QStringLiteral("page"), m_window.currentPage()},
                {QStringLiteral("file"), m_window.helpFile()},
                {QStringLiteral("title"), m_window.windowTitle()},
                {QStringLiteral("visible"), m_window.isVisible()},
                {QStringLiteral("owners"), static_cast<int>(m_owners.size())}};
    default:
        return failure(QStringLiteral("Unknown help command %1.").arg(request.command));
    }
    return {{QStringLiteral("ok"), true}};
}

void HelpServer::onNewConnection() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        // The socket's folder keeps other users out; should they reach it all
        // the same, they are told nothing, not even what is shown.
        if (!helpsocket::peerIsThisUser(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        // A client that connects and says nothing must not hold a socket for ever.
        QTimer::singleShot(RequestTimeoutMs, socket, [socket] { socket->abort(); });
        if (socket->bytesAvailable() > 0)
            onReadyRead(socket);
    }
}

void HelpServer::onReadyRead(QLocalSocket* socket) {
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > MaxRequestBytes)
            socket->abort();
        return;
    }
    const QByteArray line = socket->readLine(MaxRequestBytes);
    const std::optional<helpsocket::Request> request = helpsocket::decode(line);
    const QJsonObject reply = request ? handle(*request) : failure(QStringLiteral("Unreadable request."));
    socket->write(helpsocket::encodeReply(reply));
    socket->flush();
    socket->disconnectFromServer();
}

} // namespace tavro::helpviewer
