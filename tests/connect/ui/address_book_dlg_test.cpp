// The address book dialog on screen: the rows, what may be pressed when, and what Save and
// Delete write to the file.
#include "connect/ui/address_book_dlg.h"

#include <gtest/gtest.h>

#include "connect/ui/dialog_test_support.h"
#include "support/temp_folder_test.h"

namespace taviro::connect::ui {
namespace {

using taviro::testing::Click;
using taviro::testing::FileBytes;
using taviro::testing::Le32;

class AddressBookDlgTest : public taviro::testing::CTempFolderTest {
  protected:
    AddressBookDlgTest() : CTempFolderTest("taviro-book-dlg-") {}

    void SetUp() override {
        CTempFolderTest::SetUp();
        taviro::testing::LoadSkinOnce();
        m_file = AddressBookPath(m_root);
    }

    std::unique_ptr<CAddressBookDlg> Open() {
        AddressBook book;
        LoadAddressBook(m_file, book);
        auto dlg = std::make_unique<CAddressBookDlg>(nullptr, 255, book, m_file);
        dlg->show();
        return dlg;
    }

    static bool Enabled(CAddressBookDlg& dlg, AddressBookControl id) {
        return dlg.Button(id)->Model().Enabled();
    }

    static void Select(CAddressBookDlg& dlg, int row) {
        dlg.List()->setCurrentItem(dlg.List()->topLevelItem(row));
    }

    std::filesystem::path m_file;
};

TEST_F(AddressBookDlgTest, RowsNewestFirstAndNothingSelectedAtFirst) {
    RecordConnection(m_file, "a.example", 2000, "first", 100);
    RecordConnection(m_file, "c.example", 2002, "third", 300);
    RecordConnection(m_file, "b.example", 2001, "second", 200);
    auto dlg = Open();
    EXPECT_EQ(dlg->size(), CAddressBookDlg::kSize);

    QTreeWidget* list = dlg->List();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    const char* order[] = {"c.example", "b.example", "a.example"};
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(list->topLevelItem(row)->text(0), order[row]);
    }
    EXPECT_EQ(list->topLevelItem(0)->text(1), "2002");
    EXPECT_EQ(list->topLevelItem(0)->text(2), "third");
    EXPECT_EQ(list->columnWidth(0), 250);
    EXPECT_EQ(list->columnWidth(1), 50);
    EXPECT_EQ(list->columnWidth(2), 220);
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);

