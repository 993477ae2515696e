// CRecorderPanel: the recorders of the site beside the grid. Each recorder is a row with its
// name and state (connecting, live, lost and coming back, refused ...), and under it its
// channels with their titles, video loss and whether the recorder records. A channel can be
// dragged onto a pane of the grid (which then shows it there) and a double click shows it
// alone; a click on a recorder chooses it for the window's services. "Add..." and
// "Disconnect" add a recorder or take the chosen one out.
//
// Threads: the GUI thread only. Ownership: a child widget of the main window.
#pragma once

#include <QTreeWidget>
#include <QWidget>
#include <vector>

#include "client/site_rows.h"
#include "video/ui/channel_grid.h"

class QPushButton;

namespace taviro::client::ui {

class CRecorderPanel final : public QWidget {
    Q_OBJECT
  public:
    explicit CRecorderPanel(QWidget* parent);

    // The site as it is now; `selectedId` is the recorder the window's services act on.
    void Show(const std::vector<RecorderRow>& rows, int selectedId);
    [[nodiscard]] QTreeWidget* Tree() const { return m_tree; }
    [[nodiscard]] QPushButton* AddButton() const { return m_add; }
    [[nodiscard]] QPushButton* DisconnectButton() const { return m_disconnect; }
    // The row of a recorder, and of one of its channels (null when it is not listed).
    [[nodiscard]] QTreeWidgetItem* RecorderItem(int recorderId) const;
    [[nodiscard]] QTreeWidgetItem* ChannelItem(int recorderId, int channel) const;

  signals:
    void ShowAlone(int recorderId, int channel);
    void RecorderChosen(int recorderId);
    void AddRequested();
    void DisconnectRequested(int recorderId);

  private:
    QTreeWidget* m_tree = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_disconnect = nullptr;
    std::vector<RecorderRow> m_rows;  // what is shown
    int m_selected = -1;
};

}  // namespace taviro::client::ui
