#include "form/design.h"
#include "platform/qt/main_window.h"
#include "platform/qt/qt_text.h"
#include "platform/qt/termination_signals.h"
#include "tests/qt/qt_test_support.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>

namespace tavro {
namespace {

using qttest::processUntil;
using qttest::RecordingEvents;

QString qs(std::string_view text) {
    return qt::toQString(text);
}

class MainWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { qttest::ensureApplication(); }
    void SetUp() override { window.setEvents(&events); }
    void TearDown() override { window.setEvents(nullptr); }

    QWidget* control(std::string_view name) { return window.control(name); }
    void showAndActivate() {
        window.show();
        QApplication::setActiveWindow(window.widget());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.widget()));
    }

    // Declared first so the window, which holds their observers, goes first.
    ListBox blocked;
    ListBox allowed;
    CheckBox beep;
    Caption enableCaption{"Disable"};
    Caption menuCaption{"Disable"};
    RecordingEvents events;
    qt::QtMainWindow window;
};

TEST_F(MainWindowTest, EveryControlStandsWhereTheDesignPutsIt) {
    QWidget* form = window.widget();
    EXPECT_EQ(form->size(), QSize(370, 344));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(window.caption(), "Tavro Popup Blocker");

    int widgets = 0;
    for (const ControlDesign& d : controlDesigns()) {
        SCOPED_TRACE(std::string(d.name));
        QWidget* w = control(d.name);
        if (d.kind == ControlKind::Timer || d.kind == ControlKind::Inet) {
            EXPECT_EQ(w, nullptr);
            continue;
        }
        ASSERT_NE(w, nullptr);
        ++widgets;
        EXPECT_EQ(w->objectName(), qs(d.name));
        const QWidget* container = d.container.empty() ? form : control(d.container);
        EXPECT_EQ(w->parentWidget(), container);
        EXPECT_EQ(w->geometry(), QRect(twipsToPixels(d.left), twipsToPixels(d.top), twipsToPixels(d.width),
                                       twipsToPixels(d.height)));
        EXPECT_EQ(w->toolTip(), qs(d.toolTip));
        EXPECT_EQ(w->isVisibleTo(form), d.visible);
        QString caption;
        if (auto* button = qobject_cast<QPushButton*>(w))
            caption = button->text();
        else if (auto* box = qobject_cast<QCheckBox*>(w))
            caption = box->text();
        else if (auto* frame = qobject_cast<QGroupBox*>(w))
            caption = frame->title();
        else if (auto* label = qobject_cast<QLabel*>(w); label && d.kind == ControlKind::HyperLink)
            caption = label->text();
        if (d.kind == ControlKind::HyperLink) {
            EXPECT_TRUE(caption.contains(qs(d.caption))) << caption.toStdString();
        } else if (!d.caption.empty()) {
            EXPECT_EQ(caption, qs(d.caption));
        }
    }
    EXPECT_EQ(widgets, 20);
    // The blocked list is the window's own child, drawn over its frame.
    EXPECT_TRUE(control("Frame3")->geometry().contains(control("lstBlockedUrls")->geometry()));
    EXPECT_TRUE(control("Frame2")->geometry().contains(control("lnkSearch")->geometry()));
}

