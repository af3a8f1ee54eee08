#pragma once

#include <QList>
#include <QString>
#include <optional>

namespace tavro::helpviewer {

// One help file: an HTML document whose pages are its <section> elements, the
// contents page with id "contents" and each topic with its number as id. A
// reader with a web browser sees the whole file; the viewer shows one page at a time.
class HelpDocument final {
public:
    // Reads and splits the file; false, with errorString(), when it cannot be
    // read or holds no page at all.
    bool load(const QString& path);
    // Splits text already read; the same rules as load.
    bool parse(const QString& html);

    QString errorString() const { return m_error; }
    QString title() const { return m_title; }
    QList<QString> pageIds() const;
    bool hasPage(const QString& id) const;
    // The first heading of the page, as plain text.
    QString heading(const QString& id) const;
    // The page as a document of its own, with the file's style sheet.
    std::optional<QString> pageHtml(const QString& id) const;
    // A page of the viewer's own, in the file's style, for what it has to report.
    QString messageHtml(const QString& heading, const QString& bodyHtml) const;

    static inline const QString ContentsId = QStringLiteral("contents");

private:
    struct Page {
        QString id;
        QString body;
    };
    QString wrap(const QString& body) const;

    QString m_error;
    QString m_title;
    QString m_style;
    QList<Page> m_pages;
};

} // namespace tavro::helpviewer
