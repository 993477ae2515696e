// One of the seven views of the recorder's log in the search window (All, Power, Record,
// Operation, Client, Event, Archive): the list, newest first, with the view's buttons
// (Details for setup changes, Play for events) and the list's filter, Print, CSV and PDF.
// The rows come from logs::BuildLogRows; Details opens CLogDetailDialog.
//
// Thread: the GUI thread. The records are shared, immutable, between the views.
#pragma once

#include <QDialog>
#include <QWidget>
#include <memory>
#include <vector>

#include "logs/remote_log.h"

class QPushButton;

namespace taviro::lists::ui {
class CListPage;
}  // namespace taviro::lists::ui

namespace taviro::logs::ui {

struct LogViewContext {
    platform::TextLookup text;
    int dateOrder = 0;
    bool loggedIn = false;
    // The log is shown from the copy kept for a playback started from it: Play is off.
    bool fromKeptCopy = false;
    int channels = 16;
};

class CLogViewPage final : public QWidget {
    Q_OBJECT
  public:
    CLogViewPage(LogView view, std::shared_ptr<const std::vector<RemoteLogRecord>> records,
                 LogViewContext context, QWidget* parent = nullptr);

    [[nodiscard]] LogView View() const { return m_view; }
    lists::ui::CListPage* List() const { return m_list; }
    QPushButton* DetailsButton() const { return m_details; }
    QPushButton* PlayButton() const { return m_play; }
    // The record of the selected row, null when none.
    [[nodiscard]] const RemoteLogRecord* Selected() const;
    // The detail window of the selected record (tests); null when it has none.
    QDialog* OpenDetails();

  signals:
    void Play(PlayStart start);

  private:
    void UpdateButtons();

    LogView m_view;
    std::shared_ptr<const std::vector<RemoteLogRecord>> m_records;
    LogViewContext m_context;
    lists::ui::CListPage* m_list = nullptr;
    QPushButton* m_details = nullptr;
    QPushButton* m_play = nullptr;
};

// The changed items of one setup record: its first row repeats the list's five cells,
// then one row per changed item. Sub-type 15 shows the motion area before and after.
class CLogDetailDialog final : public QDialog {
    Q_OBJECT
  public:
    CLogDetailDialog(const RemoteLogRecord& record, const LogListContext& context, QWidget* parent);
    lists::ui::CListPage* List() const { return m_list; }

  private:
    lists::ui::CListPage* m_list = nullptr;
};

}  // namespace taviro::logs::ui
