#include "ui/TraceLogForm.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cmath>

#include "model/DeviceClass.h"
#include "project/Session.h"
#include "runtime/TracePcap.h"
#include "serving/ModbusTCPServer.h"
#include "ui/MainForm.h"
#include "ui/RunStatePanel.h"

namespace velkor {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

// --- rows ---

TraceLogModel::TraceLogModel(QObject* parent) : QAbstractTableModel(parent) {}

void TraceLogModel::Prepend(const std::vector<std::shared_ptr<const TTraceUnit>>& records,
                            int depth) {
  if (depth <= 0) return;
  // Only the newest `depth` of a batch can stay, so the rest never become rows.
  const size_t take = std::min(records.size(), size_t(depth));
  if (take == 0) return;
  Trim(int(size_t(depth) - take));
  beginInsertRows({}, 0, int(take) - 1);
  for (size_t i = records.size() - take; i < records.size(); ++i)
    m_rows.push_front(Item{records[i], nullptr});
  endInsertRows();
}

void TraceLogModel::Trim(int depth) {
  const size_t keep = size_t(std::max(0, depth));
  if (m_rows.size() <= keep) return;
  beginRemoveRows({}, int(keep), int(m_rows.size()) - 1);
  m_rows.erase(m_rows.begin() + ptrdiff_t(keep), m_rows.end());
  endRemoveRows();
}

void TraceLogModel::Clear() { Trim(0); }

TraceRow TraceLogModel::Row(int row) const { return BuildTraceRow(Record(row)); }

int TraceLogModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(m_rows.size());
}

int TraceLogModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 4; }

QVariant TraceLogModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || size_t(index.row()) >= m_rows.size()) return {};
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  const Item& item = m_rows[size_t(index.row())];
  if (!item.Texts) {
    const TraceRow row = BuildTraceRow(*item.Unit);
    item.Texts = std::make_shared<const std::array<QString, 4>>(
        std::array<QString, 4>{Q(row.Time), Q(row.Direction), Q(row.Header), Q(row.Data)});
  }
  return (*item.Texts)[size_t(index.column())];
}

QVariant TraceLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const kTitles[] = {"Время", "Направление", "Заголовок", "Данные"};
  return section >= 0 && section < 4 ? tr(kTitles[section]) : QVariant();
}


// --- window ---

