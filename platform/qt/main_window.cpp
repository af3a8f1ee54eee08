#include "platform/qt/main_window.h"

#include "form/design.h"
#include "platform/qt/control_bindings.h"
#include "platform/qt/design_look.h"
#include "platform/qt/pictures.h"
#include "platform/qt/qt_text.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <map>
#include <utility>

namespace tavro::qt {

namespace {

// The top-level widget: turns Qt's paint and close into the window's events.
class FormWidget final : public QWidget {
public:
    std::function<void()> painted;
    std::function<void()> userClose;

protected:
    void paintEvent(QPaintEvent* event) override {
        QWidget::paintEvent(event);
        // Queued so that a handler that hides the window does not do it in the
        // middle of Qt's own painting.
        if (painted)
            QTimer::singleShot(0, this, painted);
    }
    void closeEvent(QCloseEvent* event) override {
        // The logic decides; a close that goes ahead ends the program itself.
        event->ignore();
        if (userClose)
            userClose();
    }
};

} // namespace

struct QtMainWindow::Impl {
    QtMainWindow& self;
    FormWidget* form = nullptr; // owned by Impl (top level)
    std::map<std::string, QWidget*, std::less<>> controls;
    std::map<std::string, Caption*, std::less<>> menuCaptions;
    std::vector<std::unique_ptr<ListView>> lists;
    std::unique_ptr<QtTimer> timer;
    FormEvents* events = nullptr;
    Icon icon = Icon::Enabled;
    WindowHandle handle = 0;
    bool ended = false;
    WindowProc proc;
    std::function<bool()> hiddenReachable;
    struct ExtraItem {
        std::string name;
        std::string caption;
        std::string before;
        std::function<void()> chosen;
    };
    std::vector<ExtraItem> extraItems;

    explicit Impl(QtMainWindow& owner) : self(owner) {}
    ~Impl() { delete form; }

    template <typename F> void deliver(F&& handler) {
        if (events && !ended)
            std::forward<F>(handler)(*events);
    }

    void build();
    QWidget* makeControl(const ControlDesign& d, QWidget* container);
    QString focusedControlName() const;
};

QWidget* QtMainWindow::Impl::makeControl(const ControlDesign& d, QWidget* container) {
    QWidget* w = nullptr;
    switch (d.kind) {
    case ControlKind::PictureBox: {
        auto* picture = new PictureBox;
        picture->setPixmap(tavroLogo());
        picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        picture->setCursor(Qt::PointingHandCursor);
        picture->setFocusPolicy(Qt::TabFocus);
        picture->clicked = [this, name = std::string(d.name)] {
            deliver([&](FormEvents& e) { e.Click(name); });
        };
        w = picture;
        break;
    }
    case ControlKind::CommandButton: {
        auto* button = new QPushButton(toQString(d.caption));
        button->setAutoDefault(false);
        QObject::connect(button, &QPushButton::clicked, form, [this, name = std::string(d.name)] {
            deliver([&](FormEvents& e) { e.Click(name); });
        });
        w = button;
        break;
    }
    case ControlKind::Frame:
        w = new QGroupBox(toQString(d.caption));
        w->setFocusPolicy(Qt::NoFocus);
        break;
    case ControlKind::CheckBox: {
        auto* box = new OptionCheckBox;
        box->setText(toQString(d.caption));
        w = box;
        break;
    }
    case ControlKind::HyperLink: {
        // The address comes with bindLink; until then the label leads nowhere.
        auto* link = new QLabel(linkHtml({}, toQString(d.caption)));
        link->setTextFormat(Qt::RichText);
        link->setTextInteractionFlags(Qt::TextBrowserInteraction);
        link->setOpenExternalLinks(false);
        QObject::connect(link, &QLabel::linkActivated, link, [](const QString& url) {
            if (!url.isEmpty())
                QDesktopServices::openUrl(QUrl(url));
        });
        link->setFont(fittedFont(toQString(d.caption), twipsToPixels(d.width)));
        link->setCursor(Qt::PointingHandCursor);
        w = link;
        break;
    }
    case ControlKind::ListBox: {
        auto* list = new QListWidget;
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setSortingEnabled(false);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        // A double-click anywhere in the box is the box's DblClick, as the
        // selection stands after the first click.
        list->viewport()->installEventFilter(
            new EventHook(list, [this, name = std::string(d.name)](QEvent* ev) {
                if (ev->type() == QEvent::MouseButtonDblClick)
                    deliver([&](FormEvents& e) { e.DblClick(name); });
                return false;
            }));
        w = list;
        break;
    }
    case ControlKind::Image: {
        auto* image = new QLabel;
        image->setPixmap(facePicture(d.name == "imgDisabled"));
        w = image;
        break;
    }
    case ControlKind::Timer:
    case ControlKind::Inet:
        return nullptr;
    }
    w->setObjectName(toQString(d.name));
    w->setParent(container);
    w->setGeometry(pixelRect(d));
    if (!d.toolTip.empty())
        w->setToolTip(toQString(d.toolTip));
    w->setVisible(d.visible);
    w->setAccessibleName(accessibleName(d));
    return w;
}

void QtMainWindow::Impl::build() {
    // The message boxes and the menu share the window's face; a style sheet would
    // otherwise put the frames back on the application's font.
    QApplication::setFont(designFont());
    form = new FormWidget;
    form->setObjectName(QStringLiteral("Quellit"));
    form->setWindowTitle(toQString(AppTitle));
    form->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    form->setFixedSize(twipsToPixels(ClientWidthTwips), twipsToPixels(ClientHeightTwips));
    // Every control of the design uses the same small sans-serif face.
    form->setFont(designFont());
    form->setStyleSheet(QString::fromLatin1(FrameStyle));
    form->setWindowIcon(iconFor(icon));
    form->painted = [this] { deliver([](FormEvents& e) { e.Form_Paint(); }); };
    form->userClose = [this] { self.close(CloseReason::User); };

    // The design lists containers before what they contain, and the later
    // control is drawn over the earlier one, as the links and the blocked list
    // drawn over their frames need.
    for (const ControlDesign& d : controlDesigns()) {
        QWidget* container = form;
        if (!d.container.empty())
            container = controls.at(std::string(d.container));
        if (QWidget* w = makeControl(d, container))
            controls.emplace(std::string(d.name), w);
    }

    // Qt chains only widgets that take the focus, so the frames drop out.
    std::vector<const ControlDesign*> order;
    for (const ControlDesign& d : controlDesigns())
        if (d.tabIndex >= 0 && controls.at(std::string(d.name))->focusPolicy() != Qt::NoFocus)
            order.push_back(&d);
    std::ranges::sort(order, {}, &ControlDesign::tabIndex);
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(controls.at(std::string(order[i - 1]->name)),
                             controls.at(std::string(order[i]->name)));

    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), form);
    help->setContext(Qt::WindowShortcut);
    QObject::connect(help, &QShortcut::activated, form, [this] {
        const std::string name = focusedControlName().toStdString();
        deliver([&](FormEvents& e) { e.HelpKey(name); });
    });

    timer = std::make_unique<QtTimer>(form);
    QObject::connect(timer->qtimer(), &QTimer::timeout, form,
                     [this] { deliver([](FormEvents& e) { e.Timer1_Timer(); }); });
    timer->setEnabled(true);

    // Any stable number will do; the native window id is one when there is a native window.
    handle = static_cast<WindowHandle>(form->winId() & 0x7fffffffU);
    if (handle == 0)
        handle = 1;

    // The window's own procedure ends every chain and answers nothing.
    proc = [](WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) { return std::intptr_t{0}; };
}

