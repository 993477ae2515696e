// The desktop client's message sink: worker threads post (window, message, wParam, lParam)
// and the Qt event loop delivers each one, in posting order, to the handler the window
// registered for it. Posting never blocks and never runs window code on the poster's thread.
//
// Threads: Deliver (and so Post, Notify, ShowMessageBox) from any thread. SetHandler,
// SetMessageBoxHandler and the handlers themselves run on the thread that owns this object
// (the GUI thread). Message boxes never run a nested event loop: each is shown window-modal
// over the parent set with SetMessageBoxParent, and a text already on screen is not shown
// a second time (sixteen decoders failing alike give one box).
// Lifetime: the sink must outlive every poster (the session and its threads are destroyed
// before it); messages still queued when it is destroyed are dropped by Qt.
#pragma once

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QWidget>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/message_sink.h"

namespace taviro::platform::ui {

class CQtMessageSink final : public QObject, public IMessageSink {
    Q_OBJECT
  public:
    using Handler = std::function<void(const PostedMessage&)>;
    using MessageBoxHandler = std::function<void(const std::string&)>;

    explicit CQtMessageSink(QObject* parent = nullptr);
    ~CQtMessageSink() override;

    void Deliver(PostedMessage message) override;

    // A window that closes sets an empty handler; its messages are then dropped.
    void SetHandler(Window window, Handler handler);
    // Default: a warning box, window-modal over the parent below, shown without waiting.
    void SetMessageBoxHandler(MessageBoxHandler handler);
    // The window the default message boxes belong to (null: none, application-modal).
    void SetMessageBoxParent(QWidget* parent) { m_boxParent = parent; }
    // Texts of the default message boxes on screen now.
    [[nodiscard]] QSet<QString> OpenMessageBoxes() const { return m_openBoxes; }

    // Messages posted and not yet delivered (for tests and traces).
    [[nodiscard]] int Pending() const { return m_pending.load(); }

  protected:
    void customEvent(QEvent* event) override;

  private:
    static constexpr int kWindowCount = 7;  // Main .. Ptz
    static QEvent::Type EventType();

    void ShowBox(const std::string& text);

    std::array<Handler, kWindowCount> m_handlers;
    MessageBoxHandler m_messageBox;
    QPointer<QWidget> m_boxParent;
    QSet<QString> m_openBoxes;
    std::atomic<int> m_pending{0};
};

}  // namespace taviro::platform::ui
