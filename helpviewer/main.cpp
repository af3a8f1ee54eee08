// The help viewer: one per user, started by the first program that asks for
// help, and ended by the quit of the last program that asked.
#include "helpviewer/help_server.h"
#include "helpviewer/help_window.h"
#include "platform/help_viewer.h"
#include "platform/localsocket/help_protocol.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QLockFile>
#include <QThread>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <optional>

namespace {

// How long a viewer started for a request tries to hand it to the viewer that
// already holds the socket, should that one not listen yet or be on its way out.
constexpr int HandOverTimeoutMs = 10000;

// One viewer per socket: whoever holds the lock serves it. A second viewer,
// started by two programs asking at once, leaves the socket to the first and
// hands it its request; the lock comes free when the first ends meanwhile.
// True when this viewer is the one to serve.
bool takeSocket(QLockFile& lock, const QString& socketName,
                const std::optional<tavro::helpsocket::Request>& request) {
    lock.setStaleLockTime(0);
    const QDeadlineTimer deadline(HandOverTimeoutMs);
    while (!lock.tryLock(0)) {
        if (!request)
            return false;
        QString why;
        if (tavro::helpsocket::exchange(socketName, *request, 1000, &why))
            return false;
        if (deadline.hasExpired()) {
            std::fprintf(stderr, "tavro-help-viewer: the running viewer took no request: %s\n",
                         qPrintable(why));
            return false;
        }
        QThread::msleep(25);
    }
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    // A program that asked and went away before the reply must not end the viewer.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tavro-help-viewer"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Shows the help of Tavro Popup Blocker."));
    parser.addHelpOption();
    const QCommandLineOption socketOption(QStringLiteral("socket"),
                                          QStringLiteral("The local socket to listen on (by default the "
                                                         "user's own, in the runtime folder)."),
                                          QStringLiteral("name"));
    parser.addOption(socketOption);
    const QCommandLineOption requestOption(QStringLiteral("request"),
                                           QStringLiteral("A request as a program sends it over the socket, "
                                                          "to serve at once."),
                                           QStringLiteral("json"));
    parser.addOption(requestOption);
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("A help file to show at once."));
    parser.addPositionalArgument(QStringLiteral("topic"), QStringLiteral("The topic of that file to show."));
    parser.process(app);
    QString error;
    const QString socketName = parser.isSet(socketOption) ? parser.value(socketOption)
                                                          : tavro::helpsocket::defaultSocketName(&error);
    if (socketName.isEmpty()) {
        std::fprintf(stderr, "tavro-help-viewer: no private place for the socket: %s\n", qPrintable(error));
        return 1;
    }

    std::optional<tavro::helpsocket::Request> request;
    if (parser.isSet(requestOption)) {
        request = tavro::helpsocket::decode(parser.value(requestOption).toUtf8());
        if (!request) {
            std::fprintf(stderr, "tavro-help-viewer: unreadable request: %s\n",
                         qPrintable(parser.value(requestOption)));
            return 1;
        }
    }

    QLockFile lock(socketName + QStringLiteral(".lock"));
    if (!takeSocket(lock, socketName, request))
        return 0;
    // Started to hand over a quit, and no viewer is left to take it.
    if (request && request->command == tavro::HELP_QUIT)
        return 0;

    tavro::helpviewer::HelpWindow window;
    tavro::helpviewer::HelpServer server(window);
    if (!server.listen(socketName, &error)) {
        std::fprintf(stderr, "tavro-help-viewer: cannot listen on %s: %s\n", qPrintable(socketName),
                     qPrintable(error));
        return 1;
    }
    // Quit once the reply to the last owner's quit has gone out.
    QObject::connect(&server, &tavro::helpviewer::HelpServer::lastOwnerQuit, &app,
                     [&app] { QTimer::singleShot(0, &app, &QCoreApplication::quit); });

    // The request this viewer was started for counts its owner in, as one
    // that came over the socket does.
    const QStringList arguments = parser.positionalArguments();
    if (request) {
        server.handle(*request);
    } else if (!arguments.isEmpty()) {
        bool isNumber = false;
        const quint32 topic = arguments.size() > 1 ? arguments.at(1).toUInt(&isNumber) : 0;
        if (isNumber)
            window.showTopic(arguments.at(0), topic);
        else
            window.showContents(arguments.at(0));
    }

    // Started for a request that never came (its program died first): nothing
    // would ever show or end this viewer.
    QTimer::singleShot(30000, &app, [&window, &app] {
        if (!window.isVisible())
            app.quit();
    });
    // Closing the window by hand ends the viewer; the next request starts a new one.
    return app.exec();
}
