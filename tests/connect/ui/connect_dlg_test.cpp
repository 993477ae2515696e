// The connect dialog on screen: port modes, the port check, what OK remembers, records and
// hands to the session, and the way through the address book.
#include "connect/ui/connect_dlg.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <map>
#include <mutex>

#include "connect/ui/address_book_dlg.h"
#include "connect/ui/dialog_test_support.h"
#include "platform/settings_store.h"
#include "support/temp_folder_test.h"

namespace taviro::connect::ui {
namespace {

using taviro::testing::Click;
using taviro::testing::FileBytes;
using taviro::testing::Le32;

class ConnectDlgTest : public taviro::testing::CTempFolderTest {
  protected:
    ConnectDlgTest() : CTempFolderTest("taviro-connect-dlg-") {}

    void SetUp() override {
        CTempFolderTest::SetUp();
        taviro::testing::LoadSkinOnce();
    }

    std::unique_ptr<CConnectDlg> Open(std::uint8_t opacity = 255) {
        auto dlg = std::make_unique<CConnectDlg>(
            nullptr, opacity, m_settings, m_root,
            [this](const std::string& name) -> std::optional<std::string> {
                ++m_lookups;
                if (name == "nvr.example" || name == "NVR.EXAMPLE")
                    return "10.20.30.40";
                return std::nullopt;
            },
            [this] { return m_now; });
        dlg->show();
        return dlg;
    }

    static void Type(QLineEdit* edit, const QString& text) {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }

    std::filesystem::path BookFile() const { return AddressBookPath(m_root); }