QString QtMainWindow::Impl::focusedControlName() const {
    for (QWidget* w = QApplication::focusWidget(); w && w != form; w = w->parentWidget()) {
        if (controls.contains(w->objectName().toStdString()))
            return w->objectName();
    }
    return {};
}

QtMainWindow::QtMainWindow() : m(std::make_unique<Impl>(*this)) {
    m->build();
}

// The models are the logic's and may already be gone: they are left alone.
QtMainWindow::~QtMainWindow() = default;

WindowHandle QtMainWindow::hWnd() const {
    return m->handle;
}

std::string QtMainWindow::caption() const {
    return m->form->windowTitle().toStdString();
}

void QtMainWindow::setCaption(const std::string& caption) {
    m->form->setWindowTitle(toQString(caption));
}

Icon QtMainWindow::icon() const {
    return m->icon;
}

void QtMainWindow::setIcon(Icon icon) {
    m->icon = icon;
    m->form->setWindowIcon(iconFor(icon));
}

void QtMainWindow::show() {
    m->form->setWindowState(m->form->windowState() & ~Qt::WindowMinimized);
    m->form->show();
    m->form->raise();
    m->form->activateWindow();
}

void QtMainWindow::hide() {
    // Only the notification-area icon brings a hidden window back, and many
    // desktops have no notification area. A window hidden there would leave
    // the running program out of the user's reach; the task bar keeps it.
    if (m->hiddenReachable && !m->hiddenReachable()) {
        m->form->showMinimized();
        return;
    }
    m->form->hide();
}

void QtMainWindow::setHiddenWindowReachable(std::function<bool()> reachable) {
    m->hiddenReachable = std::move(reachable);
}

bool QtMainWindow::visible() const {
    return m->form->isVisible() && !m->form->isMinimized();
}

