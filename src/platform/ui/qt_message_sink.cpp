#include "platform/ui/qt_message_sink.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QString>
#include <memory>
#include <utility>

namespace taviro::platform::ui {

namespace {

// One posted message travelling through the Qt event queue.
class CPostedEvent final : public QEvent {
  public:
    CPostedEvent(QEvent::Type type, PostedMessage message)
        : QEvent(type), m_message(std::move(message)) {}
    const PostedMessage& Message() const { return m_message; }

  private:
    PostedMessage m_message;
};

}  // namespace

QEvent::Type CQtMessageSink::EventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

CQtMessageSink::CQtMessageSink(QObject* parent) : QObject(parent) {
    EventType();  // registered on the GUI thread, before any worker posts
    m_messageBox = [this](const std::string& text) { ShowBox(text); };
}

void CQtMessageSink::ShowBox(const std::string& text) {
    const QString shown = QString::fromStdString(text);
    if (m_openBoxes.contains(shown))
        return;
    m_openBoxes.insert(shown);
    auto* box = new QMessageBox(QMessageBox::Warning, QString(), shown, QMessageBox::Ok,
                                m_boxParent.data());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(m_boxParent ? Qt::WindowModal : Qt::ApplicationModal);
    connect(box, &QMessageBox::finished, this, [this, shown] { m_openBoxes.remove(shown); });
    box->open();
}

CQtMessageSink::~CQtMessageSink() = default;

void CQtMessageSink::Deliver(PostedMessage message) {
    auto event = std::make_unique<CPostedEvent>(EventType(), std::move(message));
    ++m_pending;
    // postEvent takes ownership of the event and is safe from any thread.
    QCoreApplication::postEvent(this, event.release());
}

void CQtMessageSink::SetHandler(Window window, Handler handler) {
    const auto index = static_cast<std::size_t>(window);
    if (index < m_handlers.size())
        m_handlers[index] = std::move(handler);
}

void CQtMessageSink::SetMessageBoxHandler(MessageBoxHandler handler) {
    m_messageBox = std::move(handler);
}

void CQtMessageSink::customEvent(QEvent* event) {
    if (event->type() != EventType()) {
        QObject::customEvent(event);
        return;
    }
    --m_pending;
    const auto& message = static_cast<CPostedEvent*>(event)->Message();
    if (message.messageBox) {
        if (m_messageBox)
            m_messageBox(*message.messageBox);
        return;
    }
    const auto index = static_cast<std::size_t>(message.window);
    if (index < m_handlers.size() && m_handlers[index]) {
        // A handler may replace itself (a window closing); call a copy.
        const Handler handler = m_handlers[index];
        handler(message);
    }
}

}  // namespace taviro::platform::ui
