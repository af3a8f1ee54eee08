#include "platform/qt/qt_toolkit.h"

#include "form/design.h"
#include "platform/error.h"
#include "platform/posix/private_folder.h"
#include "platform/qt/qt_text.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QMessageBox>
#include <QStandardPaths>
#include <QWidget>
#include <cstdlib>
#include <syslog.h>
#include <unistd.h>

namespace tavro::qt {

namespace {

std::string ownFolder() {
    // Resolved, so a link to the program still finds the files beside the program.
    QString path = QFileInfo(QCoreApplication::applicationFilePath()).canonicalPath();
    if (path.isEmpty())
        path = QCoreApplication::applicationDirPath();
    return QDir::toNativeSeparators(path).toStdString();
}

} // namespace

// The folder is fixed at start: once the executable is removed or moved (an
// upgrade while the program runs) it can no longer be resolved, and the files
// beside it must still be saved where they were read.
QtToolkit::QtToolkit(QString lockFile) : m_lockPath(std::move(lockFile)), m_programFolder(ownFolder()) {
    // The end of the desktop session stops the event loop. The session
    // manager's earlier request to save is not acted on: it also comes for a
    // snapshot of a session that goes on.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, m_window.widget(),
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
    const QString title = request.title.empty() ? toQString(AppTitle) : toQString(request.title);
    // A hidden window makes a poor owner: the box would have nothing to sit on.
    QWidget* owner = m_window.visible() ? m_window.widget() : nullptr;
    QMessageBox box(icon, title, toQString(request.text),
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

void QtToolkit::reportUnattended(const std::string& text) {
    // No Qt here: this also runs while the toolkit ends the process because
    // its display is gone, and anything that reaches for the display then may
    // end the process a second time. syslog(3) reaches the journal where one
    // runs and costs nothing where none does.
    const std::string line = std::string(AppTitle) + ": " + text + "\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
    ::syslog(LOG_ERR, "%s", text.c_str());
}

std::string QtToolkit::programFolder() const {
    return m_programFolder;
}

QString QtToolkit::lockFilePath() const {
    if (!m_lockPath.isEmpty())
        return m_lockPath;
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath() + QStringLiteral("/tavro-popup-blocker-%1").arg(getuid());
    return folder + QStringLiteral("/tavro-popup-blocker.lock");
}

void QtToolkit::ensureLockFolder(const QString& path) const {
    const QString folder = QFileInfo(path).absolutePath();
    // The user's runtime folder is private already; the fallback beside the
    // temporary files is a guessable name that another user could make first
    // and hold a lock in, so that the program would never start.
    if (!m_lockPath.isEmpty() ||
        folder == QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)) {
        QDir().mkpath(folder);
        return;
    }
    const std::string why = ensurePrivateFolder(QFile::encodeName(folder).toStdString());
    if (!why.empty())
        throw Error(errc::PermissionDenied, "Permission denied: " + folder.toStdString() + ": " + why);
}

bool QtToolkit::anotherInstanceRunning() {
    if (m_lock && m_lock->isLocked())
        return false;
    const QString path = lockFilePath();
    ensureLockFolder(path);
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