TTraceLogForm::TTraceLogForm(Session& session, QWidget* parent)
    : QMainWindow(parent), m_session(session), m_tracer(session.Tracer()) {
  setWindowTitle(tr("Трассировка"));
  resize(820, 480);

  AskDepth = [this](int current) -> std::optional<QString> {
    bool ok = false;
    const QString text =
        QInputDialog::getText(this, QApplication::applicationName(), tr("Глубина трассировки"),
                              QLineEdit::Normal, QString::number(current), &ok);
    if (!ok) return std::nullopt;
    return text;
  };
  ChooseTraceFile = [this]() -> std::optional<QString> {
    const QString path = QFileDialog::getSaveFileName(this, tr("Путь к файлу трассировки"), {},
                                                      tr("Текстовые файлы (*.txt)"));
    if (path.isEmpty()) return std::nullopt;
    return path;
  };
  ChoosePcapFile = [this]() -> std::optional<QString> {
    QString path = QFileDialog::getSaveFileName(this, tr("Сохранить в pcap"), {},
                                                tr("Файлы pcapng (*.pcapng)"));
    if (path.isEmpty()) return std::nullopt;
    if (!path.contains('.')) path += QStringLiteral(".pcapng");
    return path;
  };

  QStyle* s = style();
  m_onOff = MakeAction(tr("Вкл/Выкл"), &TTraceLogForm::OnOffButtonClick);
  m_clear = MakeAction(tr("Очистить"), &TTraceLogForm::ClearButtonClick);
  m_clear->setIcon(s->standardIcon(QStyle::SP_DialogResetButton));
  m_depth = MakeAction(tr("Глубина трассировки"), &TTraceLogForm::DepthButtonClick);
  m_depth->setIcon(s->standardIcon(QStyle::SP_FileDialogDetailedView));
  m_save = MakeAction(tr("Сохранение в файл"), &TTraceLogForm::SaveToFileButtonClick);
  m_traceOnMenu = MakeAction(tr("Включить"), &TTraceLogForm::OnOffButtonClick);
  m_traceOffMenu = MakeAction(tr("Выключить"), &TTraceLogForm::OnOffButtonClick);
  m_depthMenu = MakeAction(tr("Глубина"), &TTraceLogForm::DepthButtonClick);
  m_clearMenu = MakeAction(tr("Очистить"), &TTraceLogForm::ClearButtonClick);
  m_saveOnMenu =
      MakeAction(tr("Включить сохранение в файл"), &TTraceLogForm::SaveToFileButtonClick);
  m_saveOffMenu =
      MakeAction(tr("Выключить сохранение в файл"), &TTraceLogForm::SaveToFileButtonClick);
  m_filePathMenu = MakeAction(tr("Путь к файлу трассировки..."), &TTraceLogForm::FilePathMenuClick);
  m_pcapMenu = MakeAction(tr("Сохранить в pcap..."), &TTraceLogForm::SavePcapMenuClick);
  m_pcapMenu->setStatusTip(tr("Записать кадры трассировки в файл для Wireshark"));
  for (QAction* a : {m_onOff, m_clear, m_depth, m_save}) a->setStatusTip(a->text());

  QMenu* file = menuBar()->addMenu(tr("Файл"));
  file->addAction(m_filePathMenu);
  file->addAction(m_pcapMenu);
  QMenu* trace = menuBar()->addMenu(tr("Трассировка"));
  trace->addAction(m_traceOnMenu);
  trace->addAction(m_traceOffMenu);
  trace->addSeparator();
  trace->addAction(m_depthMenu);
  trace->addAction(m_clearMenu);
  trace->addSeparator();
  trace->addAction(m_saveOnMenu);
  trace->addAction(m_saveOffMenu);

  QToolBar* bar = addToolBar(tr("Трассировка"));
  bar->setObjectName(QStringLiteral("TraceToolBar"));
  bar->setMovable(false);
  bar->addAction(m_onOff);
  bar->addAction(m_clear);
  bar->addAction(m_depth);
  bar->addAction(m_save);

  m_tree = new QTreeWidget(this);
  m_tree->setObjectName(QStringLiteral("DevicesTree"));
  m_tree->setHeaderHidden(true);
  m_tree->setMinimumWidth(160);
  connect(m_tree, &QTreeWidget::currentItemChanged, this, &TTraceLogForm::FilterChanged);

  m_cmdFilter = new QComboBox(this);
  m_cmdFilter->setObjectName(QStringLiteral("CmdFilterBox"));
  for (const CmdFilterEntry& entry : kCmdFilterEntries)
    m_cmdFilter->addItem(tr(entry.Text), int(entry.Function));
  m_cmdFilter->setToolTip(tr("Фильтр по коду функции (при выбранном устройстве)"));
  connect(m_cmdFilter, &QComboBox::currentIndexChanged, this, &TTraceLogForm::FilterChanged);

  m_model = new TraceLogModel(this);
  m_view = new QTableView(this);
  m_view->setObjectName(QStringLiteral("TraceLogView"));
  m_view->setModel(m_model);
  m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_view->setShowGrid(false);
  m_view->setWordWrap(false);
  m_view->verticalHeader()->hide();
  // Fixed row heights and column widths: a batch never makes the view measure rows.
  m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 6);
  m_view->horizontalHeader()->setStretchLastSection(true);
  m_view->horizontalHeader()->setHighlightSections(false);
  const int digit = m_view->fontMetrics().horizontalAdvance(QLatin1Char('0'));
  m_view->setColumnWidth(0, digit * 22);
  m_view->setColumnWidth(1, digit * 13);
  m_view->setColumnWidth(2, digit * 20);

  auto* right = new QWidget(this);
  auto* layout = new QVBoxLayout(right);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_cmdFilter);
  layout->addWidget(m_view, 1);
  auto* split = new QSplitter(this);
  split->addWidget(m_tree);
  split->addWidget(right);
  split->setStretchFactor(1, 1);
  split->setSizes({200, 620});
  setCentralWidget(split);

  m_statePanel = new RunStatePanel(this);
  m_counts = new QLabel(this);
  statusBar()->addWidget(m_statePanel);
  statusBar()->addWidget(m_counts, 1);

  m_batchTimer = new QTimer(this);
  m_batchTimer->setSingleShot(true);
  m_batchTimer->setInterval(kBatchMs);
  connect(m_batchTimer, &QTimer::timeout, this, &TTraceLogForm::TakeRecords);

  FilterChanged();
  UpdateControls();
}

TTraceLogForm::~TTraceLogForm() = default;

QAction* TTraceLogForm::MakeAction(const QString& text, void (TTraceLogForm::*handler)()) {
  auto* action = new QAction(text, this);
  action->setToolTip(text);
  connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
  return action;
}

QString TTraceLogForm::StatePanelText() const { return m_statePanel->Text(); }

void TTraceLogForm::OnOffButtonClick() {
  m_tracer.SetEnabled(!m_tracer.Enabled());
  UpdateControls();
}

