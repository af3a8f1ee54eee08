#include "helpviewer/help_document.h"

#include <QFile>
#include <QRegularExpression>
#include <QTextDocumentFragment>

namespace tavro::helpviewer {

namespace {

constexpr auto Options =
    QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption;

// No help file of ours comes near this; it keeps a wrong path (a disk image,
// a log) from being read into memory whole.
constexpr qint64 MaxFileSize = 4 * 1024 * 1024;

QString plainText(const QString& html) {
    return QTextDocumentFragment::fromHtml(html).toPlainText().simplified();
}

} // namespace

bool HelpDocument::load(const QString& path) {
    m_pages.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = file.errorString();
        return false;
    }
    if (file.size() > MaxFileSize) {
        m_error = QStringLiteral("The file is too large to be a help file.");
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        m_error = file.errorString();
        return false;
    }
    return parse(QString::fromUtf8(bytes));
}

bool HelpDocument::parse(const QString& html) {
    m_pages.clear();
    m_error.clear();

    static const QRegularExpression titleRe(QStringLiteral("<title[^>]*>(.*?)</title>"), Options);
    static const QRegularExpression styleRe(QStringLiteral("<style[^>]*>(.*?)</style>"), Options);
    static const QRegularExpression sectionRe(
        QStringLiteral("<section\\s[^>]*?\\bid\\s*=\\s*[\"']([^\"']+)[\"'][^>]*>(.*?)</section\\s*>"),
        Options);

    const QRegularExpressionMatch title = titleRe.match(html);
    m_title = title.hasMatch() ? plainText(title.captured(1)) : QString();
    const QRegularExpressionMatch style = styleRe.match(html);
    m_style = style.hasMatch() ? style.captured(1) : QString();

    for (QRegularExpressionMatchIterator it = sectionRe.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QString id = match.captured(1).trimmed();
        // The first of two pages with one id wins, as a browser's anchor would.
        if (!hasPage(id))
            m_pages.append({id, match.captured(2)});
    }
    if (m_pages.isEmpty()) {
        m_error =
            QStringLiteral("The file is not a help document this viewer can show: it has no contents and "
                           "no topics.");
        return false;
    }
    return true;
}

QList<QString> HelpDocument::pageIds() const {
    QList<QString> ids;
    for (const Page& page : m_pages)
        ids.append(page.id);
    return ids;
}

bool HelpDocument::hasPage(const QString& id) const {
    for (const Page& page : m_pages)
        if (page.id == id)
            return true;
    return false;
}

QString HelpDocument::heading(const QString& id) const {
    static const QRegularExpression headingRe(QStringLiteral("<h[1-3][^>]*>(.*?)</h[1-3]\\s*>"), Options);
    for (const Page& page : m_pages) {
        if (page.id != id)
            continue;
        const QRegularExpressionMatch match = headingRe.match(page.body);
        return match.hasMatch() ? plainText(match.captured(1)) : QString();
    }
    return {};
}

std::optional<QString> HelpDocument::pageHtml(const QString& id) const {
    for (const Page& page : m_pages)
        if (page.id == id)
            return wrap(page.body);
    return std::nullopt;
}

QString HelpDocument::messageHtml(const QString& heading, const QString& bodyHtml) const {
    return wrap(QStringLiteral("<h2>") + heading.toHtmlEscaped() + QStringLiteral("</h2>") + bodyHtml);
}

QString HelpDocument::wrap(const QString& body) const {
    return QStringLiteral("<html><head><style>") + m_style + QStringLiteral("</style></head><body>") + body +
           QStringLiteral("</body></html>");
}

} // namespace tavro::helpviewer