    platform::CMemorySettingsStore m_settings;
    std::uint32_t m_now = 1700000000;
    int m_lookups = 0;
};

TEST_F(ConnectDlgTest, WithoutSettingsOpensInDefaultModeAndModifyOpensThePortEdit) {
    auto dlg = Open();
    EXPECT_TRUE(dlg->Edit(kIdAddress)->text().isEmpty());
    QLineEdit* port = dlg->Edit(kIdPort);
    EXPECT_TRUE(port->text().isEmpty());
    EXPECT_FALSE(port->isEnabled());
    EXPECT_FALSE(dlg->Button(kIdModify)->isHidden());
    EXPECT_TRUE(dlg->Button(kIdDefault)->isHidden());
    EXPECT_EQ(dlg->size(), CConnectDlg::kSize);
    EXPECT_TRUE(dlg->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(dlg->Edit(kIdPassword)->echoMode(), QLineEdit::Password);

    Click(dlg->Button(kIdModify));
    EXPECT_TRUE(port->isEnabled());
    EXPECT_TRUE(port->text().isEmpty());
    EXPECT_EQ(dlg->focusWidget(), port);
    EXPECT_TRUE(dlg->Button(kIdModify)->isHidden());
    EXPECT_FALSE(dlg->Button(kIdDefault)->isHidden());

    Type(port, "8000");
    Click(dlg->Button(kIdDefault));
    EXPECT_EQ(port->text(), "2000");
    EXPECT_FALSE(port->isEnabled());
    EXPECT_EQ(dlg->Model().Mode(), PortMode::Default);
}

TEST_F(ConnectDlgTest, PortsOutsideOneTo65534AreRefusedAndTheEditEmptied) {
    for (const char* refused : {"65535", "0", "99999"}) {
        auto dlg = Open();
        Type(dlg->Edit(kIdAddress), "10.0.0.1");
        Click(dlg->Button(kIdModify));
        Type(dlg->Edit(kIdPort), refused);
        dlg->Edit(kIdUser)->setFocus();
        Click(dlg->Button(kIdOk));
        EXPECT_TRUE(dlg->isVisible()) << refused;
        EXPECT_EQ(dlg->result(), QDialog::Rejected);
        EXPECT_TRUE(dlg->Edit(kIdPort)->text().isEmpty()) << refused;
        EXPECT_EQ(dlg->focusWidget(), dlg->Edit(kIdPort)) << refused;
        EXPECT_FALSE(dlg->Target().has_value());
    }
    // Nothing was remembered or recorded.
    EXPECT_FALSE(m_settings.GetInt(kRememberedPortPath));
    EXPECT_FALSE(std::filesystem::exists(BookFile()));

    for (int accepted : {1, 65534}) {
        auto dlg = Open();
        Type(dlg->Edit(kIdAddress), "10.0.0.1");
        Click(dlg->Button(kIdModify));
        Type(dlg->Edit(kIdPort), QString::number(accepted));
        Click(dlg->Button(kIdOk));
        EXPECT_FALSE(dlg->isVisible());
        EXPECT_EQ(dlg->result(), QDialog::Accepted);
        ASSERT_TRUE(dlg->Target().has_value());
        EXPECT_EQ(dlg->Target()->port, accepted);
    }
}

TEST_F(ConnectDlgTest, OkRemembersAddressAndPortAndRecordsTheBookEntry) {
    {
        auto dlg = Open();
        Type(dlg->Edit(kIdAddress), "nvr.example");
        Type(dlg->Edit(kIdUser), "admin");
        Type(dlg->Edit(kIdPassword), "secret");
        Type(dlg->Edit(kIdDescription), "Front gate");
        Click(dlg->Button(kIdOk));
        ASSERT_TRUE(dlg->Target().has_value());
        EXPECT_EQ(dlg->Target()->address, "10.20.30.40");
        EXPECT_EQ(dlg->Target()->port, 2000);
        EXPECT_EQ(dlg->Target()->user, "admin");
        EXPECT_EQ(dlg->Target()->password, "secret");
        EXPECT_EQ(dlg->Target()->description, "Front gate");
    }
    EXPECT_EQ(m_settings.GetString(kRememberedIpPath), "nvr.example");
    EXPECT_EQ(m_settings.GetInt(kRememberedPortPath), 2000u);

    const auto bytes = FileBytes(BookFile());
    ASSERT_EQ(bytes.size(), kBookHeaderSize + kBookEntrySize);
    EXPECT_EQ(Le32(bytes, 0), 0u);  // full
    EXPECT_EQ(Le32(bytes, 4), 1u);  // nextSlot
    bool padded = false;
    EXPECT_EQ(taviro::testing::Field(bytes, 8, 260, &padded), "nvr.example");
    EXPECT_TRUE(padded);
    EXPECT_EQ(Le32(bytes, 8 + 260), 2000u);
    EXPECT_EQ(Le32(bytes, 8 + 264), m_now);
    EXPECT_EQ(Le32(bytes, 8 + 268), 0u);
    EXPECT_EQ(taviro::testing::Field(bytes, 8 + 272, 260, &padded), "Front gate");
    EXPECT_TRUE(padded);
    // The book holds no user name and no password.
    const std::string all(bytes.begin(), bytes.end());
    EXPECT_EQ(all.find("admin"), std::string::npos);
    EXPECT_EQ(all.find("secret"), std::string::npos);

    // The next opening is in modified mode with the port shown, and the description comes
    // back from the book; user and password start empty.
    auto again = Open();
    EXPECT_EQ(again->Model().Mode(), PortMode::Modified);
    EXPECT_EQ(again->Edit(kIdPort)->text(), "2000");
    EXPECT_TRUE(again->Edit(kIdPort)->isEnabled());
    EXPECT_FALSE(again->Button(kIdDefault)->isHidden());
    EXPECT_EQ(again->Edit(kIdAddress)->text(), "nvr.example");
    EXPECT_EQ(again->Edit(kIdDescription)->text(), "Front gate");
    EXPECT_TRUE(again->Edit(kIdUser)->text().isEmpty());
    EXPECT_TRUE(again->Edit(kIdPassword)->text().isEmpty());

    // Changing the address or the port clears the description.
    QTest::keyClick(again->Edit(kIdAddress), Qt::Key_X);
    EXPECT_TRUE(again->Edit(kIdDescription)->text().isEmpty());
    Type(again->Edit(kIdDescription), "again");
    QTest::keyClick(again->Edit(kIdPort), Qt::Key_1);
    EXPECT_TRUE(again->Edit(kIdDescription)->text().isEmpty());
}

TEST_F(ConnectDlgTest, TheSameNameInAnotherCaseRefreshesOneEntry) {
    for (const char* typed : {"NVR.EXAMPLE", "nvr.example"}) {
        auto dlg = Open();
        Type(dlg->Edit(kIdAddress), typed);
        Click(dlg->Button(kIdOk));
        ASSERT_TRUE(dlg->Target().has_value());
        m_now += 60;
    }
    const auto bytes = FileBytes(BookFile());
    ASSERT_EQ(bytes.size(), kBookHeaderSize + kBookEntrySize);
    EXPECT_EQ(Le32(bytes, 4), 1u);
    EXPECT_EQ(taviro::testing::Field(bytes, 8, 260), "nvr.example");
    EXPECT_EQ(Le32(bytes, 8 + 264), m_now - 60);
}

TEST_F(ConnectDlgTest, DottedAddressesAreNormalisedWithoutALookup) {
    auto dlg = Open();
    Type(dlg->Edit(kIdAddress), "192.168.001.010");
    Click(dlg->Button(kIdOk));
    ASSERT_TRUE(dlg->Target().has_value());
    EXPECT_EQ(dlg->Target()->address, "192.168.1.10");
    EXPECT_EQ(m_lookups, 0);
    // The settings keep the address as typed.
    EXPECT_EQ(m_settings.GetString(kRememberedIpPath), "192.168.001.010");

    auto unknown = Open();
    Type(unknown->Edit(kIdAddress), "nowhere.example");
    Click(unknown->Button(kIdOk));
    ASSERT_TRUE(unknown->Target().has_value());
    EXPECT_EQ(unknown->Target()->address, "");
}

TEST_F(ConnectDlgTest, PickingABookEntryInDefaultModeShowsItsPortButConnectsTo2000) {
    RecordConnection(BookFile(), "10.9.8.7", 8000, "Warehouse", 100);
    RecordConnection(BookFile(), "10.1.1.1", 9000, "Office", 200);

    auto dlg = Open();
    ASSERT_EQ(dlg->Model().Mode(), PortMode::Default);
    bool sawBook = false;
    bool hiddenMeanwhile = false;
    CConnectDlg* outer = dlg.get();
    taviro::testing::WhenModal<CAddressBookDlg>([&](CAddressBookDlg* book) {
        sawBook = true;
        hiddenMeanwhile = !outer->isVisible();
        // Newest first: Office, then Warehouse.
        ASSERT_EQ(book->List()->topLevelItemCount(), 2);
        EXPECT_EQ(book->List()->topLevelItem(0)->text(0), "10.1.1.1");
        book->List()->setCurrentItem(book->List()->topLevelItem(1));
        Click(book->Button(kIdBookOk));
    });
    Click(dlg->Button(kIdBook));
    EXPECT_TRUE(sawBook);
    EXPECT_TRUE(hiddenMeanwhile);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->Edit(kIdAddress)->text(), "10.9.8.7");
    EXPECT_EQ(dlg->Edit(kIdPort)->text(), "8000");
    EXPECT_FALSE(dlg->Edit(kIdPort)->isEnabled());
    EXPECT_EQ(dlg->Edit(kIdDescription)->text(), "Warehouse");

    Click(dlg->Button(kIdOk));
    ASSERT_TRUE(dlg->Target().has_value());
    EXPECT_EQ(dlg->Target()->port, 2000);
    EXPECT_EQ(dlg->Target()->description, "Warehouse");
}

TEST_F(ConnectDlgTest, CancellingTheBookKeepsTheFieldsAndShowsTheDialogAgain) {
    RecordConnection(BookFile(), "10.9.8.7", 8000, "Warehouse", 100);
    auto dlg = Open();
    Type(dlg->Edit(kIdAddress), "typed.example");
    taviro::testing::WhenModal<CAddressBookDlg>(
        [](CAddressBookDlg* book) { Click(book->Button(kIdBookCancel)); });
    Click(dlg->Button(kIdBook));
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->Edit(kIdAddress)->text(), "typed.example");
}

TEST_F(ConnectDlgTest, PrefillAndConfirmAndTheModalRun) {
    auto dlg = Open(128);
    EXPECT_NEAR(dlg->windowOpacity(), 128.0 / 255.0, 0.01);
    dlg->Prefill("192.168.0.5", 8100, "operator", "pw");
    EXPECT_EQ(dlg->Model().Mode(), PortMode::Modified);
    EXPECT_TRUE(dlg->Confirm());
    ASSERT_TRUE(dlg->Target().has_value());
    EXPECT_EQ(dlg->Target()->address, "192.168.0.5");
    EXPECT_EQ(dlg->Target()->port, 8100);
    EXPECT_EQ(dlg->Target()->user, "operator");
    EXPECT_EQ(dlg->Target()->password, "pw");

    // A run through exec(): Cancel, then OK.
    auto modal = Open();
    modal->hide();
    taviro::testing::WhenModal<CConnectDlg>([](CConnectDlg* d) { Click(d->Button(kIdCancel)); });
    EXPECT_EQ(modal->exec(), QDialog::Rejected);
    modal->Prefill("10.0.0.9", std::nullopt, "u", "p");
    taviro::testing::WhenModal<CConnectDlg>([](CConnectDlg* d) { Click(d->Button(kIdOk)); });
    EXPECT_EQ(modal->exec(), QDialog::Accepted);
    EXPECT_EQ(modal->Target()->port, 2000);
}

TEST_F(ConnectDlgTest, EnterConfirmsAndTheBackgroundDragsTheWindow) {
    auto dlg = Open();
    Type(dlg->Edit(kIdAddress), "10.0.0.2");
    const QPoint before = dlg->pos();
    // A background point left of the labels.
    const QPoint grip(4, 170);
    QTest::mousePress(dlg.get(), Qt::LeftButton, Qt::KeyboardModifiers(), grip);
    QMouseEvent move(QEvent::MouseMove, QPointF(grip + QPoint(30, 20)),
                     QPointF(dlg->mapToGlobal(grip + QPoint(30, 20))), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(dlg.get(), &move);
    QTest::mouseRelease(dlg.get(), Qt::LeftButton, Qt::KeyboardModifiers(), grip + QPoint(30, 20));
    EXPECT_EQ(dlg->pos(), before + QPoint(30, 20));

    QTest::keyClick(dlg->Edit(kIdUser), Qt::Key_Return);
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    ASSERT_TRUE(dlg->Target().has_value());
    EXPECT_EQ(dlg->Target()->address, "10.0.0.2");
}

// A secret service kept in memory (the vault's thread writes, the test reads after Drain).
class CMemorySecrets final : public platform::ISecretStore {
  public:
    bool Available() override { return true; }
    bool Store(const platform::SecretKey& key, const std::string& password, std::string&) override {
        std::lock_guard lock(m_lock);
        m_kept[Name(key)] = password;
        return true;
    }
    std::optional<std::string> Lookup(const platform::SecretKey& key) override {
        std::lock_guard lock(m_lock);
        const auto it = m_kept.find(Name(key));
        return it == m_kept.end() ? std::nullopt : std::optional(it->second);
    }
    bool Clear(const platform::SecretKey& key) override {
        std::lock_guard lock(m_lock);
        m_kept.erase(Name(key));
        return true;
    }
    std::map<std::string, std::string> Kept() {
        std::lock_guard lock(m_lock);
        return m_kept;
    }

  private:
    static std::string Name(const platform::SecretKey& k) {
        return k.user + "@" + k.host + ":" + std::to_string(k.port);
    }
    std::mutex m_lock;
    std::map<std::string, std::string> m_kept;
};

// "Remember password": disabled where no secret service answers; otherwise OK keeps the
// password there (never in the settings), the next dialog fills it in for that address and
// user (not over a typed one), and OK with the box cleared forgets it.
TEST_F(ConnectDlgTest, RememberPasswordKeepsItInTheSecretStoreOnly) {
    {
        CCredentialVault none(platform::MakeNullSecretStore());
        auto dlg = Open();
        dlg->SetVault(&none);
        none.Drain();
        QCoreApplication::processEvents();
        EXPECT_FALSE(dlg->RememberBox()->isEnabled());
        EXPECT_TRUE(dlg->RememberBox()->toolTip().contains("secret service"));
    }
    auto owned = std::make_unique<CMemorySecrets>();
    CMemorySecrets& secrets = *owned;
    CCredentialVault vault(std::move(owned));
    const auto fill = [&](CConnectDlg& dlg, const QString& user, const QString& password) {
        Type(dlg.Edit(kIdAddress), "10.1.2.3");
        Type(dlg.Edit(kIdUser), user);
        if (!password.isEmpty())
            Type(dlg.Edit(kIdPassword), password);
    };
    {
        auto dlg = Open();
        dlg->SetVault(&vault);
        ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->RememberBox()->isEnabled(); }, 5000));
        fill(*dlg, "admin", "pa55");
        QTest::mouseClick(dlg->RememberBox(), Qt::LeftButton);
        ASSERT_TRUE(dlg->RememberBox()->isChecked());
        Click(dlg->Button(kIdOk));
        ASSERT_TRUE(dlg->Target().has_value());
    }
    vault.Drain();
    EXPECT_EQ(secrets.Kept(),
              (std::map<std::string, std::string>{{"admin@10.1.2.3:2000", "pa55"}}));
    for (const auto& [path, value] : m_settings.Values()) {
        if (const auto* text = std::get_if<std::string>(&value)) {
            EXPECT_EQ(text->find("pa55"), std::string::npos) << path;
        }
    }
    {
        // Another user's password stays empty; admin's comes back, with the box ticked.
        auto dlg = Open();
        dlg->SetVault(&vault);
        fill(*dlg, "guest", "");
        QTest::qWait(600);  // the pause after typing, then the vault's answer
        vault.Drain();
        QCoreApplication::processEvents();
        EXPECT_TRUE(dlg->Edit(kIdPassword)->text().isEmpty());
        Type(dlg->Edit(kIdUser), "admin");
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return dlg->Edit(kIdPassword)->text() == "pa55"; }, 5000));
        EXPECT_TRUE(dlg->RememberBox()->isChecked());
        QTest::mouseClick(dlg->RememberBox(), Qt::LeftButton);
        Click(dlg->Button(kIdOk));
        EXPECT_EQ(dlg->Target()->password, "pa55");
    }
    vault.Drain();
    EXPECT_TRUE(secrets.Kept().empty()) << "OK with the box cleared forgets it";
}

}  // namespace
}  // namespace taviro::connect::ui
