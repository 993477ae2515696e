// The local setup dialog: four pages (Global, Opacity, Audio buffer, Deinterlace) over a copy
// of the LocalSetup block. OK hands back the edited block; Cancel discards it. Applying the
// result (grid, saving, folders, log entry) stays with the main window.
// Thread: the GUI thread. Owner: the main window runs it modally on its stack.
#pragma once

#include <QComboBox>
#include <QStackedWidget>
#include <array>
#include <optional>

#include "app/local_setup.h"
#include "controls/ui/skin_dialog.h"
#include "controls/ui/skin_slider_widget.h"

namespace taviro::app::ui {

// Control ids of the pages.
enum LocalSetupControl : std::uint32_t {
    kIdSetupOk = 1,
    kIdSetupCancel = 2,
    kIdAllCheck = 480,
    kIdReturnAll = 481,
    kIdFirstCheck = 490,   // 490..498 opacity, 490..492 audio buffer
    kIdFirstSlider = 510,  // 510..518 opacity, 510..512 audio buffer
    kIdBrowse = 530,
    kIdFirstPage = 600,         // page selector buttons 600..603
    kIdFirstDeinterlace = 620,  // channel switches 620..635
};

enum class SetupPage { kGlobal = 0, kOpacity = 1, kAudioBuffer = 2, kDeinterlace = 3 };

// Skin texts of the labels (the page names and the two buttons' captions are fixed).
namespace setup_text {
inline constexpr int kCaption = 5100;
inline constexpr int kDrawMode = 5101;
inline constexpr int kDateFormat = 5102;
inline constexpr int kSaveFormat = 5103;
inline constexpr int kLocation = 5104;
inline constexpr int kHourSystem = 5105;
inline constexpr int kWatermark = 5106;
inline constexpr int kHour12 = 5107;
inline constexpr int kHour24 = 5108;
inline constexpr int kReconnect = 5109;         // connect again by itself after a network loss
inline constexpr int kFirstOpacity = 5153;      // 5153..5161: the nine kinds of window
inline constexpr int kFirstAudioBuffer = 5162;  // 5162..5164: live, remote, local playback
inline constexpr int kDeinterlaceHint = 5165;
inline constexpr int kChannel = 5009;  // "Channel", followed by " 1" .. " 16"
inline constexpr int kOk = 5541;
inline constexpr int kCancel = 5542;
}  // namespace setup_text

// Slider ranges: a window never fades out completely; depths as the audio output takes them.
inline constexpr int kOpacitySliderMin = 32;
inline constexpr int kOpacitySliderMax = 255;
inline constexpr int kAudioSliderMin = 0;
inline constexpr int kAudioSliderMax = kAudioBufferMax;

class CLocalSetupDlg final : public controls::ui::CSkinDialog {
    Q_OBJECT
  public:
    // Opacity from the setup's index 4.
    CLocalSetupDlg(QWidget* parent, const LocalSetup& setup);

    // Runs the dialog; the edited block after OK, nothing after Cancel.
    std::optional<LocalSetup> Run();
    // The block as the controls show it now.
    [[nodiscard]] LocalSetup Edited() const;
    // Set after OK.
    [[nodiscard]] const std::optional<LocalSetup>& Result() const { return m_result; }

    void ShowPage(SetupPage page);
    [[nodiscard]] SetupPage Page() const;

    // The controls, for the window tests.
    QComboBox* DrawModeBox() const { return m_drawMode; }
    QComboBox* DateFormatBox() const { return m_dateFormat; }
    QComboBox* SaveFormatBox() const { return m_saveFormat; }
    QComboBox* HourSystemBox() const { return m_hourSystem; }
    QLineEdit* LocationEdit() const { return m_location; }
    controls::ui::CSkinButtonWidget* WatermarkBox() const { return m_watermark; }
    controls::ui::CSkinButtonWidget* ReconnectBox() const { return m_reconnect; }
    controls::ui::CSkinButtonWidget* OpacityCheck(std::size_t i) const {
        return m_opacity.checks[i];
    }
    controls::ui::CSkinSliderWidget* OpacitySlider(std::size_t i) const {
        return m_opacity.sliders[i];
    }
    controls::ui::CSkinButtonWidget* AudioCheck(std::size_t i) const { return m_audio.checks[i]; }
    controls::ui::CSkinSliderWidget* AudioSlider(std::size_t i) const { return m_audio.sliders[i]; }
    controls::ui::CSkinButtonWidget* DeinterlaceSwitch(std::size_t i) const {
        return m_deinterlace[i];
    }
    // 480 / 481 of the opacity or the audio buffer page, OK, Cancel, the page buttons.
    controls::ui::CSkinButtonWidget* PageButton(SetupPage page, LocalSetupControl id) const;
    controls::ui::CSkinButtonWidget* Button(LocalSetupControl id) const;

    static constexpr QSize kSize{500, 420};

  protected:
    void OnEnterKey() override;

  private:
    // One page of rows: check box, label, slider and value, with "All Check" and "Beturn All".
    template <std::size_t N>
    struct SliderRows {
        std::array<controls::ui::CSkinButtonWidget*, N> checks{};
        std::array<controls::ui::CSkinSliderWidget*, N> sliders{};
        std::array<QLabel*, N> values{};
        controls::ui::CSkinButtonWidget* allCheck = nullptr;
        controls::ui::CSkinButtonWidget* returnAll = nullptr;
    };

    QWidget* BuildGlobalPage();
    QWidget* BuildOpacityPage();
    QWidget* BuildAudioPage();
    QWidget* BuildDeinterlacePage();
    template <std::size_t N>
    QWidget* BuildSliderPage(SliderRows<N>& rows, int firstText, int minimum, int maximum,
                             const std::array<std::uint8_t, N>& values, std::uint8_t neutral);
    template <std::size_t N>
    void SetRowChecked(SliderRows<N>& rows, std::size_t i, bool on, std::uint8_t neutral);
    void Browse();

    LocalSetup m_setup;  // the copy being edited (values without a control stay as given)
    std::optional<LocalSetup> m_result;

    QStackedWidget* m_pages = nullptr;
    std::array<controls::ui::CSkinButtonWidget*, 4> m_pageButtons{};
    QComboBox* m_drawMode = nullptr;
    QComboBox* m_dateFormat = nullptr;
    QComboBox* m_saveFormat = nullptr;
    QComboBox* m_hourSystem = nullptr;
    QLineEdit* m_location = nullptr;
    controls::ui::CSkinButtonWidget* m_watermark = nullptr;
    controls::ui::CSkinButtonWidget* m_reconnect = nullptr;
    SliderRows<kOpacityCount> m_opacity;
    SliderRows<kAudioBufferCount> m_audio;
    std::array<controls::ui::CSkinButtonWidget*, kDeinterlaceCount> m_deinterlace{};
    controls::ui::CSkinButtonWidget* m_ok = nullptr;
    controls::ui::CSkinButtonWidget* m_cancel = nullptr;
};

}  // namespace taviro::app::ui