TEST_F(MainWindowTest, LinksLeadWhereTheyAreBoundInDarkGreenNotUnderlined) {
    for (const char* name : {"lnkSearch", "lnkFeedback", "lnkRefer"}) {
        SCOPED_TRACE(name);
        const std::string address = std::string("http://site.test/") + name;
        window.bindLink(name, address);
        auto* label = qobject_cast<QLabel*>(control(name));
        ASSERT_NE(label, nullptr);
        QTextDocument document;
        document.setHtml(label->text());
        QTextCursor cursor(&document);
        cursor.movePosition(QTextCursor::NextCharacter);
        const QTextCharFormat format = cursor.charFormat();
        EXPECT_TRUE(format.isAnchor());
        EXPECT_EQ(format.anchorHref(), qs(address));
        EXPECT_FALSE(format.fontUnderline());
        EXPECT_EQ(format.foreground().color(), QColor(0x00, 0x40, 0x00));
        EXPECT_TRUE(label->font().families().contains(QStringLiteral("MS Sans Serif")));
        EXPECT_DOUBLE_EQ(label->font().pointSizeF(), 8.25);
    }
    EXPECT_EQ(control("Picture1")->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(MainWindowTest, ListsAndLogoHaveNamesAScreenReaderCanSay) {
    EXPECT_EQ(control("lstBlockedUrls")->accessibleName(), qs(findControl("Frame3")->caption));
    EXPECT_EQ(control("lstWhiteList")->accessibleName(), qs(findControl("Frame4")->caption));
    EXPECT_EQ(control("Picture1")->accessibleName(), qs(AppTitle));
}

TEST_F(MainWindowTest, TabOrderFollowsTheDesign) {
    std::vector<const ControlDesign*> order;
    for (const ControlDesign& d : controlDesigns())
        if (d.tabIndex >= 0)
            order.push_back(&d);
    std::ranges::sort(order, {}, &ControlDesign::tabIndex);

    // Frames take no focus; every other control does, in the design's order.
    std::vector<std::string> expected;
    for (const ControlDesign* d : order) {
        const bool focusable = control(d->name)->focusPolicy() & Qt::TabFocus;
        EXPECT_EQ(focusable, d->kind != ControlKind::Frame) << d->name;
        if (focusable)
            expected.emplace_back(d->name);
    }

    // Walk the focus chain once round from the first control.
    std::vector<std::string> seen;
    QWidget* first = control(expected.front());
    QWidget* w = first;
    do {
        const std::string name = w->objectName().toStdString();
        if (findControl(name) && (w->focusPolicy() & Qt::TabFocus))
            seen.push_back(name);
        w = w->nextInFocusChain();
    } while (w != first);
    EXPECT_EQ(seen, expected);
}

TEST_F(MainWindowTest, ListsFollowTheirModelsAndReportTheUser) {
    allowed.append("a.example");
    window.bindList("lstWhiteList", allowed);
    auto* list = qobject_cast<QListWidget*>(control("lstWhiteList"));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count(), 1);

    allowed.append("b.example");
    allowed.append("c.example");
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(2)->text(), QStringLiteral("c.example"));

    // Qt selecting on its own (as it does when the list gets the focus back)
    // does not reach the model, and the view goes back to the model's word.
    list->setCurrentRow(2);
    EXPECT_EQ(allowed.selected(), ListBox::NoSelection);
    EXPECT_TRUE(list->selectedItems().isEmpty());

    // The user selects: the model learns it.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
    EXPECT_EQ(allowed.selected(), 1);

    // The program removes the selected entry: nothing stays selected, as the
    // model says, although Qt would move on to the next row by itself.
    allowed.removeAt(1);
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(1)->text(), QStringLiteral("c.example"));
    EXPECT_EQ(allowed.selected(), ListBox::NoSelection);
    EXPECT_TRUE(list->selectedItems().isEmpty());

    allowed.setSelected(1);
    ASSERT_EQ(list->selectedItems().size(), 1);
    EXPECT_EQ(list->row(list->selectedItems().front()), 1);
    // Removing an entry before the selection moves the selection with its entry.
    allowed.removeAt(0);
    EXPECT_EQ(allowed.selected(), 0);
    ASSERT_EQ(list->selectedItems().size(), 1);
    EXPECT_EQ(list->selectedItems().front()->text(), QStringLiteral("c.example"));
}

TEST_F(MainWindowTest, DoubleClickOnAListIsItsDblClick) {
    window.bindList("lstBlockedUrls", blocked);
    blocked.append("pop.example");
    showAndActivate();
    auto* list = qobject_cast<QListWidget*>(control("lstBlockedUrls"));
    const QPoint entry = list->visualItemRect(list->item(0)).center();
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, entry);
    EXPECT_EQ(blocked.selected(), 0);
    EXPECT_TRUE(events.saw("DblClick lstBlockedUrls"));
}

