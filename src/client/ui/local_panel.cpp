#include "client/ui/local_panel.h"

#include <QLineEdit>
#include <QPushButton>

#include "archive/bookmarks.h"
#include "client/ui/recordings_panel.h"
#include "controls/ui/skin_slider_widget.h"
#include "logs/local_log.h"
#include "platform/ui/background_job.h"
#include "platform/ui/qt_owned.h"
#include "timeline/timeline.h"

namespace taviro::client::ui {

using platform::ui::Child;

CLocalPanel::CLocalPanel(CLocalPlaybackController& controller, LocalPanelContext context)
    : QObject(context.window), m_controller(controller), m_ctx(std::move(context)) {
    QWidget* window = m_ctx.window;
    m_bookmarkButton = Child<QPushButton>(window, QStringLiteral("Bookmark"));
    m_bookmarkButton->setObjectName(QStringLiteral("Bookmark"));
    m_bookmarkButton->setGeometry(874 - 96, 69, 92, 24);
    m_bookmarkButton->hide();
    connect(m_bookmarkButton, &QPushButton::clicked, this, [this] { PressBookmark(); });
    m_bookmarkName = Child<QLineEdit>(window);
    m_bookmarkName->setGeometry(874 - 300, 69, 200, 24);
    m_bookmarkName->setMaxLength(static_cast<int>(archive::kBookmarkMaxText));
    m_bookmarkName->setPlaceholderText(QStringLiteral("Bookmark name"));
    m_bookmarkName->hide();
    connect(m_bookmarkName, &QLineEdit::returnPressed, this, [this] { PressBookmark(); });
    m_controller.SetView(this);
}

CLocalPanel::~CLocalPanel() {
    m_controller.SetView(nullptr);
}

std::filesystem::path CLocalPanel::BookmarkFile() const {
    return m_ctx.folders().log / archive::kBookmarkFileName;
}

void CLocalPanel::OpenArchive() {
    if (m_archiveWindow) {
        m_archiveWindow->raise();
        m_archiveWindow->activateWindow();
        return;
    }
    const ArchiveFolders folders = m_ctx.folders();
    archive::ui::ArchiveWindowContext ctx;
    ctx.folder = folders.download;
    ctx.bookmarkFile = folders.log / archive::kBookmarkFileName;
    ctx.localLogFile = folders.log / logs::kLocalLogFileName;
    ctx.text = m_ctx.text;
    ctx.play = m_ctx.play;
    ctx.notify = [this](int category, int code) { m_ctx.sink->Notify(category, code); };
    ctx.saveFolder = folders.saved;
    ctx.dateFormat = m_ctx.dateFormat();
    ctx.currentYear = CurrentYear();
    m_archiveWindow = Child<archive::ui::CArchiveWindow>(m_ctx.window, std::move(ctx));
    connect(m_archiveWindow, &archive::ui::CArchiveWindow::Closed, this, [this] {
        if (m_archiveWindow)
            m_archiveWindow->deleteLater();
        m_ctx.archiveOpen(false);
    });
    m_ctx.archiveOpen(true);
    m_archiveWindow->show();
}

void CLocalPanel::LocalShown(bool shown) {
    m_bookmarkButton->setVisible(shown);
    m_bookmarkName->hide();
    m_bookmarkSlot.reset();
    if (m_ctx.slider != nullptr && !shown) {
        m_ctx.slider->SetRange(0, timeline::kDaySeconds - 1);
        m_ctx.slider->SetPosition(0);
    }
    m_ctx.shown(shown);
    if (shown)
        m_bookmarkButton->raise();
}

void CLocalPanel::LocalSegment(int layout, protocol::ChannelMask channels, int spanSeconds) {
    if (m_ctx.slider != nullptr)
        m_ctx.slider->SetRange(0, spanSeconds);
    m_ctx.segment(layout, channels);
}

void CLocalPanel::LocalPosition(int second) {
    if (m_ctx.slider != nullptr)
        m_ctx.slider->SetPosition(second);
}

void CLocalPanel::LocalStateChanged() {
    m_ctx.stateChanged();
}

void CLocalPanel::PressBookmark() {
    const std::filesystem::path file = BookmarkFile();
    if (!m_bookmarkSlot) {
        // First press: a free slot for the picture shown now, and a name to type.
        const auto mark = m_controller.MarkBookmark();
        if (!mark)
            return;
        m_mark = *mark;
        platform::ui::RunInBackground<archive::FreeSlot>(
            this, [file] { return archive::CBookmarkFile(file).FindFreeSlot(); },
            [this](archive::FreeSlot slot) {
                if (slot.status == archive::BookmarkStatus::Full) {
                    m_ctx.sink->Notify(18, 0);
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
    if (!m_controller.Shown())
        return;
    const std::string name = m_bookmarkName->text().toStdString();
    if (name.empty())
        return;  // the second press needs a name
    const int slot = *m_bookmarkSlot;
    m_bookmarkSlot.reset();
    m_bookmarkName->hide();
    const auto time = static_cast<std::int32_t>(m_mark.time);
    const std::string vid = m_mark.vid;
    platform::ui::RunInBackground<archive::BookmarkChange>(
        this,
        [file, slot, time, name, vid] {
            return archive::CBookmarkFile(file).Add(slot, time, name, vid);
        },
        [this](archive::BookmarkChange change) {
            if (change.status == archive::BookmarkStatus::Full)
                m_ctx.sink->Notify(18, 0);
            if (m_archiveWindow)
                m_archiveWindow->BookmarksChanged();
        });
}

}  // namespace taviro::client::ui
