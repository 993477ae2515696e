#include "connect/ui/connect_dlg.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include "connect/ui/address_book_dlg.h"

namespace taviro::connect::ui {

namespace {

QString FromBytes(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToBytes(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

// Sets an edit's text only when it differs, so typing keeps its cursor.
void Show(QLineEdit* edit, const std::string& text) {
    const QString shown = FromBytes(text);
    if (edit->text() != shown) {
        edit->setText(shown);
    }
}

}  // namespace

RememberedServer ReadRememberedServer(const platform::ISettingsStore& settings) {
    RememberedServer server;
    if (auto ip = settings.GetString(kRememberedIpPath)) {
        // The field is read into a 100-byte buffer and ends at its first NUL.
        std::string text = ip->substr(0, kRememberedAddressWidth - 1);
        text = text.substr(0, text.find('\0'));
        server.address = std::move(text);
    }
    if (auto port = settings.GetInt(kRememberedPortPath)) {
        server.port = static_cast<std::int32_t>(*port);
    }
    return server;
}

void WriteRememberedServer(platform::ISettingsStore& settings, const RememberedServer& server) {
    settings.SetString(kRememberedIpPath,
                       std::string_view(server.address).substr(0, kRememberedAddressWidth - 1));
    if (server.port) {
        settings.SetInt(kRememberedPortPath, static_cast<std::uint32_t>(*server.port));
    }
}

CConnectDlg::Clock CConnectDlg::DefaultClock() {
    return [] { return static_cast<std::uint32_t>(std::time(nullptr)); };
}

CConnectDlg::CConnectDlg(QWidget* parent, std::uint8_t opacity, platform::ISettingsStore& settings,
                         std::filesystem::path storageFolder, Resolver resolve, Clock now)
    : CSkinDialog(parent, kSize, opacity),
      m_opacity(opacity),
      m_settings(settings),
      m_storageFolder(std::move(storageFolder)),
      m_resolve(std::move(resolve)),
      m_now(std::move(now)) {
    SetCaption(SkinText(kTextConnectCaption));

    // Two columns of label and edit below the title strip; the port's mode buttons and the
    // address book button sit to the right of their edits.
    constexpr int kLabelX = 12;
    constexpr int kLabelW = 92;
    constexpr int kEditX = 108;
    constexpr int kRowH = 20;
    constexpr int kTop = 32;
    constexpr int kStep = 23;
    MakeLabel(SkinText(kTextAddress), QRect(kLabelX, kTop, kLabelW, kRowH));
    MakeLabel(SkinText(kTextPort), QRect(kLabelX, kTop + kStep, kLabelW, kRowH));
    MakeLabel(SkinText(kTextUser), QRect(kLabelX, kTop + 2 * kStep, kLabelW, kRowH));
    MakeLabel(SkinText(kTextPassword), QRect(kLabelX, kTop + 3 * kStep, kLabelW, kRowH));
    MakeLabel(SkinText(kTextDescription), QRect(kLabelX, kTop + 4 * kStep, kLabelW, kRowH));

    m_address = MakeEdit(QRect(kEditX, kTop, 200, kRowH), static_cast<int>(kAddressLimit));
    m_book = MakeTextButton(kIdBook, QStringLiteral(">"), QRect(314, kTop, 30, kRowH));
    m_port = MakeEdit(QRect(kEditX, kTop + kStep, 70, kRowH), static_cast<int>(kPortTextLimit));
    m_default =
        MakeTextButton(kIdDefault, SkinText(kTextDefault), QRect(186, kTop + kStep, 88, kRowH));
    m_modify =
        MakeTextButton(kIdModify, SkinText(kTextModify), QRect(186, kTop + kStep, 88, kRowH));
    m_user = MakeEdit(QRect(kEditX, kTop + 2 * kStep, 120, kRowH), static_cast<int>(kUserLimit));
    m_password =
        MakeEdit(QRect(kEditX, kTop + 3 * kStep, 120, kRowH), static_cast<int>(kPasswordLimit));
    m_password->setEchoMode(QLineEdit::Password);
    m_description =
        MakeEdit(QRect(kEditX, kTop + 4 * kStep, 236, kRowH), static_cast<int>(kDescriptionLimit));
    // Disabled until a secret service has answered.
    m_remember = new QCheckBox(QStringLiteral("Remember password"), this);
    m_remember->setObjectName(QStringLiteral("rememberPassword"));
    m_remember->setGeometry(QRect(236, kTop + 3 * kStep, 116, kRowH));
    m_remember->setEnabled(false);
    m_remember->setToolTip(
        QStringLiteral("No secret service (a desktop keyring) answers: the "
                       "password cannot be remembered."));
    m_ok = MakeTextButton(kIdOk, SkinText(kTextOk), QRect(206, 150, 64, 22));
    m_cancel = MakeTextButton(kIdCancel, SkinText(kTextCancel), QRect(280, 150, 64, 22));

    m_address->setObjectName(QStringLiteral("edit380"));
    m_port->setObjectName(QStringLiteral("edit381"));
    m_user->setObjectName(QStringLiteral("edit382"));
    m_password->setObjectName(QStringLiteral("edit383"));
    m_description->setObjectName(QStringLiteral("edit386"));

    connect(m_address, &QLineEdit::textEdited, this, [this](const QString& t) {
        m_model.SetAddress(ToBytes(t));
        Refresh();
    });
    connect(m_port, &QLineEdit::textEdited, this, [this](const QString& t) {
        m_model.SetPortText(ToBytes(t));
        Refresh();
    });
    connect(m_user, &QLineEdit::textEdited, this,
            [this](const QString& t) { m_model.SetUser(ToBytes(t)); });
    // A remembered password fills the field once address and user have been given (a
    // moment after the last key, so the vault is not asked for every letter).
    m_lookupPause = new QTimer(this);
    m_lookupPause->setSingleShot(true);
    m_lookupPause->setInterval(300);
    connect(m_lookupPause, &QTimer::timeout, this, [this] { LookUpPassword(); });
    for (QLineEdit* edit : {m_address, m_port, m_user})
        connect(edit, &QLineEdit::textEdited, m_lookupPause, qOverload<>(&QTimer::start));
    connect(m_password, &QLineEdit::textEdited, this,
            [this](const QString& t) { m_model.SetPassword(ToBytes(t)); });
    connect(m_description, &QLineEdit::textEdited, this,
            [this](const QString& t) { m_model.SetDescription(ToBytes(t)); });
    connect(m_default, &controls::ui::CSkinButtonWidget::Clicked, this, [this] {
        m_model.PressDefault();
        Refresh();
    });
    connect(m_modify, &controls::ui::CSkinButtonWidget::Clicked, this, [this] {
        m_model.PressModify();
        Refresh();
    });
    connect(m_book, &controls::ui::CSkinButtonWidget::Clicked, this, [this] { OnAddressBook(); });
    connect(m_ok, &controls::ui::CSkinButtonWidget::Clicked, this, [this] { Confirm(); });
    connect(m_cancel, &controls::ui::CSkinButtonWidget::Clicked, this, [this] { reject(); });

    AddressBook book;
    LoadAddressBook(BookFile(), book);
    m_model.Open(ReadRememberedServer(m_settings), book);
    Refresh();
}

std::filesystem::path CConnectDlg::BookFile() const {
    return AddressBookPath(m_storageFolder);
}

int CConnectDlg::exec() {
    setWindowModality(Qt::ApplicationModal);
    setResult(QDialog::Rejected);
    show();
    QEventLoop loop;
    QPointer<CConnectDlg> self(this);
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::DialogExec);
    return self ? result() : QDialog::Rejected;
}

QLineEdit* CConnectDlg::Edit(ConnectControl id) const {
    switch (id) {
        case kIdAddress:
            return m_address;
        case kIdPort:
            return m_port;
        case kIdUser:
            return m_user;
        case kIdPassword:
            return m_password;
        case kIdDescription:
            return m_description;
        default:
            return nullptr;
    }
}

controls::ui::CSkinButtonWidget* CConnectDlg::Button(ConnectControl id) const {
    switch (id) {
        case kIdDefault:
            return m_default;
        case kIdModify:
            return m_modify;
        case kIdBook:
            return m_book;
        case kIdOk:
            return m_ok;
        case kIdCancel:
            return m_cancel;
        default:
            return nullptr;
    }
}

void CConnectDlg::Refresh() {
    Show(m_address, m_model.Address());
    Show(m_port, m_model.PortText());
    Show(m_user, m_model.User());
    Show(m_password, m_model.Password());
    Show(m_description, m_model.Description());
    m_port->setEnabled(m_model.PortEditEnabled());
    m_default->setVisible(m_model.DefaultButtonVisible());
    m_modify->setVisible(m_model.ModifyButtonVisible());
    if (m_model.PortFocusRequested()) {
        m_model.ClearPortFocusRequest();
        m_port->setFocus(Qt::OtherFocusReason);
    }
}

void CConnectDlg::Prefill(const QString& address, std::optional<std::int32_t> port,
                          const QString& user, const QString& password) {
    m_model.SetAddress(ToBytes(address));
    if (port) {
        m_model.PressModify();
        m_model.SetPortText(std::to_string(*port));
    } else {
        m_model.PressDefault();
    }
    m_model.SetUser(ToBytes(user));
    m_model.SetPassword(ToBytes(password));
    m_model.ClearPortFocusRequest();
    Refresh();
}

platform::SecretKey CConnectDlg::ShownKey() const {
    const std::int32_t port = ParsePortText(m_model.PortText());
    return platform::SecretKey{m_model.Address(), port > 0 ? port : kDefaultPort, m_model.User()};
}

void CConnectDlg::SetVault(CCredentialVault* vault) {
    m_vault = vault;
    if (m_vault == nullptr)
        return;
    QPointer<CConnectDlg> self(this);
    m_vault->WhenKnown([self](bool available) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, available] {
                CConnectDlg* dialog = self.data();
                if (dialog == nullptr || !available)
                    return;
                dialog->m_remember->setEnabled(true);
                dialog->m_remember->setToolTip(QStringLiteral(
                    "Keeps the password in the desktop's secret store, not in the settings."));
            },
            Qt::QueuedConnection);
    });
    LookUpPassword();
}

