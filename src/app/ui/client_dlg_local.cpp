// The local archive in the main window: the archive window (LSearch, and by itself in
// player mode), local playback on the grid with the playback buttons and the position
// slider over the joined segments, and the two-press bookmark.
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>

#include "app/main_window_layout.h"
#include "app/storage_folders.h"
#include "app/ui/client_dlg.h"
#include "archive/bookmarks.h"
#include "archive/player_rules.h"
#include "archive/ui/archive_window.h"
#include "client/remote_playback.h"
#include "client/ui/recordings_panel.h"
#include "controls/ui/skin_button_widget.h"
#include "controls/ui/skin_slider_widget.h"
#include "logs/local_log.h"
#include "platform/ui/background_job.h"
#include "platform/ui/qt_message_sink.h"
#include "platform/ui/qt_owned.h"
#include "protocol/recorder_time.h"
#include "recordings/timeline.h"
#include "video/ui/channel_grid.h"

namespace taviro::app::ui {

namespace {

constexpr std::uint32_t kArchiveButton = 363;
constexpr std::array<std::uint32_t, 6> kLocalButtons = {340, 341, 342, 343, 345, 346};

}  // namespace

void CClientDlg::OpenArchive() {
    if (m_archiveWindow) {
        m_archiveWindow->raise();
        m_archiveWindow->activateWindow();
        return;
    }
    const std::filesystem::path location = m_shell->Setup().LocationPath();
    archive::ui::ArchiveWindowContext ctx;
    ctx.folder = SubFolderPath(location, StorageSubFolder::kDownload);
    ctx.bookmarkFile = SubFolderPath(location, StorageSubFolder::kLog) / archive::kBookmarkFileName;
    ctx.localLogFile = SubFolderPath(location, StorageSubFolder::kLog) / logs::kLocalLogFileName;
    ctx.text = notify::ui::SkinTextLookup();
    ctx.play = [this](std::uint32_t time) { PlayLocalAt(time); };
    ctx.notify = [this](int category, int code) { m_sink.Notify(category, code); };
    ctx.saveFolder = SubFolderPath(location, StorageSubFolder::kSaved);
    ctx.dateFormat = m_shell->Setup().dateFormat;
    ctx.currentYear = client::ui::CurrentYear();
    m_archiveWindow = platform::ui::Child<archive::ui::CArchiveWindow>(this, std::move(ctx));
    connect(m_archiveWindow, &archive::ui::CArchiveWindow::Closed, this, [this] {
        if (m_archiveWindow)
            m_archiveWindow->deleteLater();
        if (auto* b = Button(kArchiveButton))
            b->SetCheck(0);
    });
    if (auto* b = Button(kArchiveButton))
        b->SetCheck(1);
    m_archiveWindow->show();
}

void CClientDlg::PlayLocalAt(std::uint32_t time) {
    m_shell->StartLocalPlayback(time, m_views, m_grid->PictureFormat());
}

void CClientDlg::OnLocalGridMode(bool on) {
    if (on == m_localShown)
        return;
    m_localShown = on;
    for (const std::uint32_t id : kLocalButtons)
        SetControlState(id, on ? platform::kEnabled : platform::kDisabled);
    m_recordings->SetKeysEnabled(on || m_recordings->Playback().Shown());
    if (!m_bookmarkButton) {
        m_bookmarkButton = platform::ui::Child<QPushButton>(this, QStringLiteral("Bookmark"));
        m_bookmarkButton->setObjectName(QStringLiteral("Bookmark"));
        m_bookmarkButton->setGeometry(874 - 96, 69, 92, 24);
        connect(m_bookmarkButton, &QPushButton::clicked, this, [this] { PressBookmark(); });
        m_bookmarkName = platform::ui::Child<QLineEdit>(this);
        m_bookmarkName->setGeometry(874 - 300, 69, 200, 24);
        m_bookmarkName->setMaxLength(static_cast<int>(archive::kBookmarkMaxText));
        m_bookmarkName->setPlaceholderText(QStringLiteral("Bookmark name"));
        connect(m_bookmarkName, &QLineEdit::returnPressed, this, [this] { PressBookmark(); });
    }
    m_bookmarkButton->setVisible(on);
    m_bookmarkName->hide();
    m_bookmarkSlot.reset();
    // The position slider seeks in the joined pairs while they play.
    if (auto* slider = Slider(kPositionSliderId))
        slider->SetSliderEnabled(on || m_recordings->Playback().Shown());
    if (on) {
        m_grid->StartPlayback();
        m_views.SetViewMode(video::ViewMode::LocalPlayback);
        m_bookmarkButton->raise();
    } else {
        m_localText.clear();
        m_localPosition = 0;
        ShowConnectionState();
        // Live view comes back by itself when a recorder is connected (or connecting);
        // without one the panes stay empty, and say why.
        const ConnectionState state = m_shell->State();
        if (state == ConnectionState::kNone || state == ConnectionState::kClosing)
            m_grid->SetNotice(QStringLiteral("Not connected to a recorder: no live view"));
        if (auto* slider = Slider(kPositionSliderId)) {
            slider->SetRange(0, recordings::kDaySeconds - 1);
            slider->SetPosition(0);
        }
        m_positionDragging = false;
        m_grid->SelectLayout(video::kInitialLayout);
        ShowLayoutButtons(m_grid->Layout().Buttons());
    }
    RefreshGridStatus();
    m_grid->RepaintAll();
}

void CClientDlg::OnLocalMessage(const platform::PostedMessage& m) {
    if (!m_localShown && m.message != platform::WM_LOCAL_SEGMENT)
        return;
    switch (m.message) {
        case platform::WM_LOCAL_SEGMENT: {
            m_localSpanStart = static_cast<std::uint32_t>(m.wParam >> 32);
            m_localSpanEnd = static_cast<std::uint32_t>(m.wParam & 0xFFFFFFFFu);
            const int layout = static_cast<int>(m.lParam >> 32);
            const auto channels = static_cast<protocol::ChannelMask>(m.lParam & 0xFFFF);
            if (auto* slider = Slider(kPositionSliderId)) {
                const auto span = m_localSpanEnd > m_localSpanStart
                                      ? static_cast<int>(m_localSpanEnd - m_localSpanStart)
                                      : 0;
                slider->SetRange(0, span);
            }
            m_grid->SelectLayout(layout);
            ShowLayoutButtons(m_grid->Layout().Buttons());
            m_grid->SetAvailableChannels(channels);
            RefreshGridStatus();
            break;
        }
        case platform::WM_LOCAL_POSITION: {
            const auto seconds = static_cast<std::uint32_t>(m.wParam);
            if (!m_positionDragging && seconds >= m_localSpanStart) {
                if (auto* slider = Slider(kPositionSliderId))
                    slider->SetPosition(static_cast<int>(seconds - m_localSpanStart));
            }
            m_localPosition = seconds;
            ShowLocalTitle();
            break;
        }
        case platform::WM_LOCAL_STATE:
            // A pause (by a button, a tampered frame or either end of the recording) shows
            // no new picture: the title and the icons follow the state itself.
            ShowLocalTitle();
            RefreshGridStatus();
            break;
        default:
            break;
    }
}

void CClientDlg::ShowLocalTitle() {
    const std::string title =
        client::PlaybackTitle("L-PLAY", m_localPosition, archive::IconSpeed(m_shell->LocalState()));
    if (title.empty())
        return;
    m_localText = QString::fromStdString(title);
    ShowConnectionState();
}

void CClientDlg::OnLocalSlider(std::uint32_t message, int position) {
    if (message == platform::WM_SLIDER_BEGIN || message == platform::WM_SLIDER_MOVE) {
        m_positionDragging = true;
        return;
    }
    m_positionDragging = false;
    m_shell->SeekLocal(m_localSpanStart + static_cast<std::uint32_t>(std::max(position, 0)));
}

void CClientDlg::PressBookmark() {
    client::CLocalPlayback* player = m_shell->LocalPlayback();
    if (!player || !m_localShown)
        return;
    const std::filesystem::path file =
        SubFolderPath(m_shell->Setup().LocationPath(), StorageSubFolder::kLog) /
        archive::kBookmarkFileName;
    if (!m_bookmarkSlot) {
        // First press: a free slot for the picture shown now, and a name to type.
        m_bookmarkTime = player->FrameTime();
        m_bookmarkVid = player->CurrentVid().string();
        platform::ui::RunInBackground<archive::FreeSlot>(
            this, [file] { return archive::CBookmarkFile(file).FindFreeSlot(); },
            [this](archive::FreeSlot slot) {
                if (slot.status == archive::BookmarkStatus::Full) {
                    m_sink.Notify(18, 0);
                    return;
                }
                if (slot.status != archive::BookmarkStatus::Ok)
                    return;  // the file cannot be read: no bookmark, nothing reported
                m_bookmarkSlot = slot.slot;
                m_bookmarkName->clear();
                m_bookmarkName->show();
                m_bookmarkName->raise();
                m_bookmarkName->setFocus();
            });
        return;
    }
    const std::string name = m_bookmarkName->text().toStdString();
    if (name.empty())
        return;  // the second press needs a name
    const int slot = *m_bookmarkSlot;
    m_bookmarkSlot.reset();
    m_bookmarkName->hide();
    const auto time = static_cast<std::int32_t>(m_bookmarkTime);
    const std::string vid = m_bookmarkVid;
    platform::ui::RunInBackground<archive::BookmarkChange>(
        this,
        [file, slot, time, name, vid] {
            return archive::CBookmarkFile(file).Add(slot, time, name, vid);
        },
        [this](archive::BookmarkChange change) {
            if (change.status == archive::BookmarkStatus::Full)
                m_sink.Notify(18, 0);
            if (m_archiveWindow)
                m_archiveWindow->BookmarksChanged();
        });
}

}  // namespace taviro::app::ui
