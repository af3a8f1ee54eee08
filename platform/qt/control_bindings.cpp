#include "platform/qt/control_bindings.h"

#include "form/design.h"
#include "platform/qt/qt_text.h"

#include <QAbstractScrollArea>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QMouseEvent>
#include <QSignalBlocker>

namespace tavro::qt {

namespace {

Qt::CheckState toCheckState(std::int16_t value) {
    switch (value) {
    case CheckBox::Checked:
        return Qt::Checked;
    case CheckBox::Grayed:
        return Qt::PartiallyChecked;
    default:
        return Qt::Unchecked;
    }
}

std::int16_t toCheckValue(Qt::CheckState state) {
    switch (state) {
    case Qt::Checked:
        return CheckBox::Checked;
    case Qt::PartiallyChecked:
        return CheckBox::Grayed;
    default:
        return CheckBox::Unchecked;
    }
}

} // namespace

void PictureBox::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && clicked)
        clicked();
}

void OptionCheckBox::nextCheckState() {
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

QtTimer::QtTimer(QObject* parent) : m_timer(new QTimer(parent)) {
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(Timer1Interval);
}

void QtTimer::setEnabled(bool enabled) {
    if (enabled)
        m_timer->start();
    else
        m_timer->stop();
}

UserInputWatch::UserInputWatch(QAbstractScrollArea* area) {
    area->installEventFilter(this);
    area->viewport()->installEventFilter(this);
}

bool UserInputWatch::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::KeyPress:
        if (!m_active) {
            m_active = true;
            QTimer::singleShot(0, this, [this] { m_active = false; });
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

ListView::ListView(QListWidget* widget, ListBox& model) : m_widget(widget), m_model(model), m_input(widget) {
    for (std::int16_t i = 0; i < model.count(); ++i)
        m_widget->addItem(toQString(model.text(i)));
    showSelection(model.selected());
    QObject::connect(m_widget, &QListWidget::itemSelectionChanged, m_widget, [this] { userSelected(); });
    m_model.setObserver(this);
}

void ListView::appended(const std::string& text) {
    const QSignalBlocker blocker(m_widget);
    m_widget->addItem(toQString(text));
}

void ListView::removed(std::int16_t position) {
    {
        const QSignalBlocker blocker(m_widget);
        delete m_widget->takeItem(position);
    }
    // Qt moves its selection on its own when the selected row goes; the
    // model's rule decides instead.
    showSelection(m_model.selected());
}

void ListView::selectionChanged(std::int16_t position) {
    showSelection(position);
}

void ListView::showSelection(std::int16_t position) {
    const QSignalBlocker blocker(m_widget);
    if (position == ListBox::NoSelection) {
        m_widget->selectionModel()->clearSelection();
        m_widget->setCurrentRow(-1, QItemSelectionModel::NoUpdate);
    } else {
        m_widget->setCurrentRow(position, QItemSelectionModel::ClearAndSelect);
    }
}

void ListView::userSelected() {
    // Qt selects on its own too: it keeps one entry selected when the
    // selected one goes, and picks one when the list gets the focus back.
    // Only the user's own clicks and keys change the model.
    if (!m_input.active()) {
        showSelection(m_model.selected());
        return;
    }
    const QList<QListWidgetItem*> items = m_widget->selectedItems();
    const int row = items.isEmpty() ? -1 : m_widget->row(items.front());
    m_model.setSelected(static_cast<std::int16_t>(row));
}

void bindCheckState(QCheckBox* box, CheckBox& model, std::function<void()> clicked) {
    box->setCheckState(toCheckState(model.value()));
    model.setObserver([box](std::int16_t value) {
        const QSignalBlocker blocker(box);
        box->setCheckState(toCheckState(value));
    });
    QObject::connect(box, &QCheckBox::clicked, box, [box, &model, clicked = std::move(clicked)] {
        model.setValue(toCheckValue(box->checkState()));
        clicked();
    });
}

} // namespace tavro::qt
