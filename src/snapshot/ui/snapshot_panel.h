// CSnapshotPanel: snapshots in the main window. It holds the snapshot controller with its
// Qt caption painter, reaps the writers every second (the Save button is enabled again when
// the last has ended), says which file failed, copies a pane's picture to the clipboard and
// opens a saved picture in the viewer (read and decoded on a pool thread).
//
// Threads: the GUI thread only. Ownership: the panel owns the controller, the painter
// (which outlives the writers) and the viewer; the window keeps the views.
#pragma once

#include <QObject>
#include <QPoint>
#include <QString>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "logs/local_log.h"
#include "platform/message_sink.h"
#include "snapshot/snapshot_controller.h"
#include "snapshot/snapshot_writers.h"
#include "video/channel_views.h"

class QImage;
class QTimer;
class QWidget;

namespace taviro::snapshot::ui {

class CQtCaptionPainter;
class CSnapshotViewer;

struct SnapshotPanelContext {
    QWidget* window = nullptr;  // parent of the dialogs and the viewer
    platform::IMessageSink* sink = nullptr;
    std::function<JobSettings()> settings;  // format, date order, Saved folder, picture format
    std::function<std::shared_ptr<logs::CLocalLog>()> log;
    std::function<void(bool enabled)> saveEnabled;  // the Save button
    std::function<bool()> busy;  // the recorder's settings are being exchanged: no snapshot
};

// An entry the window adds to a pane's menu.
struct PaneAction {
    QString text;
    std::function<void()> run;
    QString menu;  // the submenu it is in (empty: the menu itself)
};

class CSnapshotPanel final : public QObject {
    Q_OBJECT
  public:
    explicit CSnapshotPanel(SnapshotPanelContext context);
    ~CSnapshotPanel() override;

    // The Save button (all shown channels) or a pane's menu (one channel).
    void Take(const video::CChannelViews& views, protocol::ChannelMask channels);
    // A pane's picture as a snapshot saves it, on the clipboard.
    void Copy(const video::CChannelViews& views, int channel);
    // The preview file dialog on the Saved folder, then the viewer.
    void OpenSaved();
    // A pane's own menu at `at` (global): a snapshot of its channel (when `saveEnabled`), its
    // picture copied, the window's own `actions`, and `about` (the About dialog with the
    // keys). The picture's entries only for a pane whose channel has shown a picture; no
    // menu when there is nothing to offer.
    void PaneMenu(const video::CChannelViews& views, int channel, QPoint at, bool saveEnabled,
                  const std::function<void()>& about, const std::vector<PaneAction>& actions = {});
    // snapshot::WM_SNAPSHOT_DONE; true when it was this panel's.
    bool OnPosted(const platform::PostedMessage& message);
    // Waits for the writers (quit).
    void Stop();
    [[nodiscard]] CSnapshotViewer* Viewer() const { return m_viewer.get(); }

  private:
    void Reap();
    void ShowPicture(const QString& path, const QImage& image, const QString& error);

    SnapshotPanelContext m_ctx;
    std::unique_ptr<CQtCaptionPainter> m_painter;
    std::unique_ptr<CSnapshotController> m_controller;
    QTimer* m_timer = nullptr;  // reaps the finished writers every second
    std::unique_ptr<CSnapshotViewer> m_viewer;
    bool m_stopped = false;
};

}  // namespace taviro::snapshot::ui
