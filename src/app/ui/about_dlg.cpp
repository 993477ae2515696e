#include "app/ui/about_dlg.h"

#include <QLabel>

#include "app/key_map.h"
#include "app/local_setup.h"
#include "notify/ui/notify_popup.h"

namespace taviro::app::ui {

namespace {

constexpr int kWidth = 470;
constexpr int kRowHeight = 19;
constexpr int kTop = 40;             // under the caption strip
constexpr int kKeysTop = kTop + 86;  // under the name, version and renderer lines
constexpr int kKeyColumn = 24;
constexpr int kKeyWidth = 80;
constexpr int kButtonWidth = 88;
constexpr int kButtonHeight = 24;

int Height() {
    return kKeysTop + static_cast<int>(KeyBindings().size()) * kRowHeight + kButtonHeight + 34;
}

QString KeyText(std::string_view key) {
    // The table keeps the portable names; the dialog shows them as keyboards label them.
    if (key == "PgDown")
        return QStringLiteral("Page Down");
    if (key == "PgUp")
        return QStringLiteral("Page Up");
    return QString::fromLatin1(key.data(), static_cast<qsizetype>(key.size()));
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent, const QString& programName, const QString& version,
                     const QString& renderer)
    : CSkinDialog(parent, QSize(kWidth, Height()), kDefaultOpacity), m_renderer(renderer) {
    SetCaption(QStringLiteral("About"));
    MakeLabel(programName, QRect(kKeyColumn, kTop, kWidth - 2 * kKeyColumn, 24), Qt::AlignCenter);
    MakeLabel(QStringLiteral("Version %1").arg(version),
              QRect(kKeyColumn, kTop + 24, kWidth - 2 * kKeyColumn, 20), Qt::AlignCenter);
    if (!renderer.isEmpty()) {
        // Two lines: the driver's renderer string can be long.
        QLabel* line = MakeLabel(
            renderer, QRect(kKeyColumn, kTop + 44, kWidth - 2 * kKeyColumn, 36), Qt::AlignCenter);
        line->setWordWrap(true);
    }
    int y = kKeysTop;
    for (const KeyBinding& binding : KeyBindings()) {
        const QString key = KeyText(binding.key);
        const QString meaning = QString::fromLatin1(binding.meaning.data(),
                                                    static_cast<qsizetype>(binding.meaning.size()));
        MakeLabel(key, QRect(kKeyColumn, y, kKeyWidth, kRowHeight));
        MakeLabel(meaning, QRect(kKeyColumn + kKeyWidth, y, kWidth - kKeyColumn * 2 - kKeyWidth,
                                 kRowHeight));
        m_rows << key + QLatin1Char('\t') + meaning;
        y += kRowHeight;
    }
    auto* ok =
        MakeTextButton(notify::ui::kIdPopupConfirm, SkinText(notify::ui::kTextPopupOk),
                       QRect((kWidth - kButtonWidth) / 2, y + 12, kButtonWidth, kButtonHeight));
    connect(ok, &controls::ui::CSkinButtonWidget::Clicked, this, [this] { accept(); });
}

}  // namespace taviro::app::ui
