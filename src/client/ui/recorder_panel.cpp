#include "client/ui/recorder_panel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QVBoxLayout>

namespace taviro::client::ui {

namespace {

constexpr int kIdRole = Qt::UserRole;
constexpr int kChannelRole = Qt::UserRole + 1;  // -1 on a recorder's row

// The tree whose channel rows can be dragged onto the grid.
class CChannelTree final : public QTreeWidget {
  public:
    using QTreeWidget::QTreeWidget;

  protected:
    QStringList mimeTypes() const override {
        return {QString::fromLatin1(video::ui::kChannelMimeType)};
    }
    QMimeData* mimeData(const QList<QTreeWidgetItem*>& items) const override {
        if (items.size() != 1 || items.front() == nullptr ||
            items.front()->data(0, kChannelRole).toInt() < 0)
            return nullptr;
        return video::ui::MakeChannelMime(items.front()->data(0, kIdRole).toInt(),
                                          items.front()->data(0, kChannelRole).toInt());
    }
};

QString StatusColour(RecorderStatus status) {
    switch (status) {
        case RecorderStatus::kLive:
        case RecorderStatus::kConnected:
            return QStringLiteral("#6fcf97");
        case RecorderStatus::kConnecting:
        case RecorderStatus::kComingBack:
        case RecorderStatus::kClosing:
            return QStringLiteral("#f2c94c");
        default:
            return QStringLiteral("#eb5757");
    }
}

QString ChannelText(const RecorderChannelRow& c, bool recording) {
    QString text =
        QStringLiteral("CH%1  %2").arg(c.channel + 1).arg(QString::fromStdString(c.title));
    if (c.hidden)
        text += QStringLiteral("  (hidden)");
    else if (c.videoLoss)
        text += QStringLiteral("  (video loss)");
    else if (recording)
        text += QStringLiteral("  \u25CF REC");
    return text;
}

bool SameShape(const std::vector<RecorderRow>& a, const std::vector<RecorderRow>& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].id != b[i].id || a[i].channels.size() != b[i].channels.size())
            return false;
    return true;
}

}  // namespace

CRecorderPanel::CRecorderPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("RecorderPanel"));
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(4);
    m_tree = new CChannelTree(this);
    m_tree->setObjectName(QStringLiteral("RecorderTree"));
    m_tree->setHeaderHidden(true);
    m_tree->setColumnCount(1);
    m_tree->setDragEnabled(true);
    m_tree->setDragDropMode(QAbstractItemView::DragOnly);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setIndentation(12);
    layout->addWidget(m_tree, 1);
    auto* buttons = new QHBoxLayout;
    m_add = new QPushButton(QStringLiteral("Add..."), this);
    m_disconnect = new QPushButton(QStringLiteral("Disconnect"), this);
    m_add->setToolTip(QStringLiteral("Connect one more recorder"));
    m_disconnect->setToolTip(QStringLiteral("Disconnect the chosen recorder"));
    buttons->addWidget(m_add);
    buttons->addWidget(m_disconnect);
    layout->addLayout(buttons);

    connect(m_add, &QPushButton::clicked, this, &CRecorderPanel::AddRequested);
    connect(m_disconnect, &QPushButton::clicked, this, [this] {
        if (m_selected >= 0)
            emit DisconnectRequested(m_selected);
    });
    connect(m_tree, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { emit RecorderChosen(item->data(0, kIdRole).toInt()); });
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        const int channel = item->data(0, kChannelRole).toInt();
        if (channel >= 0)
            emit ShowAlone(item->data(0, kIdRole).toInt(), channel);
    });
}

QTreeWidgetItem* CRecorderPanel::RecorderItem(int recorderId) const {
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i)
        if (m_tree->topLevelItem(i)->data(0, kIdRole).toInt() == recorderId)
            return m_tree->topLevelItem(i);
    return nullptr;
}

QTreeWidgetItem* CRecorderPanel::ChannelItem(int recorderId, int channel) const {
    QTreeWidgetItem* recorder = RecorderItem(recorderId);
    if (recorder == nullptr)
        return nullptr;
    for (int i = 0; i < recorder->childCount(); ++i)
        if (recorder->child(i)->data(0, kChannelRole).toInt() == channel)
            return recorder->child(i);
    return nullptr;
}

void CRecorderPanel::Show(const std::vector<RecorderRow>& rows, int selectedId) {
    m_selected = selectedId;
    m_disconnect->setEnabled(selectedId >= 0);
    // The rows are kept (with what is expanded and chosen) while the recorders and their
    // channels stay the same; only their texts change.
    if (!SameShape(rows, m_rows)) {
        m_tree->clear();
        for (const RecorderRow& row : rows) {
            auto* item = new QTreeWidgetItem(m_tree);
            item->setData(0, kIdRole, row.id);
            item->setData(0, kChannelRole, -1);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            for (const RecorderChannelRow& c : row.channels) {
                auto* child = new QTreeWidgetItem(item);
                child->setData(0, kIdRole, row.id);
                child->setData(0, kChannelRole, c.channel);
                child->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled);
            }
            item->setExpanded(true);
        }
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const RecorderRow& row = rows[i];
        QTreeWidgetItem* item = m_tree->topLevelItem(static_cast<int>(i));
        const QString text = QStringLiteral("%1  %2\n%3")
                                 .arg(row.place)
                                 .arg(QString::fromStdString(row.name))
                                 .arg(QString::fromStdString(row.statusText));
        item->setText(0, text);
        item->setToolTip(0, QString::fromStdString(row.address));
        item->setForeground(0, QColor(StatusColour(row.status)));
        QFont font = item->font(0);
        font.setBold(row.id == selectedId);
        item->setFont(0, font);
        for (std::size_t c = 0; c < row.channels.size(); ++c)
            item->child(static_cast<int>(c))
                ->setText(0, ChannelText(row.channels[c], row.recording));
    }
    m_rows = rows;
}

}  // namespace taviro::client::ui