void CConnectDlg::LookUpPassword(std::function<void()> then) {
    const platform::SecretKey key = ShownKey();
    if (m_vault == nullptr || key.host.empty() || key.user.empty() || !m_model.Password().empty()) {
        if (then)
            then();
        return;
    }
    QPointer<CConnectDlg> self(this);
    m_vault->Lookup(key, [self, key, then = std::move(then)](std::optional<std::string> found) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, key, found = std::move(found), then] {
                CConnectDlg* dialog = self.data();
                if (dialog == nullptr)
                    return;
                // Only for the fields it was asked for, and never over a typed password.
                if (found && dialog->ShownKey() == key && dialog->m_model.Password().empty()) {
                    dialog->m_model.SetPassword(*found);
                    dialog->m_remember->setChecked(true);
                    dialog->Refresh();
                }
                if (then)
                    then();
            },
            Qt::QueuedConnection);
    });
}

CConnectDlg* CConnectDlg::Open(QWidget* parent, std::uint8_t opacity,
                               platform::ISettingsStore& settings,
                               std::filesystem::path storageFolder,
                               const std::optional<ConnectRequest>& request,
                               std::function<void(const std::optional<SessionTarget>&)> done,
                               CCredentialVault* vault) {
    // How long a pre-filled dialog stays on screen before it confirms itself.
    constexpr int kPrefillConfirmMs = 600;
    auto* dialog = new CConnectDlg(parent, opacity, settings, std::move(storageFolder));
    if (request) {
        dialog->Prefill(QString::fromStdString(request->address), request->port,
                        QString::fromStdString(request->user),
                        QString::fromStdString(request->password));
    }
    dialog->SetVault(vault);
    if (request) {
        QTimer::singleShot(kPrefillConfirmMs, dialog, [dialog] {
            // Without a password given or remembered the operator types it: no confirm.
            dialog->LookUpPassword([dialog] {
                // Not again when the operator confirmed or closed it meanwhile.
                if (dialog->isVisible() &&
                    (!dialog->m_model.Password().empty() || dialog->m_vault == nullptr))
                    dialog->Confirm();
            });
        });
    }
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QDialog::finished, parent, [dialog, done = std::move(done)](int result) {
        dialog->deleteLater();
        done(result == QDialog::Accepted ? dialog->Target() : std::nullopt);
    });
    dialog->open();
    return dialog;
}

