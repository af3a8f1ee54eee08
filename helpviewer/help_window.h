#pragma once

#include "helpviewer/help_document.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>

class QAction;
class QTextBrowser;
class QUrl;

namespace tavro::helpviewer {

// The viewer's one window: a page of the help file at a time, with Contents,
// Back and Forward.
class HelpWindow final : public QMainWindow {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr);

    // Reads the file afresh, so that an edited or another help file shows as
    // it is now, and brings the window to the front on the contents or a topic.
    void showContents(const QString& helpFile);
    void showTopic(const QString& helpFile, quint32 topic);

    // What the window shows: a page id of the file, "missing-topic" or "no-file".
    QString currentPage() const { return m_current; }
    QString helpFile() const { return m_file; }

private:
    bool open(const QString& helpFile);
    void go(const QString& pageId);
    void display(const QString& pageId);
    void onAnchorClicked(const QUrl& url);
    void bringToFront();
    void updateActions();

    QTextBrowser* m_browser;
    QAction* m_contents;
    QAction* m_back;
    QAction* m_forward;
    HelpDocument m_document;
    QString m_file;
    QString m_current;
    QStringList m_history;
    qsizetype m_position = -1;
};

} // namespace tavro::helpviewer