    EXPECT_EQ(dlg->SelectedIndex(), -1);
    EXPECT_FALSE(Enabled(*dlg, kIdBookOk));
    EXPECT_FALSE(Enabled(*dlg, kIdBookDelete));
    EXPECT_FALSE(Enabled(*dlg, kIdBookEdit));
    EXPECT_TRUE(Enabled(*dlg, kIdBookCancel));
    EXPECT_FALSE(dlg->DescriptionEdit()->isEnabled());
    EXPECT_TRUE(dlg->DescriptionEdit()->text().isEmpty());
    EXPECT_TRUE(dlg->Button(kIdBookSave)->isHidden());
    EXPECT_FALSE(dlg->Button(kIdBookEdit)->isHidden());
    // OK without a selection does nothing.
    Click(dlg->Button(kIdBookOk));
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(AddressBookDlgTest, SelectingEditingAndSelectingAnotherRow) {
    RecordConnection(m_file, "a.example", 2000, "first", 100);
    RecordConnection(m_file, "b.example", 2001, "second", 200);
    auto dlg = Open();

    Select(*dlg, 1);
    EXPECT_EQ(dlg->SelectedIndex(), 1);
    EXPECT_TRUE(Enabled(*dlg, kIdBookOk));
    EXPECT_TRUE(Enabled(*dlg, kIdBookDelete));
    EXPECT_TRUE(Enabled(*dlg, kIdBookEdit));

    Click(dlg->Button(kIdBookEdit));
    EXPECT_TRUE(dlg->DescriptionEdit()->isEnabled());
    EXPECT_EQ(dlg->DescriptionEdit()->text(), "first");
    EXPECT_EQ(dlg->focusWidget(), dlg->DescriptionEdit());
    EXPECT_TRUE(dlg->Button(kIdBookEdit)->isHidden());
    EXPECT_FALSE(dlg->Button(kIdBookSave)->isHidden());

    // Another row drops the edit without saving it.
    Select(*dlg, 0);
    EXPECT_EQ(dlg->SelectedIndex(), 0);
    EXPECT_FALSE(dlg->DescriptionEdit()->isEnabled());
    EXPECT_TRUE(dlg->DescriptionEdit()->text().isEmpty());
    EXPECT_FALSE(dlg->Button(kIdBookEdit)->isHidden());
    EXPECT_TRUE(dlg->Button(kIdBookSave)->isHidden());

    Click(dlg->Button(kIdBookOk));
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(dlg->SelectedIndex(), 0);
}

TEST_F(AddressBookDlgTest, SaveRewritesTheDescriptionInTheFile) {
    RecordConnection(m_file, "a.example", 2000, "first", 100);
    RecordConnection(m_file, "b.example", 2001, "second", 200);
    auto dlg = Open();
    Select(*dlg, 1);
    Click(dlg->Button(kIdBookEdit));
    dlg->DescriptionEdit()->selectAll();
    QTest::keyClicks(dlg->DescriptionEdit(), "Loading bay");
    Click(dlg->Button(kIdBookSave));

    EXPECT_FALSE(dlg->DescriptionEdit()->isEnabled());
    EXPECT_TRUE(dlg->Button(kIdBookSave)->isHidden());
    EXPECT_EQ(dlg->List()->topLevelItem(1)->text(2), "Loading bay");
    EXPECT_EQ(dlg->focusWidget(), dlg->List());

    // The file holds the array in its sorted order, the edited entry second, times and
    // slots unchanged, then the first empty record; the header points at that record.
    const auto bytes = FileBytes(m_file);
    ASSERT_EQ(bytes.size(), kBookHeaderSize + 3 * kBookEntrySize);
    EXPECT_EQ(Le32(bytes, 0), 0u);
    EXPECT_EQ(Le32(bytes, 4), 2u);
    const std::size_t second = kBookHeaderSize + kBookEntrySize;
    EXPECT_EQ(taviro::testing::Field(bytes, 8, 260), "b.example");
    EXPECT_EQ(taviro::testing::Field(bytes, second, 260), "a.example");
    EXPECT_EQ(Le32(bytes, second + 260), 2000u);
    EXPECT_EQ(Le32(bytes, second + 264), 100u);
    EXPECT_EQ(Le32(bytes, second + 268), 0u);
    bool padded = false;
    EXPECT_EQ(taviro::testing::Field(bytes, second + 272, 260, &padded), "Loading bay");
    EXPECT_TRUE(padded);
    for (std::size_t i = second + kBookEntrySize; i < bytes.size(); ++i) {
        ASSERT_EQ(bytes[i], 0) << i;
    }
    EXPECT_EQ(dlg->Book()[1].description, "Loading bay");
}

TEST_F(AddressBookDlgTest, DeletingMovesLaterEntriesUpAndKeepsASelection) {
    RecordConnection(m_file, "a.example", 2000, "", 100);
    RecordConnection(m_file, "b.example", 2000, "", 200);
    RecordConnection(m_file, "c.example", 2000, "", 300);
    auto dlg = Open();
    Select(*dlg, 2);  // a.example, the last row
    Click(dlg->Button(kIdBookDelete));
    ASSERT_EQ(dlg->List()->topLevelItemCount(), 2);
    EXPECT_EQ(dlg->SelectedIndex(), 1);
    EXPECT_TRUE(Enabled(*dlg, kIdBookOk));

    Select(*dlg, 0);
    Click(dlg->Button(kIdBookDelete));
    ASSERT_EQ(dlg->List()->topLevelItemCount(), 1);
    EXPECT_EQ(dlg->List()->topLevelItem(0)->text(0), "b.example");
    EXPECT_EQ(dlg->SelectedIndex(), 0);

    AddressBook book;
    EXPECT_EQ(LoadAddressBook(m_file, book), 3);  // the file is never shortened
    EXPECT_EQ(book[0].address, "b.example");
    EXPECT_TRUE(book[1].Empty());
    const auto bytes = FileBytes(m_file);
    EXPECT_EQ(Le32(bytes, 4), 1u);
}

TEST_F(AddressBookDlgTest, DeletingTheOnlyEntryLeavesOneEmptyRecordAndDisablesOk) {
    RecordConnection(m_file, "only.example", 2000, "lonely", 100);
    auto dlg = Open();
    Select(*dlg, 0);
    Click(dlg->Button(kIdBookEdit));
    Click(dlg->Button(kIdBookDelete));

    EXPECT_EQ(dlg->List()->topLevelItemCount(), 0);
    EXPECT_EQ(dlg->SelectedIndex(), -1);
    EXPECT_FALSE(Enabled(*dlg, kIdBookOk));
    EXPECT_FALSE(Enabled(*dlg, kIdBookDelete));
    EXPECT_FALSE(Enabled(*dlg, kIdBookEdit));
    EXPECT_FALSE(dlg->DescriptionEdit()->isEnabled());
    EXPECT_TRUE(dlg->Button(kIdBookSave)->isHidden());

    const auto bytes = FileBytes(m_file);
    ASSERT_EQ(bytes.size(), kBookHeaderSize + kBookEntrySize);
    EXPECT_EQ(Le32(bytes, 0), 0u);
    EXPECT_EQ(Le32(bytes, 4), 0u);
    for (std::size_t i = kBookHeaderSize; i < bytes.size(); ++i) {
        ASSERT_EQ(bytes[i], 0) << i;
    }
}

}  // namespace
}  // namespace taviro::connect::ui
