#include "video/ui/full_screen_toolbar.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <array>

#include "platform/ui/qt_owned.h"
#include "video/layouts.h"

namespace taviro::video::ui {

namespace {
// The layout buttons' captions are their pane counts.
constexpr std::array<const char*, kLayoutCount> kCaptions = {"1", "4",  "6",  "7", "8",
                                                             "9", "10", "13", "16"};
}  // namespace

CFullScreenToolbar::CFullScreenToolbar(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setFixedSize(kToolbarWidth, kToolbarHeight);
    auto* row = platform::ui::Child<QHBoxLayout>(this);
    row->setContentsMargins(4, 4, 4, 4);
    row->setSpacing(2);
    for (int i = 0; i < kLayoutCount; ++i) {
        const int command = kToolbarLayoutFirst + i;
        auto* button = platform::ui::Child<QPushButton>(
            this, QString::fromLatin1(kCaptions[static_cast<std::size_t>(i)]));
        button->setObjectName(QStringLiteral("toolbar%1").arg(command));
        button->setFocusPolicy(Qt::NoFocus);
        row->addWidget(button);
        connect(button, &QPushButton::clicked, this, [this, command] { emit Command(command); });
    }
    auto* exit = platform::ui::Child<QPushButton>(this, QStringLiteral("X"));
    exit->setObjectName(QStringLiteral("toolbar%1").arg(kToolbarExitCommand));
    exit->setFocusPolicy(Qt::NoFocus);
    row->addWidget(exit);
    connect(exit, &QPushButton::clicked, this, [this] { emit Command(kToolbarExitCommand); });
}

}  // namespace taviro::video::ui
