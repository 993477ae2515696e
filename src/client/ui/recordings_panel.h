// CRecordingsPanel: the recorder's recordings in the main window. It holds the remote
// playback and backup controllers and draws them: the search window (calendar, timeline,
// events, logs and the backup pages), the bar of recorded stretches under the position
// slider, the keys that work the transport buttons while playback runs, and the backup's
// progress panel over the bottom of the grid. The main window only routes its buttons, the
// slider and the posted messages here, and arranges the grid when playback begins or ends.
//
// Threads: the GUI thread only; nothing here waits.
// Ownership: the panel owns both controllers and, through Qt, its widgets (children of the
// main window). The connection is the owner's; Attach(nullptr) comes before it goes.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "client/backup_controller.h"
#include "client/remote_playback.h"
#include "platform/message_sink.h"
#include "platform/texts.h"
#include "recordings/ui/search_window.h"

class QShortcut;
class QTimer;
class QWidget;

namespace taviro::controls::ui {
class CSkinSliderWidget;
}
namespace taviro::recordings::ui {
class CPlaybackBar;
class CBackupPanel;
}  // namespace taviro::recordings::ui

namespace taviro::client::ui {

// What the panel needs of the main window.
struct RecordingsPanelContext {
    QWidget* window = nullptr;                              // parent of every widget made
    controls::ui::CSkinSliderWidget* slider = nullptr;      // the position slider, or null
    platform::IMessageSink* sink = nullptr;                 // notifications, message boxes
    platform::TextLookup text;                              // the skin's texts
    std::function<bool()> localShown;                       // the grid shows local playback
    std::function<std::filesystem::path()> downloadFolder;  // where backups write
    std::function<std::int64_t(const std::filesystem::path&)> freeSpace;  // tests' disk
    std::function<int()> dateFormat;                // the local setup's date order
    std::function<void(bool shown)> playbackShown;  // arrange the grid and buttons
    std::function<void()> titleChanged;             // the title strip's line
    std::function<void(std::uint32_t id)> press;    // a key presses this button
    std::function<void(bool open)> searchOpen;      // the Search button's lamp
};

class CRecordingsPanel final : public QObject, private IRemotePlaybackView {
    Q_OBJECT
  public:
    explicit CRecordingsPanel(RecordingsPanelContext context);
    ~CRecordingsPanel() override;

    // The connection whose recordings these are (null: none any more; the search window
    // closes and a playback shown ends).
    void Attach(CConnection* connection);
    // Opens the search window, or raises it.
    void OpenSearch();
    void CloseSearch();
    // A message posted to the main, search or backup window; true when it was the panel's.
    bool OnPosted(const platform::PostedMessage& message);
    // The position slider while remote playback is shown.
    void OnSlider(std::uint32_t message, int position, protocol::ChannelMask view);
    // Space, the arrows and Escape work the transport buttons (remote or local playback).
    void SetKeysEnabled(bool on);

    CRemotePlaybackController& Playback() { return m_playback; }
    CBackupController& Backup() { return m_backup; }
    recordings::ui::CSearchWindow* SearchWindow() const { return m_searchWindow; }
    recordings::ui::CPlaybackBar* Bar() const { return m_bar; }
    recordings::ui::CBackupPanel* BackupPanel() const { return m_backupPanel; }

  private:
    // IRemotePlaybackView.
    void PlaybackShown(bool shown) override;
    void DayStretches(std::int64_t dayStart, const std::vector<timeline::DayInfoRecord>& records,
                      protocol::ChannelMask channels) override;
    void SliderSpan(int from, int to) override;
    void SliderPosition(int second) override;
    void TitleChanged() override;

    RecordingsPanelContext m_ctx;
    CRemotePlaybackController m_playback;
    CBackupController m_backup;
    CConnection* m_connection = nullptr;
    QTimer* m_timer = nullptr;
    recordings::ui::CPlaybackBar* m_bar = nullptr;
    recordings::ui::CBackupPanel* m_backupPanel = nullptr;
    std::vector<QShortcut*> m_keys;
    QPointer<recordings::ui::CSearchWindow> m_searchWindow;
};

// The year of today's date on the recorder's calendar (the search windows' default year).
int CurrentYear();

}  // namespace taviro::client::ui
