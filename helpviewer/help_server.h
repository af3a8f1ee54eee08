#pragma once

#include "platform/localsocket/help_protocol.h"

#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QString>

class QLocalServer;
class QLocalSocket;

namespace tavro::helpviewer {

class HelpWindow;

// The viewer's end of the socket: takes one request per connection, shows
// what it asks for, and keeps the owners that asked, so that the quit of the
// last of them ends the viewer.
class HelpServer final : public QObject {
    Q_OBJECT
public:
    HelpServer(HelpWindow& window, QObject* parent = nullptr);

    // Listens on the name, taking over a socket that a dead viewer left behind.
    bool listen(const QString& socketName, QString* error);
    // A request as it came off the socket; the reply to send back.
    QJsonObject handle(const helpsocket::Request& request);
    bool finished() const { return m_finished; }

Q_SIGNALS:
    // The last owner let go: the viewer should end once the reply is out.
    void lastOwnerQuit();

private:
    void onNewConnection();
    void onReadyRead(QLocalSocket* socket);

    HelpWindow& m_window;
    QLocalServer* m_server;
    QSet<QString> m_owners;
    bool m_finished = false;
};

} // namespace tavro::helpviewer
