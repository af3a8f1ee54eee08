#include "platform/localsocket/help_protocol.h"

#include "platform/posix/peer_user.h"
#include "platform/posix/private_folder.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLocalSocket>
#include <QStandardPaths>
#include <unistd.h>

namespace tavro::helpsocket {

QString defaultSocketName(QString* error) {
    return socketNameIn(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation), error);
}

QString socketNameIn(const QString& runtimeFolder, QString* error) {
    // The runtime folder belongs to the user alone (mode 0700), which makes the
    // socket per-user without a name of its own. Qt reports none when another
    // user took its usual place first; the same could happen to ours, so ours
    // is checked before the socket is trusted to it.
    QString folder = runtimeFolder;
    if (folder.isEmpty()) {
        folder = QDir::tempPath() + QStringLiteral("/tavro-help-%1").arg(::geteuid());
        if (!ensurePrivateFolder(folder, error))
            return {};
    }
    return folder + QStringLiteral("/tavro-help-viewer");
}

bool ensurePrivateFolder(const QString& folder, QString* error) {
    const std::string why = tavro::ensurePrivateFolder(QFile::encodeName(folder).toStdString());
    if (!why.empty() && error)
        *error = folder + QStringLiteral(": ") + QString::fromStdString(why);
    return why.empty();
}

bool peerIsThisUser(qintptr socketDescriptor) {
    return tavro::peerIsThisUser(static_cast<int>(socketDescriptor));
}

QByteArray encode(const Request& request) {
    const QJsonObject object{{QStringLiteral("owner"), request.owner},
                             {QStringLiteral("file"), request.helpFile},
                             {QStringLiteral("command"), static_cast<qint64>(request.command)},
                             {QStringLiteral("data"), static_cast<qint64>(request.data)}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<Request> decode(const QByteArray& line) {
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(line.trimmed(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue command = object.value(QStringLiteral("command"));
    const QJsonValue data = object.value(QStringLiteral("data"));
    if (!object.value(QStringLiteral("owner")).isString() ||
        !object.value(QStringLiteral("file")).isString() || !command.isDouble() || !data.isDouble())
        return std::nullopt;
    const qint64 commandValue = command.toInteger(-1);
    const qint64 dataValue = data.toInteger(-1);
    if (commandValue < 0 || commandValue > 0xFFFFFFFF || dataValue < 0 || dataValue > 0xFFFFFFFF)
        return std::nullopt;
    return Request{object.value(QStringLiteral("owner")).toString(),
                   object.value(QStringLiteral("file")).toString(), static_cast<quint32>(commandValue),
                   static_cast<quint32>(dataValue)};
}

QByteArray encodeReply(const QJsonObject& reply) {
    return QJsonDocument(reply).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<QJsonObject> exchange(const QString& socketName, const Request& request, int timeoutMs,
                                    QString* error, bool* connected) {
    const QDeadlineTimer deadline(timeoutMs);
    auto fail = [error](const QString& why) -> std::optional<QJsonObject> {
        if (error)
            *error = why;
        return std::nullopt;
    };

    QLocalSocket socket;
    socket.connectToServer(socketName);
    const bool reached = socket.waitForConnected(static_cast<int>(deadline.remainingTime()));
    if (connected)
        *connected = reached;
    if (!reached)
        return fail(socket.errorString());
    // Anyone may listen on a name; a help request tells which file we read.
    if (!peerIsThisUser(socket.socketDescriptor()))
        return fail(QStringLiteral("the socket belongs to another user"));
    socket.write(encode(request));
    if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
        return fail(socket.errorString());

    QByteArray reply;
    while (!reply.contains('\n')) {
        if (reply.size() >= MaxReplyBytes)
            return fail(QStringLiteral("its answer was too long"));
        if (!socket.bytesAvailable() && !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            return fail(QStringLiteral("no answer came in time"));
        reply += socket.read(MaxReplyBytes - reply.size());
    }
    socket.disconnectFromServer();

    const QJsonDocument document = QJsonDocument::fromJson(reply.trimmed());
    if (!document.isObject())
        return fail(QStringLiteral("its answer could not be read"));
    return document.object();
}

} // namespace tavro::helpsocket
