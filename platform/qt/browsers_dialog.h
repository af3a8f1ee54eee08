#pragma once

#include "platform/browser_status.h"

#include <QDialog>
#include <functional>
#include <vector>

class QTableWidget;
class QTimer;

namespace tavro::qt {

// "Browsers": each browser found, and what protects it now. The rows are
// asked for again about once a second while the view shows, so that
// profiles that connect or go, and browsers found by a slower look, show at
// once; opening is true at the first ask after each show, when that look is
// worth making again.
class BrowsersDialog final : public QDialog {
public:
    using Rows = std::function<std::vector<BrowserRow>(bool opening)>;

    explicit BrowsersDialog(Rows rows, QWidget* parent = nullptr);

    // Shows the view, or brings it forward when it shows already.
    void present();
    // The rows shown, from the rows asked for last (for tests).
    QTableWidget* table() const { return m_table; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void refresh(bool opening);

    Rows m_rows;
    QTableWidget* m_table;
    QTimer* m_timer;
};

} // namespace tavro::qt
