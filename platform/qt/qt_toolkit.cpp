#include "platform/qt/qt_toolkit.h"

#include "app/design.h"
#include "platform/error.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLockFile>
#include <QMessageBox>
#include <QSessionManager>
#include <QStandardPaths>
#include <QWidget>
#include <cstdlib>
#include <unistd.h>

namespace tavro::qt {

QtToolkit::QtToolkit(QString lockFile) : m_lockPath(std::move(lockFile)) {
    QWidget* form = m_window.widget();
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, form,
                     [this](QSessionManager&) { m_window.close(CloseReason::Session); });
    // Whatever else stops the event loop (the session manager gave no warning)
    // still gets an orderly end; after our own close this finds the window ended.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, form,
                     [this] { m_window.close(CloseReason::Session); });
}

QtToolkit::~QtToolkit() = default;

MessageAnswer QtToolkit::messageBox(const MessageBoxRequest& request) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    if (request.icon == MessageIcon::Information)
        icon = QMessageBox::Information;
    else if (request.icon == MessageIcon::Critical)
        icon = QMessageBox::Critical;
    const bool yesNo = request.buttons == MessageButtons::YesNo;
    const QString title = request.title.empty()
                              ? QString::fromUtf8(AppTitle.data(), qsizetype(AppTitle.size()))
                              : QString::fromStdString(request.title);
    // A hidden window makes a poor owner: the box would have nothing to sit on.
    QWidget* owner = m_window.visible() ? m_window.widget() : nullptr;
    QMessageBox box(icon, title, QString::fromStdString(request.text),
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, owner);
    box.setObjectName(QStringLiteral("messageBox"));
    box.setTextFormat(Qt::PlainText);
    if (yesNo) {
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    }
    const int answer = box.exec();
    if (!yesNo)
        return MessageAnswer::Ok;
    return answer == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

std::string QtToolkit::programFolder() const {
    // Resolved, so a link to the program still finds the files beside the program.
    const QString path = QFileInfo(QCoreApplication::applicationFilePath()).canonicalPath();
    return QDir::toNativeSeparators(path).toStdString();
}

QString QtToolkit::lockFilePath() const {
    if (!m_lockPath.isEmpty())
        return m_lockPath;
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath() + QStringLiteral("/tavro-popup-blocker-%1").arg(getuid());
    return folder + QStringLiteral("/tavro-popup-blocker.lock");
}

bool QtToolkit::anotherInstanceRunning() {
    if (m_lock && m_lock->isLocked())
        return false;
    const QString path = lockFilePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    m_lock = std::make_unique<QLockFile>(path);
    // A running instance holds its lock for hours; only a lock whose process
    // is gone (a crash, a kill) counts as stale.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0))
        return false;
    switch (m_lock->error()) {
    case QLockFile::LockFailedError:
        return true;
    case QLockFile::PermissionError:
        throw Error(errc::PermissionDenied, "Permission denied: " + path.toStdString());
    default:
        throw Error(errc::PathFileAccess, "Path/File access error: " + path.toStdString());
    }
}

void QtToolkit::terminate(int status) {
    std::_Exit(status);
}

} // namespace tavro::qt
