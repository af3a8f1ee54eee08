#pragma once

#include "platform/qt/main_window.h"
#include "platform/toolkit.h"

#include <QString>
#include <memory>
#include <string>

class QLockFile;

namespace tavro::qt {

// The toolkit on Qt Widgets: the main window, message boxes, the program's
// facts and the per-user single-instance lock. Needs a QApplication; ends the
// window with reason 2 when the desktop session ends.
class QtToolkit final : public Toolkit {
public:
    // lockFile: where the single-instance lock lives; empty for the user's
    // runtime folder.
    explicit QtToolkit(QString lockFile = {});
    ~QtToolkit() override;
    QtToolkit(const QtToolkit&) = delete;
    QtToolkit& operator=(const QtToolkit&) = delete;

    Window& mainWindow() override { return m_window; }
    Timer& timer1() override { return m_window.timer1(); }
    MessageAnswer messageBox(const MessageBoxRequest& request) override;
    void reportUnattended(const std::string& text) override;
    std::string programFolder() const override;
    bool anotherInstanceRunning() override;
    [[noreturn]] void terminate(int status) override;

    QtMainWindow& window() { return m_window; }
    // The lock's path: the one given, or the user's runtime folder's.
    QString lockFilePath() const;

private:
    void ensureLockFolder(const QString& lockPath) const;

    QtMainWindow m_window;
    QString m_lockPath;
    std::string m_programFolder;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace tavro::qt
