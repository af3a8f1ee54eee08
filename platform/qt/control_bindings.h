#pragma once

#include "platform/controls.h"
#include "platform/toolkit.h"

#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <string>

class QAbstractScrollArea;
class QListWidget;
class QMouseEvent;

// The Qt widgets of the window's controls and what keeps each in step with the
// control model the logic owns.
namespace tavro::qt {

// The logo: a click on it is the picture box's Click.
class PictureBox final : public QLabel {
public:
    std::function<void()> clicked;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// A click never grays a box: only a stored value can. A grayed box becomes checked.
class OptionCheckBox final : public QCheckBox {
protected:
    void nextCheckState() override;
};

// Runs a function for the events of another object.
class EventHook final : public QObject {
public:
    EventHook(QObject* parent, std::function<bool(QEvent*)> hook)
        : QObject(parent), m_hook(std::move(hook)) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override { return m_hook(event); }

private:
    std::function<bool(QEvent*)> m_hook;
};

// The timer Timer1 of the design, on a QTimer the window owns.
class QtTimer final : public Timer {
public:
    explicit QtTimer(QObject* parent);
    int interval() const override { return m_timer->interval(); }
    bool enabled() const override { return m_timer->isActive(); }
    void setEnabled(bool enabled) override;
    QTimer* qtimer() const { return m_timer; }

private:
    QTimer* m_timer;
};

// Tells whether a widget is handling a mouse button or key press of the user's
// at the moment: true from the press until the event loop next runs.
class UserInputWatch final : public QObject {
public:
    explicit UserInputWatch(QAbstractScrollArea* area);
    bool active() const { return m_active; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool m_active = false;
};

// Keeps a list widget and its model in step. The model is the truth; the
// widget's own changes of selection are only accepted from the user.
class ListView final : public ListBox::Observer {
public:
    ListView(QListWidget* widget, ListBox& model);
    ListView(const ListView&) = delete;
    ListView& operator=(const ListView&) = delete;

    void appended(const std::string& text) override;
    void removed(std::int16_t position) override;
    void selectionChanged(std::int16_t position) override;

private:
    void showSelection(std::int16_t position);
    void userSelected();

    QListWidget* m_widget;
    ListBox& m_model;
    UserInputWatch m_input;
};

// Shows the check box model in the box and takes the user's clicks back into
// it; clicked runs after the model has the new value.
void bindCheckState(QCheckBox* box, CheckBox& model, std::function<void()> clicked);

} // namespace tavro::qt
