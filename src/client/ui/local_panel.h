// CLocalPanel: the local archive in the main window. It opens the archive window (and, in
// player mode, the window opens by itself), draws the local playback controller's reports
// on the position slider, and holds the bookmark button with its name field: the first
// press finds a free slot for the picture shown, the second (with a name) writes it; the
// bookmark file is read and written on a pool thread. The main window arranges the grid.
//
// Threads: the GUI thread only; nothing here waits. Ownership: the controller is the
// shell's and outlives the panel; the widgets are children of the main window.
#pragma once

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "archive/ui/archive_window.h"
#include "client/local_controller.h"
#include "platform/message_sink.h"
#include "platform/texts.h"

class QLineEdit;
class QPushButton;
class QWidget;

namespace taviro::controls::ui {
class CSkinSliderWidget;
}

namespace taviro::client::ui {

// The storage folder's parts the local archive uses.
struct ArchiveFolders {
    std::filesystem::path download;  // backup pairs
    std::filesystem::path log;       // the local log and the bookmarks
    std::filesystem::path saved;     // exports
};

struct LocalPanelContext {
    QWidget* window = nullptr;
    controls::ui::CSkinSliderWidget* slider = nullptr;  // the position slider, or null
    platform::IMessageSink* sink = nullptr;
    platform::TextLookup text;
    std::function<ArchiveFolders()> folders;
    std::function<int()> dateFormat;
    std::function<void(std::uint32_t time)> play;  // start local playback there
    std::function<void(bool open)> archiveOpen;    // the Archive button's lamp
    std::function<void(bool shown)> shown;         // arrange the grid and buttons
    std::function<void(int layout, protocol::ChannelMask channels)> segment;  // the grid's
    std::function<void()> stateChanged;  // the title line and pane icons
};

class CLocalPanel final : public QObject, private ILocalPlaybackView {
    Q_OBJECT
  public:
    CLocalPanel(CLocalPlaybackController& controller, LocalPanelContext context);
    ~CLocalPanel() override;

    // Opens the archive window, or raises it.
    void OpenArchive();
    archive::ui::CArchiveWindow* ArchiveWindow() const { return m_archiveWindow; }
    QPushButton* BookmarkButton() const { return m_bookmarkButton; }
    QLineEdit* BookmarkNameEdit() const { return m_bookmarkName; }

  private:
    // ILocalPlaybackView.
    void LocalShown(bool shown) override;
    void LocalSegment(int layout, protocol::ChannelMask channels, int spanSeconds) override;
    void LocalPosition(int second) override;
    void LocalStateChanged() override;

    void PressBookmark();
    [[nodiscard]] std::filesystem::path BookmarkFile() const;

    CLocalPlaybackController& m_controller;
    LocalPanelContext m_ctx;
    QPointer<archive::ui::CArchiveWindow> m_archiveWindow;
    QPushButton* m_bookmarkButton = nullptr;
    QLineEdit* m_bookmarkName = nullptr;
    std::optional<int> m_bookmarkSlot;  // between the two presses
    CLocalPlaybackController::BookmarkMark m_mark;
};

}  // namespace taviro::client::ui
