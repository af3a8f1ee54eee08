#include "platform/localsocket/help_protocol.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLocalSocket>
#include <QStandardPaths>

namespace tavro::helpsocket {

QString defaultSocketName() {
    // The runtime folder belongs to the user alone (mode 0700), which makes the
    // socket per-user without a name of its own.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + QStringLiteral("/tavro-help-viewer");
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
    socket.write(encode(request));
    if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
        return fail(socket.errorString());

    QByteArray reply;
    while (!reply.contains('\n')) {
        if (!socket.bytesAvailable() && !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            return fail(QStringLiteral("no answer came in time"));
        reply += socket.readAll();
    }
    socket.disconnectFromServer();

    const QJsonDocument document = QJsonDocument::fromJson(reply.trimmed());
    if (!document.isObject())
        return fail(QStringLiteral("its answer could not be read"));
    return document.object();
}

} // namespace tavro::helpsocket
