#pragma once
// The trace window ("Трассировка"). Records come from the session in batches: the host's
// wake-up only starts a short timer, and its tick takes everything waiting and inserts the
// shown rows in one step, so a busy line costs one model update per tick whatever the
// frame rate. Rows are formatted when the view asks for them (only the visible ones); the
// depth bounds both the tracer's records and the rows. The rules (filters, row texts,
// enabled commands, the depth) live in TraceRows.h; this class only wires them.
//
// Dialogs go through replaceable hooks so tests never wait in exec().

#include <QAbstractTableModel>
#include <QMainWindow>
#include <QString>
#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "runtime/Tracer.h"
#include "ui/TraceRows.h"

class QAction;
class QComboBox;
class QLabel;
class QTableView;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace velkor {

class Session;
class RunStatePanel;

// The rows of TraceLogView, newest first.
class TraceLogModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit TraceLogModel(QObject* parent = nullptr);
  // Inserts the records (oldest first) at the top in one step and keeps at most `depth`
  // rows, removing the oldest at the bottom in one step.
  void Prepend(const std::vector<std::shared_ptr<const TTraceUnit>>& records, int depth);
  void Trim(int depth);
  void Clear();
  const TTraceUnit& Record(int row) const { return *m_rows[size_t(row)].Unit; }
  TraceRow Row(int row) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  struct Item {
    std::shared_ptr<const TTraceUnit> Unit;
    mutable std::shared_ptr<const std::array<QString, 4>> Texts;  // made when first shown
  };
  std::deque<Item> m_rows;
};

class TTraceLogForm : public QMainWindow {
  Q_OBJECT
 public:
  // How long records wait after a wake-up before they are shown together.
  static constexpr int kBatchMs = 30;

  explicit TTraceLogForm(Session& session, QWidget* parent = nullptr);
  ~TTraceLogForm() override;

  // Handlers of the controls (public so tests drive them as the clicks do).
  void OnOffButtonClick();
  void ClearButtonClick();
  void DepthButtonClick();
  void SaveToFileButtonClick();
  void FilePathMenuClick();
  void SavePcapMenuClick();
  // The tree's and the box's choice as a filter, applied to records arriving from now on.
  void FilterChanged();
  // The host's wake-up: starts the batch timer unless it runs.
  void RecordsReady();
  // The batch tick: takes the waiting records and shows those the filter lets through.
  void TakeRecords();
  void UpdateControls();

  // Dialog hooks; each returns none when the user cancels.
  std::function<std::optional<QString>(int current)> AskDepth;
  std::function<std::optional<QString>()> ChooseTraceFile;
  std::function<std::optional<QString>()> ChoosePcapFile;

  QTreeWidget* DevicesTree() const { return m_tree; }
  QComboBox* CmdFilterBox() const { return m_cmdFilter; }
  QTableView* TraceLogView() const { return m_view; }
  TraceLogModel* Model() const { return m_model; }
  const TraceFilter& Filter() const { return m_filter; }
  QString StatePanelText() const;
  QLabel* CountsPanel() const { return m_counts; }
  QAction* OnOffButton() const { return m_onOff; }
  QAction* ClearButton() const { return m_clear; }
  QAction* DepthButton() const { return m_depth; }
  QAction* SaveToFileButton() const { return m_save; }
  QAction* TraceOnMenu() const { return m_traceOnMenu; }
  QAction* TraceOffMenu() const { return m_traceOffMenu; }
  QAction* ClearMenu() const { return m_clearMenu; }
  QAction* DepthMenu() const { return m_depthMenu; }
  QAction* SaveToFileOnMenu() const { return m_saveOnMenu; }
  QAction* SaveToFileOffMenu() const { return m_saveOffMenu; }
  QAction* FilePathMenu() const { return m_filePathMenu; }
  QAction* SavePcapMenu() const { return m_pcapMenu; }
  // Counters since the window was made: records taken from the session, rows inserted,
  // records the session's queue dropped before the window took them.
  uint64_t RecordsTaken() const { return m_taken; }
  uint64_t RowsShown() const { return m_shown; }
  uint64_t RecordsDropped() const { return m_dropped; }
  int BatchCount() const { return m_batches; }

 private:
  QAction* MakeAction(const QString& text, void (TTraceLogForm::*handler)());
  void ShowCounts();
  void ShowError(const QString& text);

  Session& m_session;
  TTracer& m_tracer;
  TraceFilter m_filter;
  uint64_t m_taken = 0;
  uint64_t m_shown = 0;
  uint64_t m_dropped = 0;
  int m_batches = 0;

  QTreeWidget* m_tree = nullptr;
  QComboBox* m_cmdFilter = nullptr;
  QTableView* m_view = nullptr;
  TraceLogModel* m_model = nullptr;
  RunStatePanel* m_statePanel = nullptr;
  QLabel* m_counts = nullptr;
  QTimer* m_batchTimer = nullptr;
  QAction* m_onOff = nullptr;
  QAction* m_clear = nullptr;
  QAction* m_depth = nullptr;
  QAction* m_save = nullptr;
  QAction* m_traceOnMenu = nullptr;
  QAction* m_traceOffMenu = nullptr;
  QAction* m_clearMenu = nullptr;
  QAction* m_depthMenu = nullptr;
  QAction* m_saveOnMenu = nullptr;
  QAction* m_saveOffMenu = nullptr;
  QAction* m_filePathMenu = nullptr;
  QAction* m_pcapMenu = nullptr;
};

}  // namespace velkor
