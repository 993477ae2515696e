#include "maintenance/ui/firmware_dlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <utility>

namespace taviro::maintenance {

namespace {

constexpr int kProgressWidth = 140;

}  // namespace

CFirmwareDlg::CFirmwareDlg(CFirmwareService& service, platform::IMessageSink& sink,
                           UpgradeScan scan, platform::TextLookup texts, QWidget* parent)
    : QDialog(parent), m_logic(service, sink, std::move(scan)), m_texts(std::move(texts)) {
    setWindowTitle(QStringLiteral("Firmware Upgrade"));
    auto* grid = new QGridLayout;
    for (std::size_t i = 0; i < kFwRows; ++i) {
        Row& row = m_rows[i];
        const int line = static_cast<int>(i);
        row.check = new QCheckBox(this);
        row.label =
            new QLabel(QString::fromStdString(m_texts(m_logic.View().rows[i].labelText)), this);
        row.progress = new QProgressBar(this);
        row.progress->setRange(0, 100);
        row.progress->setFixedWidth(kProgressWidth);
        row.status = new QLabel(this);
        // Which file the row would write, so the operator sees what is about to be flashed.
        auto* file = new QLabel(this);
        const UpgradeScan& found = m_logic.Scan();
        if (i < found.slotCount && !found.upgradeSlots[i].path.empty()) {
            file->setText(QString::fromStdString(found.upgradeSlots[i].path.filename().string()));
            file->setToolTip(QString::fromStdString(found.upgradeSlots[i].path.string()));
        }
        grid->addWidget(row.check, line, 0);
        grid->addWidget(row.label, line, 1);
        grid->addWidget(file, line, 2);
        grid->addWidget(row.progress, line, 3);
        grid->addWidget(row.status, line, 4);
        connect(row.check, &QCheckBox::toggled, this, [this, i](bool on) {
            m_logic.SetChecked(i, on);
            Refresh();
        });
    }
    m_start = new QPushButton(QStringLiteral("Start"), this);
    m_stop = new QPushButton(QStringLiteral("Stop"), this);
    m_close = new QPushButton(QStringLiteral("Close"), this);
    connect(m_start, &QPushButton::clicked, this, [this] {
        m_logic.Start();
        Refresh();
    });
    connect(m_stop, &QPushButton::clicked, this, [this] {
        m_logic.Stop();
        Refresh();
    });
    connect(m_close, &QPushButton::clicked, this, &CFirmwareDlg::close);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_start);
    buttons->addWidget(m_stop);
    buttons->addWidget(m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    Refresh();
}

void CFirmwareDlg::PostedMessage(const platform::PostedMessage& message) {
    if (m_logic.OnMessage(message.message, message.wParam, message.lParam)) {
        Refresh();
    }
}

void CFirmwareDlg::Refresh() {
    const FwView& view = m_logic.View();
    for (std::size_t i = 0; i < kFwRows; ++i) {
        const FwRowView& r = view.rows[i];
        Row& row = m_rows[i];
        {
            // The logic already knows the check state; echoing it back changes nothing.
            const QSignalBlocker block(row.check);
            row.check->setChecked(r.checked);
        }
        row.check->setEnabled(r.enabled);
        row.label->setEnabled(r.hasSlot);
        row.progress->setValue(r.percent);
        row.status->setText(r.statusText == kFwTextNone
                                ? QString()
                                : QString::fromStdString(m_texts(r.statusText)));
    }
    m_start->setVisible(view.startVisible);
    m_start->setEnabled(view.startEnabled);
    m_stop->setVisible(view.stopVisible);
    m_stop->setEnabled(view.stopEnabled);
    m_close->setEnabled(view.closeEnabled);
}

void CFirmwareDlg::closeEvent(QCloseEvent* event) {
    // Never waits: a running worker is told to stop; the connection's shutdown joins it.
    m_logic.Close();
    event->accept();
}

void CFirmwareDlg::reject() {
    close();
}

}  // namespace taviro::maintenance
