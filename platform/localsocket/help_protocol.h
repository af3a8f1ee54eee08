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

// A reply is one short line; anything longer is not from our viewer.
inline constexpr qint64 MaxReplyBytes = 64 * 1024;

// The name of the viewer's socket, one viewer per user: in the user's runtime
// folder, or, where Qt reports none, in a folder of the user's own beside the
// temporary files. Empty, with error set, when that folder is not the user's alone.
QString defaultSocketName(QString* error = nullptr);
// As above, with the runtime folder given; empty means that there is none.
QString socketNameIn(const QString& runtimeFolder, QString* error = nullptr);

// Makes sure the folder is this user's and closed to everyone else, creating
// it with mode 0700 when missing. False, with error set, when it is a link or
// no folder, belongs to another user, or is open to others.
bool ensurePrivateFolder(const QString& folder, QString* error = nullptr);

// True when the process at the other end of this connected local socket runs
// as the same user as we do; false also when the system cannot tell.
bool peerIsThisUser(qintptr socketDescriptor);

QByteArray encode(const Request& request);
std::optional<Request> decode(const QByteArray& line);

QByteArray encodeReply(const QJsonObject& reply);

// Connects, sends the request and waits for the reply. nullopt when no viewer
// listens on that name, the listener runs as another user, or no reply of at
// most MaxReplyBytes came within the time; error then says why, and connected
// whether a viewer took the connection at all.
std::optional<QJsonObject> exchange(const QString& socketName, const Request& request, int timeoutMs,
                                    QString* error = nullptr, bool* connected = nullptr);

} // namespace tavro::helpsocket