TEST_F(MainWindowTest, CheckBoxesShowTheModelAndTakeTheUsersClick) {
    beep.setValue(CheckBox::Grayed);
    window.bindCheckBox("chkBeep", beep);
    auto* box = qobject_cast<QCheckBox*>(control("chkBeep"));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->checkState(), Qt::PartiallyChecked);

    const struct {
        Qt::CheckState before;
        std::int16_t after;
    } clicks[] = {
        {Qt::PartiallyChecked, CheckBox::Checked},
        {Qt::Checked, CheckBox::Unchecked},
        {Qt::Unchecked, CheckBox::Checked},
    };
    for (const auto& click : clicks) {
        ASSERT_EQ(box->checkState(), click.before);
        box->click();
        EXPECT_EQ(beep.value(), click.after);
    }
    EXPECT_EQ(std::ranges::count(events.log, std::string("Click chkBeep")), 3);

    // Changes by the program show, and raise no Click.
    beep.setValue(CheckBox::Unchecked);
    EXPECT_EQ(box->checkState(), Qt::Unchecked);
    EXPECT_EQ(std::ranges::count(events.log, std::string("Click chkBeep")), 3);
}

TEST_F(MainWindowTest, ButtonsAndTheLogoRaiseClickAndCaptionsFollowTheirModels) {
    window.bindCaption("cmd_Enable", enableCaption);
    auto* button = qobject_cast<QPushButton*>(control("cmd_Enable"));
    enableCaption.setText("Enable");
    EXPECT_EQ(button->text(), QStringLiteral("Enable"));

    for (const char* name : {"cmd_Enable", "cmd_Hide", "cmd_Quit", "Command1", "Command2"})
        qobject_cast<QPushButton*>(control(name))->click();
    QTest::mouseClick(control("Picture1"), Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(events.log, (std::vector<std::string>{"Click cmd_Enable", "Click cmd_Hide", "Click cmd_Quit",
                                                    "Click Command1", "Click Command2", "Click Picture1"}));
}

TEST_F(MainWindowTest, F1NamesTheFocusedControl) {
    showAndActivate();
    control("lstWhiteList")->setFocus();
    QTest::keyClick(window.widget(), Qt::Key_F1);
    control("chkMenubar")->setFocus();
    QTest::keyClick(window.widget(), Qt::Key_F1);
    EXPECT_TRUE(events.saw("HelpKey lstWhiteList"));
    EXPECT_TRUE(events.saw("HelpKey chkMenubar"));
}

TEST_F(MainWindowTest, ShowPaintsAndHideLeavesNoWindow) {
    window.show();
    EXPECT_TRUE(window.visible());
    EXPECT_TRUE(processUntil([&] { return events.saw("Paint"); }));
    window.hide();
    EXPECT_FALSE(window.visible());
    EXPECT_FALSE(window.widget()->isVisible());
}

TEST_F(MainWindowTest, CaptionAndIconCanBeSet) {
    window.setCaption("Tavro Popup Blocker Version 2.7");
    EXPECT_EQ(window.widget()->windowTitle(), QStringLiteral("Tavro Popup Blocker Version 2.7"));
    EXPECT_EQ(window.icon(), Icon::Enabled);
    const QImage enabled = window.widget()->windowIcon().pixmap(16, 16).toImage();
    window.setIcon(Icon::Disabled);
    EXPECT_EQ(window.icon(), Icon::Disabled);
    EXPECT_NE(window.widget()->windowIcon().pixmap(16, 16).toImage(), enabled);
}

TEST_F(MainWindowTest, WindowProcedureChainHandsBackThePreviousOne) {
    EXPECT_NE(window.hWnd(), 0);
    EXPECT_EQ(window.hWnd(), window.hWnd());
    std::vector<std::uint32_t> seen;
    WindowProc previous = window.setWindowProc(
        [&](WindowHandle h, std::uint32_t msg, std::uintptr_t w, std::intptr_t l) -> std::intptr_t {
            seen.push_back(msg);
            return previous(h, msg, w, l) + 7;
        });
    ASSERT_TRUE(previous);
    // The window's own procedure answers 0 to everything.
    EXPECT_EQ(window.send(1400, 0, 517), 7);
    EXPECT_EQ(window.send(15, 0, 0), 7);
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{1400, 15}));

    WindowProc hook = window.setWindowProc(previous);
    EXPECT_TRUE(hook);
    EXPECT_EQ(window.send(1400, 0, 517), 0);
    EXPECT_EQ(seen.size(), 2U);
}

