// The address book dialog: the recorders the operator has connected to, newest first, with
// their ports and descriptions. The operator picks one for the connect dialog, edits an
// entry's description or deletes an entry; edits and deletions go to the file at once.
// Thread: the GUI thread. Owner: the connect dialog runs it modally on its stack.
#pragma once

#include <QTreeWidget>
#include <filesystem>
#include <vector>

#include "connect/address_book.h"
#include "controls/ui/skin_dialog.h"

namespace taviro::connect::ui {

// Control ids of the dialog.
enum AddressBookControl : std::uint32_t {
    kIdBookList = 914,
    kIdBookDelete = 480,
    kIdBookEdit = 481,
    kIdBookSave = 482,
    kIdBookDescription = 530,
    kIdBookOk = 1,
    kIdBookCancel = 2,
};

inline constexpr int kTextColumnAddress = 5497;
inline constexpr int kTextColumnPort = 5540;
inline constexpr int kTextColumnDescription = 5881;
inline constexpr int kTextBookCaption = 5199;

class CAddressBookDlg final : public controls::ui::CSkinDialog {
    Q_OBJECT
  public:
    // Works on `book` (a copy of the connect dialog's array); `file` is the book's file,
    // rewritten on Save and Delete.
    CAddressBookDlg(QWidget* parent, std::uint8_t opacity, const AddressBook& book,
                    std::filesystem::path file);

    // The array index of the selected entry, -1 without one (the result of OK).
    [[nodiscard]] int SelectedIndex() const { return m_nSelected; }
    [[nodiscard]] const AddressBook& Book() const { return m_book; }

    // The controls, for the window tests.
    QTreeWidget* List() const { return m_list; }
    QLineEdit* DescriptionEdit() const { return m_edit; }
    controls::ui::CSkinButtonWidget* Button(AddressBookControl id) const;

    static constexpr QSize kSize{433, 457};

  protected:
    void OnEnterKey() override {
        if (m_nSelected >= 0)
            accept();
    }

  private:
    void Fill();
    void OnRowSelected(int row);
    void OnDelete();
    void OnEdit();
    void OnSave();
    void ShowEditButton(bool edit);
    void EnableSelectionButtons(bool on);
    int RowOfIndex(int index) const;

    AddressBook m_book;
    std::filesystem::path m_file;
    std::vector<int> m_rowIndex;  // array index of each list row
    int m_nSelected = -1;

    QTreeWidget* m_list = nullptr;
    QLineEdit* m_edit = nullptr;
    controls::ui::CSkinButtonWidget* m_delete = nullptr;
    controls::ui::CSkinButtonWidget* m_editButton = nullptr;
    controls::ui::CSkinButtonWidget* m_save = nullptr;
    controls::ui::CSkinButtonWidget* m_ok = nullptr;
    controls::ui::CSkinButtonWidget* m_cancel = nullptr;
};

}  // namespace taviro::connect::ui
