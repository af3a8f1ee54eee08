#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QtGlobal>
#include <optional>

// What the program and the help viewer say to each other over the viewer's
// per-user local socket: one request per connection, one line of JSON each way.
namespace tavro::helpsocket {

// Asks the viewer what it shows; tools and tests use it, the program does not.
inline constexpr quint32 StatusCommand = 0x100;

struct Request {
    // Who asked: the asking process and its window, so that a quit only ends
    // the viewer once every owner that asked has let go.
    QString owner;
    QString helpFile;
    quint32 command = 0;
    quint32 data = 0;
};

// The name of the viewer's socket in the user's runtime folder: one viewer per user.
QString defaultSocketName();

QByteArray encode(const Request& request);
std::optional<Request> decode(const QByteArray& line);

QByteArray encodeReply(const QJsonObject& reply);

// Connects, sends the request and waits for the reply. nullopt when no viewer
// listens on that name or it did not answer within the time; error then says
// why, and connected whether a viewer took the connection at all.
std::optional<QJsonObject> exchange(const QString& socketName, const Request& request, int timeoutMs,
                                    QString* error = nullptr, bool* connected = nullptr);

} // namespace tavro::helpsocket
