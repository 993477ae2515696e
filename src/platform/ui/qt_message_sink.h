// The desktop client's message sink: worker threads post (window, message, wParam, lParam)
// and the Qt event loop delivers each one, in posting order, to the handler the window
// registered for it. Posting never blocks and never runs window code on the poster's thread.
//
// Threads: Post and ShowMessageBox from any thread. SetHandler, SetMessageBoxHandler and
// the handlers themselves run on the thread that owns this object (the GUI thread).
// Lifetime: the sink must outlive every poster (the session and its threads are destroyed
// before it); messages still queued when it is destroyed are dropped by Qt.
#pragma once

#include <QEvent>
#include <QObject>
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

    void Post(Window window, std::uint32_t message, std::uint64_t wParam,
              std::int64_t lParam) override;
    void ShowMessageBox(std::string text) override;

    // A window that closes sets an empty handler; its messages are then dropped.
    void SetHandler(Window window, Handler handler);
    // Default: a modal QMessageBox with the text.
    void SetMessageBoxHandler(MessageBoxHandler handler);

    // Messages posted and not yet delivered (for tests and traces).
    [[nodiscard]] int Pending() const { return m_pending.load(); }

  protected:
    void customEvent(QEvent* event) override;

  private:
    static constexpr int kWindowCount = 5;
    static QEvent::Type EventType();

    std::array<Handler, kWindowCount> m_handlers;
    MessageBoxHandler m_messageBox;
    std::atomic<int> m_pending{0};
};

}  // namespace taviro::platform::ui
