#include "connect/ui/address_book_dlg.h"

#include <QHeaderView>
#include <algorithm>
#include <memory>

#include "platform/ui/qt_owned.h"

namespace taviro::connect::ui {

namespace {

constexpr int kDescriptionEditLimit = static_cast<int>(kBookTextWidth) - 1;  // 259

QString FromBytes(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

QStringList RowTexts(const AddressBookEntry& e) {
    return {FromBytes(e.address), QString::number(e.port), FromBytes(e.description)};
}

}  // namespace

CAddressBookDlg::CAddressBookDlg(QWidget* parent, std::uint8_t opacity, const AddressBook& book,
                                 std::filesystem::path file)
    : CSkinDialog(parent, kSize, opacity), m_book(book), m_file(std::move(file)) {
    using platform::ui::Child;
    SetCaption(SkinText(kTextBookCaption));

    m_list = Child<QTreeWidget>(this);
    m_list->setObjectName(QStringLiteral("list914"));
    m_list->setGeometry(12, 34, 409, 300);
    m_list->setColumnCount(3);
    m_list->setHeaderLabels({SkinText(kTextColumnAddress), SkinText(kTextColumnPort),
                             SkinText(kTextColumnDescription)});
    m_list->setColumnWidth(0, 250);
    m_list->setColumnWidth(1, 50);
    m_list->setColumnWidth(2, 220);
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setAllColumnsShowFocus(true);
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionsMovable(false);

    m_delete = MakeTextButton(kIdBookDelete, QStringLiteral("Delete"), QRect(12, 342, 64, 22));
    m_editButton = MakeTextButton(kIdBookEdit, QStringLiteral("Edit"), QRect(84, 342, 64, 22));
    m_save = MakeTextButton(kIdBookSave, QStringLiteral("Save"), QRect(84, 342, 64, 22));

    m_edit = MakeEdit(QRect(12, 372, 409, 22), kDescriptionEditLimit);
    m_edit->setObjectName(QStringLiteral("edit530"));

    m_ok = MakeTextButton(kIdBookOk, SkinText(5541), QRect(277, 420, 64, 22));
    m_cancel = MakeTextButton(kIdBookCancel, SkinText(5542), QRect(353, 420, 64, 22));

    connect(m_list, &QTreeWidget::itemSelectionChanged, this, [this] {
        const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
        // Only a row becoming selected counts; losing the selection changes nothing.
        if (!selected.isEmpty()) {
            OnRowSelected(m_list->indexOfTopLevelItem(selected.front()));
        }
    });
    connect(m_delete, &controls::ui::CSkinButtonWidget::Clicked, this, [this] { OnDelete(); });
    connect(m_editButton, &controls::ui::CSkinButtonWidget::Clicked, this, [this] { OnEdit(); });
    connect(m_save, &controls::ui::CSkinButtonWidget::Clicked, this, [this] { OnSave(); });
    connect(m_ok, &controls::ui::CSkinButtonWidget::Clicked, this, [this] {
        if (m_nSelected >= 0) {
            accept();
        }
    });
    connect(m_cancel, &controls::ui::CSkinButtonWidget::Clicked, this, [this] { reject(); });

    Fill();
    m_edit->clear();
    m_edit->setEnabled(false);
    ShowEditButton(true);
    EnableSelectionButtons(false);
}

controls::ui::CSkinButtonWidget* CAddressBookDlg::Button(AddressBookControl id) const {
    switch (id) {
        case kIdBookDelete:
            return m_delete;
        case kIdBookEdit:
            return m_editButton;
        case kIdBookSave:
            return m_save;
        case kIdBookOk:
            return m_ok;
        case kIdBookCancel:
            return m_cancel;
        default:
            return nullptr;
    }
}

void CAddressBookDlg::Fill() {
    const QSignalBlocker block(m_list);
    m_list->clear();
    m_rowIndex.clear();
    for (std::size_t i = 0; i < m_book.size(); ++i) {
        if (m_book[i].Empty()) {
            continue;
        }
        // The list owns its rows (QTreeWidgetItem is no QObject, so Child() cannot hand it).
        auto item = std::make_unique<QTreeWidgetItem>(RowTexts(m_book[i]));
        m_list->addTopLevelItem(item.release());
        m_rowIndex.push_back(static_cast<int>(i));
    }
}

int CAddressBookDlg::RowOfIndex(int index) const {
    for (std::size_t row = 0; row < m_rowIndex.size(); ++row) {
        if (m_rowIndex[row] == index) {
            return static_cast<int>(row);
        }
    }
    return -1;
}

void CAddressBookDlg::ShowEditButton(bool edit) {
    m_editButton->setVisible(edit);
    m_save->setVisible(!edit);
}

void CAddressBookDlg::EnableSelectionButtons(bool on) {
    m_ok->SetButtonEnabled(on);
    m_delete->SetButtonEnabled(on);
    m_editButton->SetButtonEnabled(on);
    m_save->SetButtonEnabled(on);
}

void CAddressBookDlg::OnRowSelected(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= m_rowIndex.size()) {
        return;
    }
    const int index = m_rowIndex[static_cast<std::size_t>(row)];
    if (index != m_nSelected) {
        m_edit->clear();
        m_edit->setEnabled(false);
        ShowEditButton(true);
    }
    m_nSelected = index;
    EnableSelectionButtons(true);
}

void CAddressBookDlg::OnEdit() {
    if (m_nSelected < 0) {
        return;
    }
    m_edit->setText(FromBytes(m_book[static_cast<std::size_t>(m_nSelected)].description));
    m_edit->setEnabled(true);
    m_edit->setFocus(Qt::OtherFocusReason);
    ShowEditButton(false);
}

void CAddressBookDlg::OnSave() {
    if (m_nSelected < 0) {
        return;
    }
    AddressBookEntry& entry = m_book[static_cast<std::size_t>(m_nSelected)];
    entry.description = m_edit->text().left(kDescriptionEditLimit).toLocal8Bit().toStdString();
    RewriteAddressBook(m_file, m_book);
    m_edit->setEnabled(false);
    ShowEditButton(true);
    if (QTreeWidgetItem* item = m_list->topLevelItem(RowOfIndex(m_nSelected))) {
        item->setText(2, FromBytes(entry.description));
    }
    m_list->setFocus(Qt::OtherFocusReason);
}

void CAddressBookDlg::OnDelete() {
    if (m_nSelected < 0) {
        return;
    }
    m_edit->clear();
    m_edit->setEnabled(false);
    ShowEditButton(true);

    const int row = RowOfIndex(m_nSelected);
    const auto at = static_cast<std::size_t>(m_nSelected);
    for (std::size_t i = at; i + 1 < m_book.size(); ++i) {
        m_book[i] = m_book[i + 1];
    }
    m_book.back() = AddressBookEntry{};
    RewriteAddressBook(m_file, m_book);

    Fill();
    const int rows = static_cast<int>(m_rowIndex.size());
    if (rows > 0) {
        const int keep = std::min(row < 0 ? 0 : row, rows - 1);
        m_nSelected = m_rowIndex[static_cast<std::size_t>(keep)];
        const QSignalBlocker block(m_list);
        m_list->topLevelItem(keep)->setSelected(true);
        m_list->setCurrentItem(m_list->topLevelItem(keep));
        EnableSelectionButtons(true);
    } else {
        m_nSelected = -1;
        EnableSelectionButtons(false);
    }
}

}  // namespace taviro::connect::ui
