// Times the help viewer as the program meets it: the first request, which
// starts the viewer and holds the caller only that long, and the time until
// the started viewer answers; a topic request to a running viewer; and the
// last quit until the viewer is gone. Prints medians in milliseconds.
#include "platform/help_viewer.h"
#include "platform/localsocket/help_protocol.h"
#include "platform/localsocket/local_socket_help_viewer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool viewerAnswers(const QString& socket) {
    return tavro::helpsocket::exchange(
               socket, {QStringLiteral("bench"), {}, tavro::helpsocket::StatusCommand, 0}, 1000)
        .has_value();
}

bool viewerGone(const QString& socket) {
    return !viewerAnswers(socket) && !QFile::exists(socket + QStringLiteral(".lock"));
}

} // namespace

int main(int argc, char* argv[]) {
    if (!std::getenv("DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QCoreApplication app(argc, argv);
    const std::string helpFile = TAVRO_HELP_FILE;
    QTemporaryDir dir;
    const QString socket = dir.filePath(QStringLiteral("viewer"));
    tavro::LocalSocketHelpViewer viewer{QStringLiteral(TAVRO_HELP_VIEWER), socket};

    constexpr int Rounds = 5;
    constexpr int Topics = 20;
    std::vector<double> cold, up, warm, quit;
    for (int round = 0; round < Rounds; ++round) {
        QElapsedTimer clock;
        clock.start();
        viewer.WinHelp(1, helpFile, tavro::HELP_CONTENTS, 0);
        cold.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        while (!viewerAnswers(socket))
            QThread::msleep(1);
        up.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);

        for (int i = 0; i < Topics; ++i) {
            clock.restart();
            viewer.WinHelp(1, helpFile, tavro::HELP_CONTEXT, i % 2 ? 110 : 100);
            warm.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        }

        clock.restart();
        viewer.WinHelp(1, helpFile, tavro::HELP_QUIT, 0);
        while (!viewerGone(socket))
            QThread::msleep(1);
        quit.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    std::printf("help viewer, %d rounds (median ms):\n", Rounds);
    std::printf("  first request, starting the viewer: %8.1f\n", median(cold));
    std::printf("  until the started viewer answers:   %8.1f\n", median(up));
    std::printf("  topic request to a running viewer:  %8.1f  (%d per round)\n", median(warm), Topics);
    std::printf("  last quit until the viewer is gone: %8.1f\n", median(quit));
    return 0;
}
