#include "form/design.h"
#include "helpviewer/help_document.h"
#include "tests/help/qt_app.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace tavro::helpviewer {
namespace {

class HelpDocumentTest : public testing::Test {
protected:
    static void SetUpTestSuite() { testing_qt::ensureApplication(); }
};

TEST_F(HelpDocumentTest, SplitsSectionsIntoPages) {
    HelpDocument document;
    ASSERT_TRUE(document.parse(QStringLiteral(
        "<html><head><title>My &amp; Help</title><style>h2 { color: red; }</style></head><body>"
        "<section id=\"contents\"><h1>Contents</h1><a href=\"#110\">x</a></section>\n"
        "<SECTION class=\"t\" id='110'>\n<h2>Aggressive <b>Blocking</b></h2><p>Text</p></SECTION>"
        "<section id=\"110\"><h2>Second of the same id</h2></section>"
        "<section id=\"20\"><p>No heading</p></section></body></html>")))
        << document.errorString().toStdString();

    EXPECT_EQ(document.title(), QStringLiteral("My & Help"));
    EXPECT_EQ(document.pageIds(),
              (QList<QString>{QStringLiteral("contents"), QStringLiteral("110"), QStringLiteral("20")}));
    EXPECT_EQ(document.heading(QStringLiteral("110")), QStringLiteral("Aggressive Blocking"));
    EXPECT_EQ(document.heading(QStringLiteral("20")), QString());
    const std::optional<QString> page = document.pageHtml(QStringLiteral("110"));
    ASSERT_TRUE(page);
    EXPECT_TRUE(page->contains(QStringLiteral("h2 { color: red; }")));
    EXPECT_TRUE(page->contains(QStringLiteral("<p>Text</p>")));
    EXPECT_FALSE(page->contains(QStringLiteral("Contents")));
    EXPECT_FALSE(document.pageHtml(QStringLiteral("999")));
}

TEST_F(HelpDocumentTest, RefusesWhatItCannotShow) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    HelpDocument document;
    EXPECT_FALSE(document.load(dir.filePath(QStringLiteral("QuellitProject.HLP"))));
    EXPECT_FALSE(document.errorString().isEmpty());

    // An old binary help file, or any other file that is no help document of ours.
    QFile binary(dir.filePath(QStringLiteral("old.HLP")));
    ASSERT_TRUE(binary.open(QIODevice::WriteOnly));
    binary.write(QByteArray("\x3f\x5f\x03\x00\x10\x00\x00\x00<section", 16));
    binary.close();
    EXPECT_FALSE(document.load(binary.fileName()));
    EXPECT_TRUE(document.errorString().contains(QStringLiteral("no contents")));
    EXPECT_FALSE(document.hasPage(HelpDocument::ContentsId));
}

// The help file we ship: every number the window can ask for has its page, and
// no link leads nowhere.
TEST_F(HelpDocumentTest, ShippedFileHasEveryTopicAndNoDeadLink) {
    HelpDocument document;
    ASSERT_TRUE(document.load(QStringLiteral(TAVRO_HELP_FILE))) << document.errorString().toStdString();
    EXPECT_EQ(document.title(), QStringLiteral("Tavro Popup Blocker Help"));

    QList<int> wanted{10, 20, 40, 60, 70, 80, 90, 100, 110, 130, 210};
    for (const ControlDesign& control : controlDesigns())
        if (control.helpContextId != 0)
            wanted.append(control.helpContextId);
    for (const MenuDesign& menu : menuDesigns())
        if (menu.helpContextId != 0)
            wanted.append(menu.helpContextId);
    for (int topic : wanted) {
        EXPECT_TRUE(document.hasPage(QString::number(topic))) << topic;
        EXPECT_FALSE(document.heading(QString::number(topic)).isEmpty()) << topic;
    }
    EXPECT_TRUE(document.hasPage(HelpDocument::ContentsId));

    static const QRegularExpression link(QStringLiteral("href=\"#([^\"]+)\""));
    for (const QString& id : document.pageIds()) {
        const QString html = *document.pageHtml(id);
        for (auto it = link.globalMatch(html); it.hasNext();) {
            const QString target = it.next().captured(1);
            EXPECT_TRUE(document.hasPage(target)) << id.toStdString() << " links to " << target.toStdString();
        }
    }
}

} // namespace
} // namespace tavro::helpviewer
