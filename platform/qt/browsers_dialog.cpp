#include "platform/qt/browsers_dialog.h"

#include "platform/qt/qt_text.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace tavro::qt {

namespace {

constexpr int RefreshMs = 1000;

} // namespace

BrowsersDialog::BrowsersDialog(Rows rows, QWidget* parent)
    : QDialog(parent), m_rows(std::move(rows)), m_table(new QTableWidget(this)), m_timer(new QTimer(this)) {
    setObjectName(QStringLiteral("frmBrowsers"));
    setWindowTitle(QStringLiteral("Browsers"));
    auto* layout = new QVBoxLayout(this);
    auto* about =
        new QLabel(QStringLiteral("The browsers found on this computer, and what protects each of them "
                                  "now. A browser is protected while its extension is connected, or "
                                  "while its guarded profile is watched."),
                   this);
    about->setWordWrap(true);
    layout->addWidget(about);

    m_table->setObjectName(QStringLiteral("tblBrowsers"));
    m_table->setColumnCount(static_cast<int>(std::size(BrowserColumns)));
    QStringList headings;
    for (const char* heading : BrowserColumns)
        headings << QString::fromUtf8(heading);
    m_table->setHorizontalHeaderLabels(headings);
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setWordWrap(true);
    m_table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(m_table);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    m_timer->setInterval(RefreshMs);
    connect(m_timer, &QTimer::timeout, this, [this] { refresh(false); });
    resize(780, 260);
}

void BrowsersDialog::present() {
    if (isVisible()) {
        raise();
        activateWindow();
        return;
    }
    show();
    activateWindow();
}

void BrowsersDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    refresh(true);
    m_timer->start();
}

void BrowsersDialog::hideEvent(QHideEvent* event) {
    m_timer->stop();
    QDialog::hideEvent(event);
}

void BrowsersDialog::refresh(bool opening) {
    const std::vector<BrowserRow> rows = m_rows(opening);
    bool changed = m_table->rowCount() != static_cast<int>(rows.size());
    m_table->setRowCount(static_cast<int>(rows.size()));
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const BrowserRow& row = rows[r];
        const std::string* cells[] = {&row.browser, &row.installedAs, &row.extension, &row.guarded,
                                      &row.action};
        for (int c = 0; c < static_cast<int>(std::size(cells)); ++c) {
            const QString text = toQString(*cells[c]);
            QTableWidgetItem* item = m_table->item(static_cast<int>(r), c);
            if (!item) {
                item = new QTableWidgetItem;
                m_table->setItem(static_cast<int>(r), c, item);
            }
            // Set only when changed, so that a selection and the scroll stay put.
            if (item->text() != text) {
                item->setText(text);
                item->setToolTip(text);
                changed = true;
            }
        }
    }
    if (changed) {
        for (int c = 0; c + 1 < m_table->columnCount(); ++c)
            m_table->resizeColumnToContents(c);
        m_table->resizeRowsToContents();
    }
}

} // namespace tavro::qt