bool CConnectDlg::Confirm() {
    std::optional<ConnectOutcome> outcome = m_model.Confirm(m_resolve);
    if (!outcome) {
        Refresh();
        return false;
    }
    WriteRememberedServer(m_settings, outcome->remember);
    if (m_vault != nullptr && m_remember->isEnabled()) {
        platform::SecretKey key{outcome->record.address, outcome->record.port, m_model.User()};
        if (!m_remember->isChecked())
            m_vault->Forget(std::move(key));
        else if (!m_model.Password().empty())
            m_vault->Remember(std::move(key), m_model.Password());
    }
    RecordConnection(BookFile(), outcome->record.address, outcome->record.port,
                     outcome->record.description, m_now());
    m_target = std::move(outcome->session);
    accept();
    return true;
}

void CConnectDlg::OnAddressBook() {
    AddressBook book;
    LoadAddressBook(BookFile(), book);
    hide();
    int picked = -1;
    {
        CAddressBookDlg dlg(parentWidget(), m_opacity, book, BookFile());
        if (dlg.exec() == QDialog::Accepted) {
            picked = dlg.SelectedIndex();
        }
    }
    if (picked >= 0 && static_cast<std::size_t>(picked) < kBookSlots) {
        // The book may have changed in the dialog (deleted entries); take the entry from
        // the file as it is now.
        LoadAddressBook(BookFile(), book);
        m_model.TakeBookEntry(book[static_cast<std::size_t>(picked)]);
    }
    show();
    Refresh();
}

}  // namespace taviro::connect::ui