TEST_F(MainWindowTest, PopupMenuShowsTheVisibleItemsWithTheDefaultInBold) {
    menuCaption.setText("Enable");
    window.bindCaption("mnuEnable", menuCaption);
    std::vector<std::string> shown;
    bool bold = false;
    bool clickedBeforeClose = false;
    QTimer::singleShot(50, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        for (QAction* a : menu->actions())
            shown.push_back(a->isSeparator() ? "-" : a->text().toStdString());
        bold = menu->defaultAction() && menu->defaultAction()->objectName() == QStringLiteral("mnuShow") &&
               menu->defaultAction()->font().bold();
        for (QAction* a : menu->actions())
            if (a->objectName() == QStringLiteral("mnuAbout"))
                menu->setActiveAction(a);
        clickedBeforeClose = events.saw("Click mnuAbout");
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(menu, &enter);
    });
    // Everything of the design, hidden items included: those never show.
    std::vector<std::string> items;
    for (const MenuDesign& m : menuDesigns())
        items.emplace_back(m.name);
    window.popupMenu(items, "mnuShow");

    EXPECT_EQ(shown, (std::vector<std::string>{"Show", "Enable", "About", "-", "Help", "Exit"}));
    EXPECT_TRUE(bold);
    EXPECT_FALSE(clickedBeforeClose);
    EXPECT_EQ(events.log, (std::vector<std::string>{"Click mnuAbout"}));
}

TEST_F(MainWindowTest, PopupMenuClosedWithoutChoiceRaisesNothing) {
    QTimer::singleShot(50, [] {
        if (QWidget* menu = QApplication::activePopupWidget())
            menu->close();
    });
    window.popupMenu({"mnuShow", "mnuExit"}, "mnuShow");
    EXPECT_TRUE(events.log.empty());
}

TEST_F(MainWindowTest, UserCloseOnlyAsksAndTheLogicKeepsTheWindow) {
    window.show();
    window.widget()->close();
    EXPECT_EQ(events.log.back(), "QueryUnload 0");
    EXPECT_FALSE(events.saw("Unload"));
    EXPECT_FALSE(window.ended());
}

TEST_F(MainWindowTest, ACloseThatGoesAheadUnloadsAndEndsTheWindow) {
    const struct {
        CloseReason reason;
        const char* query;
    } closes[] = {
        {CloseReason::Program, "QueryUnload 1"},
        {CloseReason::Session, "QueryUnload 2"},
        {CloseReason::TaskManager, "QueryUnload 3"},
    };
    for (const auto& close : closes) {
        SCOPED_TRACE(close.query);
        RecordingEvents recorder;
        qt::QtMainWindow w;
        w.setEvents(&recorder);
        w.show();
        w.close(close.reason);
        EXPECT_EQ(recorder.log.back(), "Unload");
        EXPECT_TRUE(recorder.saw(close.query));
        EXPECT_TRUE(w.ended());
        EXPECT_FALSE(w.visible());
        EXPECT_FALSE(w.timer1().enabled());
        // Nothing reaches the logic after the unload.
        const std::size_t before = recorder.log.size();
        w.close(CloseReason::Program);
        qobject_cast<QPushButton*>(w.control("cmd_Hide"))->click();
        EXPECT_EQ(recorder.log.size(), before);
    }
}

TEST_F(MainWindowTest, TerminationSignalClosesWithReasonThree) {
    qt::TerminationSignals handler([this](int) { window.close(CloseReason::TaskManager); });
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_TRUE(processUntil([&] { return window.ended(); }));
    EXPECT_EQ(events.log, (std::vector<std::string>{"QueryUnload 3", "Unload"}));
}

TEST_F(MainWindowTest, TimerTicksEverySixHundredMillisecondsUntilDisabled) {
    Timer& timer = window.timer1();
    EXPECT_EQ(timer.interval(), 600);
    EXPECT_TRUE(timer.enabled());
    EXPECT_TRUE(processUntil([&] { return events.ticks >= 1; }, 2000));
    timer.setEnabled(false);
    EXPECT_FALSE(timer.enabled());
    const int ticks = events.ticks;
    QTest::qWait(700);
    EXPECT_EQ(events.ticks, ticks);
}

} // namespace
} // namespace tavro
