#include "app/ui/local_setup_dlg.h"

#include <QFileDialog>
#include <algorithm>

#include "platform/skin_numbers.h"
#include "platform/ui/qt_owned.h"

namespace taviro::app::ui {

namespace {

using controls::ButtonKind;
using controls::ButtonPictures;
using controls::ui::CSkinButtonWidget;
using controls::ui::CSkinSliderWidget;
using platform::ui::Child;

constexpr int kPagesTop = 66;
constexpr int kPagesHeight = 306;
constexpr int kRowHeight = 28;
constexpr int kCheckSize = 16;

QString FromBytes(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

CSkinButtonWidget* MakeCheck(QWidget* page, std::uint32_t id, QPoint at) {
    auto* check = Child<CSkinButtonWidget>(page, id, ButtonKind::CheckBox);
    const int strip = platform::skin::kPicCheckBox;
    check->SetFrameCount(platform::skin::kButtonFrames);
    check->SetPictures(ButtonPictures{strip, strip, strip, strip, strip}, false);
    check->setGeometry(at.x(), at.y(), kCheckSize, kCheckSize);
    return check;
}

QLabel* MakePageLabel(QWidget* page, const QString& text, const QRect& place) {
    auto* label = Child<QLabel>(page, text);
    label->setGeometry(place);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

QComboBox* MakeCombo(QWidget* page, const QStringList& items, int current, const QRect& place) {
    auto* box = Child<QComboBox>(page);
    box->addItems(items);
    box->setCurrentIndex(std::clamp(current, 0, static_cast<int>(items.size()) - 1));
    box->setGeometry(place);
    return box;
}

CSkinButtonWidget* MakePageButton(QWidget* page, std::uint32_t id, const QString& caption,
                                  const QRect& place) {
    auto* button = Child<CSkinButtonWidget>(page, id, ButtonKind::Push);
    const int strip = platform::skin::kPicTextButtonMedium;
    button->SetFrameCount(platform::skin::kButtonFrames);
    button->Model().SetStretch(true);
    button->SetPictures(ButtonPictures{strip, strip, strip, strip, strip}, false);
    button->setGeometry(place);
    button->SetText(caption);
    return button;
}

}  // namespace

CLocalSetupDlg::CLocalSetupDlg(QWidget* parent, const LocalSetup& setup)
    : CSkinDialog(parent, kSize, setup.opacity[opacity::kLocalSetup]), m_setup(setup) {
    SetCaption(SkinText(setup_text::kCaption));

    static const char* const kPageNames[] = {"Global", "Opacity", "Audio buffer", "Deinterlace"};
    for (std::size_t i = 0; i < m_pageButtons.size(); ++i) {
        auto* tab = Child<CSkinButtonWidget>(this, kIdFirstPage + static_cast<std::uint32_t>(i),
                                             ButtonKind::Radio);
        const int strip = platform::skin::kPicTabButton;
        tab->SetFrameCount(platform::skin::kButtonFrames);
        tab->Model().SetStretch(true);
        tab->SetPictures(ButtonPictures{strip, strip, strip, strip, strip}, false);
        tab->setGeometry(12 + static_cast<int>(i) * 100, 34, 96, 24);
        tab->SetText(QString::fromLatin1(kPageNames[i]));
        connect(tab, &CSkinButtonWidget::Clicked, this,
                [this, i] { ShowPage(static_cast<SetupPage>(i)); });
        m_pageButtons[i] = tab;
    }

    m_pages = Child<QStackedWidget>(this);
    m_pages->setGeometry(12, kPagesTop, kSize.width() - 24, kPagesHeight);
    m_pages->addWidget(BuildGlobalPage());
    m_pages->addWidget(BuildOpacityPage());
    m_pages->addWidget(BuildAudioPage());
    m_pages->addWidget(BuildDeinterlacePage());

    m_ok = MakeTextButton(kIdSetupOk, SkinText(setup_text::kOk),
                          QRect(kSize.width() - 160, kSize.height() - 36, 64, 22));
    m_cancel = MakeTextButton(kIdSetupCancel, SkinText(setup_text::kCancel),
                              QRect(kSize.width() - 88, kSize.height() - 36, 64, 22));
    connect(m_ok, &CSkinButtonWidget::Clicked, this, [this] { OnEnterKey(); });
    connect(m_cancel, &CSkinButtonWidget::Clicked, this, [this] {
        m_result.reset();
        reject();
    });
    ShowPage(SetupPage::kGlobal);
}

QWidget* CLocalSetupDlg::BuildGlobalPage() {
    auto* page = Child<QWidget>(m_pages);
    constexpr int kLabelW = 140;
    constexpr int kFieldX = 150;
    int y = 8;
    MakePageLabel(page, SkinText(setup_text::kDrawMode), QRect(8, y, kLabelW, 22));
    m_drawMode = MakeCombo(page, {QStringLiteral("YUV"), QStringLiteral("RGB")}, m_setup.drawMode,
                           QRect(kFieldX, y, 140, 22));
    y += kRowHeight + 6;
    MakePageLabel(page, SkinText(setup_text::kDateFormat), QRect(8, y, kLabelW, 22));
    m_dateFormat = MakeCombo(
        page,
        {QStringLiteral("YYYY-MM-DD"), QStringLiteral("MM-DD-YYYY"), QStringLiteral("DD-MM-YYYY")},
        m_setup.dateFormat, QRect(kFieldX, y, 140, 22));
    y += kRowHeight + 6;
    MakePageLabel(page, SkinText(setup_text::kSaveFormat), QRect(8, y, kLabelW, 22));
    m_saveFormat =
        MakeCombo(page, {QStringLiteral("JPEG"), QStringLiteral("BMP"), QStringLiteral("TIFF")},
                  m_setup.saveFormat, QRect(kFieldX, y, 140, 22));
    y += kRowHeight + 6;
    MakePageLabel(page, SkinText(setup_text::kLocation), QRect(8, y, kLabelW, 22));
    m_location = Child<QLineEdit>(page);
    m_location->setGeometry(kFieldX, y, 250, 22);
    m_location->setMaxLength(static_cast<int>(kLocationMax));
    m_location->setText(FromBytes(m_setup.location));
    auto* browse = MakePageButton(page, kIdBrowse, QStringLiteral("..."), QRect(406, y, 32, 22));
    connect(browse, &CSkinButtonWidget::Clicked, this, [this] { Browse(); });
    y += kRowHeight + 6;
    MakePageLabel(page, SkinText(setup_text::kHourSystem), QRect(8, y, kLabelW, 22));
    m_hourSystem = MakeCombo(page, {SkinText(setup_text::kHour12), SkinText(setup_text::kHour24)},
                             m_setup.hourSystem, QRect(kFieldX, y, 140, 22));
    y += kRowHeight + 6;
    MakePageLabel(page, SkinText(setup_text::kWatermark), QRect(8, y, kLabelW, 22));
    m_watermark = MakeCheck(page, 0, QPoint(kFieldX, y + 3));
    m_watermark->SetCheck(m_setup.watermark != 0 ? 1 : 0);
    y += kRowHeight + 6;
    MakePageLabel(page, SkinText(setup_text::kReconnect), QRect(8, y, kLabelW, 22));
    m_reconnect = MakeCheck(page, 0, QPoint(kFieldX, y + 3));
    m_reconnect->SetCheck(m_setup.reconnect != 0 ? 1 : 0);
    return page;
}

template <std::size_t N>
void CLocalSetupDlg::SetRowChecked(SliderRows<N>& rows, std::size_t i, bool on,
                                   std::uint8_t neutral) {
    rows.checks[i]->SetCheck(on ? 1 : 0);
    rows.sliders[i]->SetSliderEnabled(on);
    if (!on) {
        rows.sliders[i]->SetPosition(neutral);
    }
    rows.values[i]->setText(QString::number(on ? rows.sliders[i]->Position() : neutral));
}

template <std::size_t N>
QWidget* CLocalSetupDlg::BuildSliderPage(SliderRows<N>& rows, int firstText, int minimum,
                                         int maximum, const std::array<std::uint8_t, N>& values,
                                         std::uint8_t neutral) {
    auto* page = Child<QWidget>(m_pages);
    // A checked row has a value of its own; an unchecked row keeps the neutral value.
    for (std::size_t i = 0; i < N; ++i) {
        const int y = 6 + static_cast<int>(i) * kRowHeight;
        rows.checks[i] =
            MakeCheck(page, kIdFirstCheck + static_cast<std::uint32_t>(i), QPoint(8, y + 3));
        MakePageLabel(page, SkinText(firstText + static_cast<int>(i)), QRect(32, y, 180, 22));
        rows.sliders[i] =
            Child<CSkinSliderWidget>(page, kIdFirstSlider + static_cast<std::uint32_t>(i),
                                     controls::Orientation::Horizontal);
        rows.sliders[i]->setGeometry(216, y + 3, 190, 16);
        rows.sliders[i]->SetRange(minimum, maximum);
        rows.sliders[i]->SetPosition(values[i]);
        rows.values[i] = MakePageLabel(page, QString(), QRect(414, y, 50, 22));
        const bool own = values[i] != neutral;
        rows.checks[i]->SetCheck(own ? 1 : 0);
        rows.sliders[i]->SetSliderEnabled(own);
        rows.values[i]->setText(QString::number(values[i]));

        connect(rows.checks[i], &CSkinButtonWidget::Clicked, this, [this, &rows, i, neutral] {
            SetRowChecked(rows, i, rows.checks[i]->Check() != 0, neutral);
        });
        connect(rows.sliders[i], &CSkinSliderWidget::SliderMessage, this,
                [&rows, i](std::uint32_t, std::uint32_t, int position) {
                    rows.values[i]->setText(QString::number(position));
                });
    }
    const int buttonsY = 6 + static_cast<int>(N) * kRowHeight + 8;
    rows.allCheck =
        MakePageButton(page, kIdAllCheck, QStringLiteral("All Check"), QRect(8, buttonsY, 88, 24));
    rows.returnAll = MakePageButton(page, kIdReturnAll, QStringLiteral("Beturn All"),
                                    QRect(104, buttonsY, 88, 24));
    connect(rows.allCheck, &CSkinButtonWidget::Clicked, this, [this, &rows, neutral] {
        for (std::size_t i = 0; i < N; ++i) {
            SetRowChecked(rows, i, true, neutral);
        }
    });
    connect(rows.returnAll, &CSkinButtonWidget::Clicked, this, [this, &rows, neutral] {
        for (std::size_t i = 0; i < N; ++i) {
            SetRowChecked(rows, i, false, neutral);
        }
    });
    return page;
}

QWidget* CLocalSetupDlg::BuildOpacityPage() {
    return BuildSliderPage(m_opacity, setup_text::kFirstOpacity, kOpacitySliderMin,
                           kOpacitySliderMax, m_setup.opacity, kDefaultOpacity);
}

QWidget* CLocalSetupDlg::BuildAudioPage() {
    return BuildSliderPage(m_audio, setup_text::kFirstAudioBuffer, kAudioSliderMin, kAudioSliderMax,
                           m_setup.audioBuffer, kDefaultAudioBuffer);
}

QWidget* CLocalSetupDlg::BuildDeinterlacePage() {
    auto* page = Child<QWidget>(m_pages);
    MakePageLabel(page, SkinText(setup_text::kDeinterlaceHint), QRect(8, 6, 440, 22));
    const QString channel = SkinText(setup_text::kChannel);
    for (std::size_t i = 0; i < kDeinterlaceCount; ++i) {
        const int column = static_cast<int>(i % 4);
        const int row = static_cast<int>(i / 4);
        const QPoint at(8 + column * 116, 40 + row * 36);
        m_deinterlace[i] =
            MakeCheck(page, kIdFirstDeinterlace + static_cast<std::uint32_t>(i), at + QPoint(0, 3));
        m_deinterlace[i]->SetCheck(m_setup.deinterlace[i] != 0 ? 1 : 0);
        MakePageLabel(page, channel + QStringLiteral(" %1").arg(i + 1),
                      QRect(at.x() + 22, at.y(), 90, 22));
    }
    return page;
}

void CLocalSetupDlg::Browse() {
    const QString folder = QFileDialog::getExistingDirectory(this, SkinText(setup_text::kLocation),
                                                             m_location->text());
    if (!folder.isEmpty()) {
        m_location->setText(folder.left(static_cast<int>(kLocationMax)));
    }
}

void CLocalSetupDlg::ShowPage(SetupPage page) {
    const auto index = static_cast<std::size_t>(page);
    m_pages->setCurrentIndex(static_cast<int>(index));
    for (std::size_t i = 0; i < m_pageButtons.size(); ++i) {
        m_pageButtons[i]->SetCheck(i == index ? 1 : 0);
    }
}

SetupPage CLocalSetupDlg::Page() const {
    return static_cast<SetupPage>(m_pages->currentIndex());
}

LocalSetup CLocalSetupDlg::Edited() const {
    LocalSetup s = m_setup;
    s.drawMode = static_cast<std::uint8_t>(m_drawMode->currentIndex());
    s.dateFormat = static_cast<std::uint8_t>(m_dateFormat->currentIndex());
    s.saveFormat = static_cast<std::uint8_t>(m_saveFormat->currentIndex());
    s.location = m_location->text().toLocal8Bit().toStdString().substr(0, kLocationMax);
    s.hourSystem = static_cast<std::uint8_t>(m_hourSystem->currentIndex());
    s.watermark = m_watermark->Check() != 0 ? 1 : 0;
    s.reconnect = m_reconnect->Check() != 0 ? 1 : 0;
    for (std::size_t i = 0; i < kOpacityCount; ++i) {
        s.opacity[i] = m_opacity.checks[i]->Check() != 0
                           ? static_cast<std::uint8_t>(m_opacity.sliders[i]->Position())
                           : kDefaultOpacity;
    }
    for (std::size_t i = 0; i < kAudioBufferCount; ++i) {
        s.audioBuffer[i] = m_audio.checks[i]->Check() != 0
                               ? static_cast<std::uint8_t>(m_audio.sliders[i]->Position())
                               : kDefaultAudioBuffer;
    }
    for (std::size_t i = 0; i < kDeinterlaceCount; ++i) {
        s.deinterlace[i] = m_deinterlace[i]->Check() != 0 ? 1 : 0;
    }
    return s;
}

void CLocalSetupDlg::OnEnterKey() {
    m_result = Edited();
    accept();
}

std::optional<LocalSetup> CLocalSetupDlg::Run() {
    setWindowModality(Qt::ApplicationModal);
    m_result.reset();
    if (exec() != QDialog::Accepted) {
        m_result.reset();
    }
    return m_result;
}

CSkinButtonWidget* CLocalSetupDlg::PageButton(SetupPage page, LocalSetupControl id) const {
    const auto& pick = [id](auto& rows) -> CSkinButtonWidget* {
        return id == kIdAllCheck ? rows.allCheck : id == kIdReturnAll ? rows.returnAll : nullptr;
    };
    if (page == SetupPage::kOpacity)
        return pick(m_opacity);
    if (page == SetupPage::kAudioBuffer)
        return pick(m_audio);
    return nullptr;
}

CSkinButtonWidget* CLocalSetupDlg::Button(LocalSetupControl id) const {
    if (id == kIdSetupOk)
        return m_ok;
    if (id == kIdSetupCancel)
        return m_cancel;
    if (id >= kIdFirstPage && id < kIdFirstPage + 4)
        return m_pageButtons[id - kIdFirstPage];
    return nullptr;
}

}  // namespace taviro::app::ui
