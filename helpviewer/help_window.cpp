#include "helpviewer/help_window.h"

#include <QAction>
#include <QKeySequence>
#include <QStyle>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolBar>
#include <QUrl>

namespace tavro::helpviewer {

namespace {

const QString MissingTopic = QStringLiteral("missing-topic");
const QString NoFile = QStringLiteral("no-file");
const QString ViewerTitle = QStringLiteral("Help");

} // namespace

HelpWindow::HelpWindow(QWidget* parent) : QMainWindow(parent), m_browser(new QTextBrowser(this)) {
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(ViewerTitle);
    resize(620, 680);

    // Pages are ours to choose: a link to a topic shows that topic's page,
    // not a scroll position in the whole file.
    m_browser->setOpenLinks(false);
    m_browser->document()->setDocumentMargin(12);
    m_browser->setObjectName(QStringLiteral("page"));
    setCentralWidget(m_browser);
    connect(m_browser, &QTextBrowser::anchorClicked, this, &HelpWindow::onAnchorClicked);

    QToolBar* bar = addToolBar(QStringLiteral("Navigation"));
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_contents =
        bar->addAction(style()->standardIcon(QStyle::SP_FileDialogContentsView), QStringLiteral("Contents"));
    m_back = bar->addAction(style()->standardIcon(QStyle::SP_ArrowBack), QStringLiteral("Back"));
    m_forward = bar->addAction(style()->standardIcon(QStyle::SP_ArrowForward), QStringLiteral("Forward"));
    m_back->setShortcut(QKeySequence::Back);
    m_forward->setShortcut(QKeySequence::Forward);
    connect(m_contents, &QAction::triggered, this, [this] { go(HelpDocument::ContentsId); });
    connect(m_back, &QAction::triggered, this, [this] {
        if (m_position > 0)
            display(m_history.at(--m_position));
    });
    connect(m_forward, &QAction::triggered, this, [this] {
        if (m_position + 1 < m_history.size())
            display(m_history.at(++m_position));
    });
    updateActions();
}

void HelpWindow::showContents(const QString& helpFile) {
    if (open(helpFile))
        go(HelpDocument::ContentsId);
    bringToFront();
}

void HelpWindow::showTopic(const QString& helpFile, quint32 topic) {
    if (open(helpFile))
        go(QString::number(topic));
    bringToFront();
}

bool HelpWindow::open(const QString& helpFile) {
    if (helpFile != m_file) {
        m_history.clear();
        m_position = -1;
    }
    m_file = helpFile;
    if (m_document.load(helpFile))
        return true;

    // The program does not look at the disk; telling the user is ours.
    m_history.clear();
    m_position = -1;
    m_current = NoFile;
    setWindowTitle(ViewerTitle);
    m_browser->setHtml(m_document.messageHtml(
        QStringLiteral("The help file cannot be shown"),
        QStringLiteral("<p>The help file</p><p><tt>") + helpFile.toHtmlEscaped() +
            QStringLiteral("</tt></p><p>could not be opened: ") + m_document.errorString().toHtmlEscaped() +
            QStringLiteral("</p><p>The help file belongs in the program's folder, beside the program. "
                           "Reinstalling the program puts it back.</p>")));
    updateActions();
    return false;
}

void HelpWindow::go(const QString& pageId) {
    // A new page cuts the forward history, as in a web browser.
    if (m_position >= 0 && m_history.at(m_position) == pageId) {
        display(pageId);
        return;
    }
    m_history.resize(m_position + 1);
    m_history.append(pageId);
    m_position = m_history.size() - 1;
    display(pageId);
}

void HelpWindow::display(const QString& pageId) {
    const QString documentTitle = m_document.title().isEmpty() ? ViewerTitle : m_document.title();
    if (const std::optional<QString> html = m_document.pageHtml(pageId)) {
        m_current = pageId;
        m_browser->setHtml(*html);
        const QString heading = m_document.heading(pageId);
        setWindowTitle(pageId == HelpDocument::ContentsId || heading.isEmpty()
                           ? documentTitle
                           : heading + QStringLiteral(" - ") + documentTitle);
    } else {
        m_current = MissingTopic;
        m_browser->setHtml(m_document.messageHtml(
            QStringLiteral("Topic not found"),
            QStringLiteral("<p>This help file has no topic ") + pageId.toHtmlEscaped() +
                QStringLiteral(".</p><p><a href=\"#contents\">Show the contents</a></p>")));
        setWindowTitle(documentTitle);
    }
    updateActions();
}

void HelpWindow::onAnchorClicked(const QUrl& url) {
    // Only links within the help file lead anywhere; the file names no other.
    if (url.scheme().isEmpty() && url.path().isEmpty() && url.hasFragment())
        go(url.fragment());
}

void HelpWindow::bringToFront() {
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void HelpWindow::updateActions() {
    m_contents->setEnabled(m_document.hasPage(HelpDocument::ContentsId) && m_current != NoFile);
    m_back->setEnabled(m_position > 0);
    m_forward->setEnabled(m_position >= 0 && m_position + 1 < m_history.size());
}

} // namespace tavro::helpviewer
