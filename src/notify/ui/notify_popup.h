// The notification popup and its presenter. The popup is a skinned box, modal to its window
// (notes about the connection itself are not: the reconnect's countdown and the window's
// buttons go on working under them), with one to three centred lines and either confirm and cancel
// or a single button; it is always opaque. The presenter does the whole road from a
// WM_RECORDER_NOTIFY pair to the follow-up: the disconnect of category 2 first, the one-popup gate,
// the table, the popup, and then - when the popup is closed - the follow-up or cancel action
// through callbacks of the main window. Nothing here runs a nested event loop: Present returns as
// soon as the popup is on screen. Neither knows the session. Thread: the GUI thread. Owner: the
// main window owns the presenter; the presenter owns the popup on screen (deleted when it closes,
// or with the presenter).
#pragma once

#include <QStringList>
#include <functional>

#include "controls/ui/skin_dialog.h"
#include "notify/notifications.h"

namespace taviro::notify::ui {

// Control ids of the popup.
enum PopupControl : std::uint32_t { kIdPopupConfirm = 1, kIdPopupCancel = 2 };

inline constexpr int kTextPopupOk = 5541;
inline constexpr int kTextPopupCancel = 5542;

class CNotifyPopup final : public controls::ui::CSkinDialog {
    Q_OBJECT
  public:
    CNotifyPopup(QWidget* parent, const NotificationSpec& note, const TextLookup& text);

    // Shows the popup modally and waits; true when it was confirmed (the single button
    // counts as confirming). For tests of the popup alone; windows use the presenter.
    bool Run();

    [[nodiscard]] QStringList Lines() const { return m_lines; }
    [[nodiscard]] NotifyButtons Buttons() const { return m_buttons; }
    // Null for the cancel button of a single-button popup.
    controls::ui::CSkinButtonWidget* Button(PopupControl id) const;

    static constexpr QSize kSize{360, 180};

  protected:
    void OnEnterKey() override { accept(); }

  private:
    QStringList m_lines;
    NotifyButtons m_buttons;
    controls::ui::CSkinButtonWidget* m_confirm = nullptr;
    controls::ui::CSkinButtonWidget* m_cancel = nullptr;
};

// What the presenter asks of the main window.
struct NotifyCallbacks {
    std::function<void()> disconnect;                      // category 2, before anything else
    std::function<NotificationContext()> context;          // read when a popup is built
    std::function<SessionFacts()> facts;                   // read when a popup is confirmed
    std::function<void(FollowUpAction)> followUp;          // a confirmed follow-up
    std::function<void(NotifyCancelAction)> cancelAction;  // a cancelled popup's action
};

class CNotifyPresenter {
  public:
    CNotifyPresenter(QWidget* parent, NotifyCallbacks callbacks, TextLookup text);
    ~CNotifyPresenter();
    CNotifyPresenter(const CNotifyPresenter&) = delete;
    CNotifyPresenter& operator=(const CNotifyPresenter&) = delete;

    // Handles one WM_RECORDER_NOTIFY: shows its popup (if any) and returns at once; the
    // follow-up runs when the popup is closed. A notification arriving while a popup is
    // open is dropped, except that category 2 still disconnects.
    // `parent` is the popup's parent window (the message's wParam); null: the presenter's.
    void Present(int category, int code, QWidget* parent = nullptr);

    // A connection came back: a note about the connection (IsConnectionNote) that is still
    // up is closed, as the operator would have confirmed it.
    void DismissConnectionNotes();

    [[nodiscard]] bool PopupOpen() const { return m_gate.IsOpen(); }
    // The popup on screen, or null (for tests).
    [[nodiscard]] CNotifyPopup* Current() const { return m_current; }

  private:
    void Finished(bool confirmed, const NotificationSpec& note);

    QWidget* m_parent;
    NotifyCallbacks m_callbacks;
    TextLookup m_text;
    CNotificationGate m_gate;
    CNotifyPopup* m_current = nullptr;
    int m_currentCategory = -1;
};

// The skin library's texts as a lookup.
TextLookup SkinTextLookup();

}  // namespace taviro::notify::ui
