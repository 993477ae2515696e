#include "notify/ui/notify_popup.h"

#include <algorithm>

#include "platform/skin_numbers.h"
#include "platform/ui/skin_library.h"

namespace taviro::notify::ui {

namespace {

constexpr int kLineHeight = 22;
constexpr int kButtonWidth = 88;
constexpr int kButtonHeight = 24;

// Popups are never see-through, whatever the dialogs' opacity settings say.
constexpr std::uint8_t kOpaque = 255;

}  // namespace

TextLookup SkinTextLookup() {
    return [](int number) { return platform::ui::Skin().Text(number).toStdString(); };
}

CNotifyPopup::CNotifyPopup(QWidget* parent, const NotificationSpec& note, const TextLookup& text)
    : CSkinDialog(parent, kSize, kOpaque, platform::skin::kPicPopupBackground),
      m_buttons(note.buttons) {
    for (const NotificationLine& line : note.lines) {
        m_lines << QString::fromStdString(LineText(line, text));
    }
    // The lines are centred as a block in the space above the buttons.
    const int linesTop =
        30 + (3 - static_cast<int>(std::min<qsizetype>(m_lines.size(), 3))) * kLineHeight / 2;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        MakeLabel(m_lines[i],
                  QRect(12, linesTop + static_cast<int>(i) * kLineHeight, kSize.width() - 24,
                        kLineHeight),
                  Qt::AlignCenter);
    }
    const int buttonsTop = kSize.height() - kButtonHeight - 22;
    if (m_buttons == NotifyButtons::kConfirmCancel) {
        const int gap = 16;
        const int left = (kSize.width() - 2 * kButtonWidth - gap) / 2;
        m_confirm = MakeTextButton(kIdPopupConfirm, SkinText(kTextPopupOk),
                                   QRect(left, buttonsTop, kButtonWidth, kButtonHeight));
        m_cancel = MakeTextButton(
            kIdPopupCancel, SkinText(kTextPopupCancel),
            QRect(left + kButtonWidth + gap, buttonsTop, kButtonWidth, kButtonHeight));
    } else {
        // The second single-button skin is the wider strip.
        const int width = m_buttons == NotifyButtons::kSingleAlt ? 120 : kButtonWidth;
        m_confirm =
            MakeTextButton(kIdPopupConfirm, SkinText(kTextPopupOk),
                           QRect((kSize.width() - width) / 2, buttonsTop, width, kButtonHeight));
    }
    connect(m_confirm, &controls::ui::CSkinButtonWidget::Clicked, this, [this] { accept(); });
    if (m_cancel) {
        connect(m_cancel, &controls::ui::CSkinButtonWidget::Clicked, this, [this] { reject(); });
    }
}

controls::ui::CSkinButtonWidget* CNotifyPopup::Button(PopupControl id) const {
    return id == kIdPopupConfirm ? m_confirm : m_cancel;
}

bool CNotifyPopup::Run() {
    setWindowModality(Qt::ApplicationModal);
    return exec() == QDialog::Accepted;
}

CNotifyPresenter::CNotifyPresenter(QWidget* parent, NotifyCallbacks callbacks, TextLookup text)
    : m_parent(parent), m_callbacks(std::move(callbacks)), m_text(std::move(text)) {}

CNotifyPresenter::~CNotifyPresenter() {
    if (m_current) {
        // Closing with its owner: no follow-up runs for a window that is going.
        QObject::disconnect(m_current, nullptr, nullptr, nullptr);
        delete m_current;
    }
}

void CNotifyPresenter::Present(int category, int code, QWidget* parent) {
    const CNotificationGate::Decision decision = m_gate.Arrive(category);
    if (decision.disconnect && m_callbacks.disconnect) {
        m_callbacks.disconnect();
    }
    if (!decision.present) {
        return;
    }
    const NotificationContext ctx =
        m_callbacks.context ? m_callbacks.context() : NotificationContext{};
    NotificationContext withText = ctx;
    if (!withText.text) {
        withText.text = m_text;
    }
    const std::optional<NotificationSpec> note = BuildNotification(category, code, withText);
    if (!note) {
        return;
    }
    m_gate.Open();
    auto* popup = new CNotifyPopup(parent ? parent : m_parent, *note, m_text);
    m_current = popup;
    m_currentCategory = category;
    QObject::connect(popup, &QDialog::finished, popup, [this, popup, shown = *note](int result) {
        popup->deleteLater();
        if (m_current != popup)
            return;
        m_current = nullptr;
        Finished(result == QDialog::Accepted, shown);
    });
    // Without an event loop of its own: the window keeps handling posted messages while
    // the popup is up. A note about the connection blocks nothing (the reconnect's Cancel
    // and the buttons stay usable, and the return closes it); any other is modal to its
    // window (open() makes it so).
    if (IsConnectionNote(category)) {
        popup->setWindowModality(Qt::NonModal);
        popup->show();
    } else {
        popup->setWindowModality(popup->parentWidget() ? Qt::WindowModal : Qt::ApplicationModal);
        popup->open();
    }
}

void CNotifyPresenter::DismissConnectionNotes() {
    if (m_current && IsConnectionNote(m_currentCategory))
        m_current->accept();  // finished() runs the (empty) follow-up and frees the gate
}

void CNotifyPresenter::Finished(bool confirmed, const NotificationSpec& note) {
    m_gate.Close();
    if (confirmed) {
        const SessionFacts facts = m_callbacks.facts ? m_callbacks.facts() : SessionFacts{};
        const FollowUpAction action = ResolveFollowUp(note.onConfirm, facts);
        if (action != FollowUpAction::kNothing && m_callbacks.followUp) {
            m_callbacks.followUp(action);
        }
    } else if (note.onCancel != NotifyCancelAction::kNone && m_callbacks.cancelAction) {
        m_callbacks.cancelAction(note.onCancel);
    }
}

}  // namespace taviro::notify::ui
