// The connect dialog: address, port, user, password and description of the recorder to
// connect to, with the default/modified port switch and the address book behind ">". A thin
// window over CConnectModel; on OK it remembers address and port in the settings, records the
// connection in the address book and resolves the address for the new session. With a
// credential vault, "Remember password" keeps the password in the desktop's secret store
// (never in the settings), and a remembered one fills the field for its address and user.
// Thread: the GUI thread. Owner: the main window runs it modally on its stack.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

#include "connect/connect_model.h"
#include "connect/credentials.h"
#include "controls/ui/skin_dialog.h"
#include "platform/settings_store.h"

class QCheckBox;
class QTimer;

namespace taviro::connect::ui {

// Control ids of the dialog.
enum ConnectControl : std::uint32_t {
    kIdAddress = 380,
    kIdPort = 381,
    kIdUser = 382,
    kIdPassword = 383,
    kIdDefault = 384,
    kIdModify = 385,
    kIdDescription = 386,
    kIdBook = 993,
    kIdOk = 1,
    kIdCancel = 2,
};

// Where the last address and port are remembered.
inline constexpr std::string_view kRememberedIpPath = "IPSetup/ServerIP/IP";
inline constexpr std::string_view kRememberedPortPath = "IPSetup/ServerIP/Port";

// Skin texts of the labels and captions.
inline constexpr int kTextAddress = 5497;
inline constexpr int kTextPort = 5540;
inline constexpr int kTextUser = 5486;
inline constexpr int kTextPassword = 5487;
inline constexpr int kTextDescription = 5881;
inline constexpr int kTextDefault = 5495;
inline constexpr int kTextModify = 5543;
inline constexpr int kTextOk = 5541;
inline constexpr int kTextCancel = 5542;
inline constexpr int kTextConnectCaption = 5000;

// The last address and port as the settings hold them.
RememberedServer ReadRememberedServer(const platform::ISettingsStore& settings);
// The address goes in as typed (at most 99 bytes, the width of the remembered field).
void WriteRememberedServer(platform::ISettingsStore& settings, const RememberedServer& server);

// A connection to make at start instead of asking (taviro --connect ...).
struct ConnectRequest {
    std::string address;
    std::int32_t port = 2000;
    std::string user;
    std::string password;
};

class CConnectDlg final : public controls::ui::CSkinDialog {
    Q_OBJECT
  public:
    using Clock = std::function<std::uint32_t()>;

    // `opacity` is the main window's index-0 opacity; `storageFolder` holds "Log/" with the
    // address book. Without a resolver (the default) a host name is left for the session
    // to resolve off the window thread (SessionTarget::host). The resolver and the clock
    // are replaceable for tests.
    CConnectDlg(QWidget* parent, std::uint8_t opacity, platform::ISettingsStore& settings,
                std::filesystem::path storageFolder, Resolver resolve = nullptr,
                Clock now = DefaultClock());

    // Runs the dialog modally; QDialog::Accepted after a confirmed OK. (The dialog hides
    // itself while the address book is open, which must not end the modal run.)
    int exec() override;

    // Fills the fields as if typed: the port switches to modified mode (default mode when
    // no port is given). For the command line of the client.
    void Prefill(const QString& address, std::optional<std::int32_t> port, const QString& user,
                 const QString& password);
    // Opens a dialog over `parent`, modal to it without a loop of its own (posted messages go
    // on arriving). A `request` fills the fields and confirms them after a moment on screen
    // (without a password, only once the vault gave the remembered one; none: the dialog
    // stays for the operator to type it). `done` hears the confirmed target, or nullopt; the
    // dialog deletes itself after.
    static CConnectDlg* Open(QWidget* parent, std::uint8_t opacity,
                             platform::ISettingsStore& settings,
                             std::filesystem::path storageFolder,
                             const std::optional<ConnectRequest>& request,
                             std::function<void(const std::optional<SessionTarget>&)> done,
                             CCredentialVault* vault = nullptr);
    // The remembered passwords (null: the box stays disabled). The vault outlives the dialog.
    void SetVault(CCredentialVault* vault);
    [[nodiscard]] QCheckBox* RememberBox() const { return m_remember; }
    // The OK button: true when the dialog was confirmed and closed.
    bool Confirm();

    // What the new session gets; set after a confirmed OK.
    [[nodiscard]] const std::optional<SessionTarget>& Target() const { return m_target; }
    [[nodiscard]] const CConnectModel& Model() const { return m_model; }

    // The controls, for the window tests.
    QLineEdit* Edit(ConnectControl id) const;
    controls::ui::CSkinButtonWidget* Button(ConnectControl id) const;

    static constexpr QSize kSize{356, 182};
    static Clock DefaultClock();

  protected:
    void OnEnterKey() override { Confirm(); }

  private:
    void Refresh();
    // Asks the vault for the password of the address, port and user shown, while the
    // password field is empty; `then` runs on this thread once it answered.
    void LookUpPassword(std::function<void()> then = nullptr);
    [[nodiscard]] platform::SecretKey ShownKey() const;
    void OnAddressBook();
    void OnPortRefused();
    std::filesystem::path BookFile() const;

    std::uint8_t m_opacity;
    platform::ISettingsStore& m_settings;
    std::filesystem::path m_storageFolder;
    Resolver m_resolve;
    Clock m_now;
    CConnectModel m_model;
    std::optional<SessionTarget> m_target;
    CCredentialVault* m_vault = nullptr;

    QLineEdit* m_address = nullptr;
    QLineEdit* m_port = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QLineEdit* m_description = nullptr;
    controls::ui::CSkinButtonWidget* m_default = nullptr;
    controls::ui::CSkinButtonWidget* m_modify = nullptr;
    controls::ui::CSkinButtonWidget* m_book = nullptr;
    controls::ui::CSkinButtonWidget* m_ok = nullptr;
    controls::ui::CSkinButtonWidget* m_cancel = nullptr;
    QCheckBox* m_remember = nullptr;
    QTimer* m_lookupPause = nullptr;
};

}  // namespace taviro::connect::ui