void TTraceLogForm::ClearButtonClick() {
  if (m_tracer.Enabled()) return;  // the tracer's list is cleared only while it is off
  m_tracer.Clear();
  m_model->Clear();
  ShowCounts();
}

void TTraceLogForm::DepthButtonClick() {
  if (m_tracer.Enabled()) return;
  const std::optional<QString> entry = AskDepth ? AskDepth(m_tracer.Depth()) : std::nullopt;
  if (!entry) return;
  const std::optional<int32_t> depth = ParseTraceDepth(entry->toStdString());
  if (!depth) return;
  m_tracer.SetDepth(*depth);
  m_model->Trim(*depth);
  ShowCounts();
}

void TTraceLogForm::SaveToFileButtonClick() {
  if (m_tracer.FileName.empty() && !m_tracer.SaveToFile()) {
    const std::optional<QString> path = ChooseTraceFile ? ChooseTraceFile() : std::nullopt;
    if (!path) return;
    m_tracer.FileName = path->toStdString();
  }
  m_tracer.SetSaveToFile(!m_tracer.SaveToFile());
  UpdateControls();
}

void TTraceLogForm::FilePathMenuClick() {
  const std::optional<QString> path = ChooseTraceFile ? ChooseTraceFile() : std::nullopt;
  if (path) m_tracer.FileName = path->toStdString();  // an open file stays until saving stops
}

void TTraceLogForm::SavePcapMenuClick() {
  const std::optional<QString> path = ChoosePcapFile ? ChoosePcapFile() : std::nullopt;
  if (!path) return;
  if (!SaveTracePcap(path->toStdString(), m_tracer.Records()))
    ShowError(tr("Не удалось записать файл %1").arg(*path));
}

void TTraceLogForm::FilterChanged() {
  TraceFilter filter;
  const NodeObject node = TreeItemNode(m_tree->currentItem());
  if (node.Kind == NodeKind::Server) {
    filter.Server = node.Server;
  } else if (node.Kind == NodeKind::Device && node.Device) {
    filter.Server = static_cast<const TModbusTCPServer*>(node.Device->Server());
    filter.HasDevice = true;
    filter.Unit = node.Device->Number;
    filter.Function = uint8_t(m_cmdFilter->currentData().toInt());
  }
  m_filter = filter;
  UpdateControls();
}

void TTraceLogForm::RecordsReady() {
  if (!m_batchTimer->isActive()) m_batchTimer->start();
}

void TTraceLogForm::TakeRecords() {
  uint64_t dropped = 0;
  std::vector<std::shared_ptr<const TTraceUnit>> records = m_session.TakeTraceRecords(&dropped);
  m_dropped += dropped;
  m_taken += records.size();
  std::erase_if(records, [this](const auto& unit) { return !TraceRecordShown(*unit, m_filter); });
  const int depth = m_tracer.Depth();
  m_shown += std::min<uint64_t>(records.size(), uint64_t(std::max(0, depth)));
  m_model->Prepend(records, depth);
  ++m_batches;
  ShowCounts();
}

void TTraceLogForm::UpdateControls() {
  const bool on = m_tracer.Enabled(), saving = m_tracer.SaveToFile();
  const TraceCommands c = TraceCommandsFor(on, saving, m_filter.HasDevice);
  QStyle* s = style();
  m_onOff->setIcon(s->standardIcon(on ? QStyle::SP_MediaStop : QStyle::SP_MediaPlay));
  m_save->setIcon(s->standardIcon(saving ? QStyle::SP_DialogSaveButton : QStyle::SP_DriveHDIcon));
  m_traceOnMenu->setEnabled(c.TraceOn);
  m_traceOffMenu->setEnabled(c.TraceOff);
  m_clear->setEnabled(c.Clear);
  m_clearMenu->setEnabled(c.Clear);
  m_depth->setEnabled(c.Depth);
  m_depthMenu->setEnabled(c.Depth);
  m_saveOnMenu->setEnabled(c.SaveOn);
  m_saveOffMenu->setEnabled(c.SaveOff);
  m_cmdFilter->setEnabled(c.CmdFilter);
  m_statePanel->SetRunning(on);
  ShowCounts();
}

void TTraceLogForm::ShowCounts() {
  QString text = tr("Глубина: %1   Строк: %2").arg(m_tracer.Depth()).arg(m_model->rowCount());
  if (m_dropped > 0) text += tr("   Пропущено: %1").arg(m_dropped);
  if (m_tracer.SaveToFile()) text += tr("   Файл: %1").arg(Q(m_tracer.FileName));
  m_counts->setText(text);
}

void TTraceLogForm::ShowError(const QString& text) {
  auto* box = new QMessageBox(QMessageBox::Warning, tr("Трассировка"), text, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

}  // namespace velkor