void QtMainWindow::close(CloseReason reason) {
    if (m->ended || !m->events)
        return;
    // A close from outside (a signal) can come while a handler waits in a
    // message box or the tray menu. Handlers never overlap and nothing may run
    // after the unload, so the wait is ended as a No would end it, and the
    // close comes once the handler is done.
    if (QThread::currentThread()->loopLevel() > 1) {
        if (QWidget* waiting = QApplication::activePopupWidget() ? QApplication::activePopupWidget()
                                                                 : QApplication::activeModalWidget())
            waiting->close();
        QTimer::singleShot(0, m->form, [this, reason] { close(reason); });
        return;
    }
    std::int16_t cancel = 0;
    m->events->Form_QueryUnload(cancel, static_cast<std::int16_t>(reason));
    if (cancel != 0 || m->ended)
        return;
    m->events->Form_Unload(cancel);
    if (cancel != 0 || m->ended)
        return;
    // The window is the program's only one: once it is gone the program ends,
    // and no tick or click may reach the logic in between.
    m->ended = true;
    m->timer->setEnabled(false);
    m->form->hide();
    // Only a running event loop can be told to end; before it runs (start-up)
    // or after it has ended (the session's end) the caller sees ended().
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(0);
}

WindowProc QtMainWindow::setWindowProc(WindowProc proc) {
    return std::exchange(m->proc, std::move(proc));
}

std::intptr_t QtMainWindow::send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (m->ended)
        return 0;
    // A copy: the procedure may replace itself while it runs.
    const WindowProc proc = m->proc;
    return proc(m->handle, message, wParam, lParam);
}

void QtMainWindow::popupMenu(const std::vector<std::string>& items, const std::string& defaultItem) {
    QMenu menu;
    menu.setObjectName(QStringLiteral("mnuTrayIconPopup"));
    menu.setFont(m->form->font());
    for (const std::string& item : items) {
        const MenuDesign* design = findMenu(item);
        // Hidden items of the design never show, whoever asks for them.
        if (!design || !design->visible)
            continue;
        for (const Impl::ExtraItem& extra : m->extraItems) {
            if (extra.before == item)
                menu.addAction(toQString(extra.caption))->setObjectName(toQString(extra.name));
        }
        if (design->caption == "-") {
            menu.addSeparator()->setObjectName(toQString(design->name));
            continue;
        }
        const auto caption = m->menuCaptions.find(item);
        const QString text = caption != m->menuCaptions.end() ? toQString(caption->second->text())
                                                              : toQString(design->caption);
        QAction* action = menu.addAction(text);
        action->setObjectName(toQString(design->name));
        if (item == defaultItem) {
            menu.setDefaultAction(action);
            QFont bold = menu.font();
            bold.setBold(true);
            action->setFont(bold);
        }
    }
    QAction* chosen = menu.exec(QCursor::pos());
    if (chosen) {
        const std::string name = chosen->objectName().toStdString();
        for (const Impl::ExtraItem& extra : m->extraItems) {
            if (extra.name == name) {
                // A copy: what it runs may add items.
                const std::function<void()> run = extra.chosen;
                if (!m->ended)
                    run();
                return;
            }
        }
        m->deliver([&](FormEvents& e) { e.Click(name); });
    }
}

void QtMainWindow::setEvents(FormEvents* events) {
    m->events = events;
}

void QtMainWindow::bindList(std::string_view name, ListBox& model) {
    auto* list = qobject_cast<QListWidget*>(control(name));
    if (!list)
        return;
    m->lists.push_back(std::make_unique<ListView>(list, model));
}

void QtMainWindow::bindCheckBox(std::string_view name, CheckBox& model) {
    auto* box = qobject_cast<QCheckBox*>(control(name));
    if (!box)
        return;
    bindCheckState(box, model,
                   [this, n = std::string(name)] { m->deliver([&](FormEvents& e) { e.Click(n); }); });
}

void QtMainWindow::bindCaption(std::string_view name, Caption& model) {
    if (auto* button = qobject_cast<QPushButton*>(control(name))) {
        button->setText(toQString(model.text()));
        model.setObserver([button](const std::string& text) { button->setText(toQString(text)); });
    } else if (findMenu(name)) {
        m->menuCaptions.insert_or_assign(std::string(name), &model);
    }
}

void QtMainWindow::bindLink(std::string_view name, const std::string& address) {
    const ControlDesign* design = findControl(name);
    auto* link = qobject_cast<QLabel*>(control(name));
    if (!design || design->kind != ControlKind::HyperLink || !link)
        return;
    link->setText(linkHtml(toQString(address), toQString(design->caption)));
}

void QtMainWindow::addMenuItem(std::string name, std::string caption, std::string before,
                               std::function<void()> chosen) {
    m->extraItems.push_back({std::move(name), std::move(caption), std::move(before), std::move(chosen)});
}

bool QtMainWindow::ended() const {
    return m->ended;
}

Timer& QtMainWindow::timer1() {
    return *m->timer;
}

QWidget* QtMainWindow::widget() const {
    return m->form;
}

QWidget* QtMainWindow::control(std::string_view name) const {
    const auto it = m->controls.find(name);
    return it == m->controls.end() ? nullptr : it->second;
}

} // namespace tavro::qt
