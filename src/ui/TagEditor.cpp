#include "ui/TagEditor.h"

#include <algorithm>

#include <QCheckBox>
#include <QEnterEvent>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include "model/DeviceClass.h"
#include "model/GroupClass.h"
#include "model/ModbusRegister.h"
#include "project/ConstGroups.h"
#include "simulation/Behaviours.h"

namespace velkor {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

void FillBox(QComboBox* box, const std::vector<std::string>& items, int selected) {
  const QSignalBlocker block(box);
  box->clear();
  for (const std::string& item : items) box->addItem(Q(item));
  box->setCurrentIndex(selected);
}

QLineEdit* Field(QWidget* parent, const QString& hint = {}) {
  auto* edit = new QLineEdit(parent);
  if (!hint.isEmpty()) edit->setToolTip(hint);
  return edit;
}

}  // namespace

// ---- the list ----

void TagListModel::SetRows(std::vector<TModbusRegister*> rows) {
  beginResetModel();
  m_rows = std::move(rows);
  endResetModel();
}

TModbusRegister* TagListModel::Tag(int row) const {
  return row >= 0 && row < int(m_rows.size()) ? m_rows[size_t(row)] : nullptr;
}

int TagListModel::RowOf(const TModbusRegister* tag) const {
  const auto it = std::find(m_rows.begin(), m_rows.end(), tag);
  return it == m_rows.end() ? -1 : int(it - m_rows.begin());
}

void TagListModel::Sort(int column, bool descending) {
  emit layoutAboutToBeChanged();
  const QModelIndexList before = persistentIndexList();
  std::vector<TModbusRegister*> tags;
  for (const QModelIndex& index : before) tags.push_back(Tag(index.row()));
  SortTagRows(m_rows, column, descending);
  QModelIndexList after;
  for (size_t i = 0; i < tags.size(); ++i)
    after.push_back(index(RowOf(tags[i]), before[int(i)].column()));
  changePersistentIndexList(before, after);
  emit layoutChanged();
}

int TagListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(m_rows.size());
}
int TagListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 4; }

QVariant TagListModel::data(const QModelIndex& index, int role) const {
  const TModbusRegister* tag = Tag(index.row());
  if (!tag || role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case ListColName:
      return Q(tag->Name());
    case ListColAddress:
      return Q(tag->AddressText());
    case ListColType:
      return Q(tag->TypeName());
    case ListColBehaviour:
      return Q(BehaviourText(*tag));
    default:
      return {};
  }
}

QVariant TagListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const headers[] = {"Имя", "Адрес", "Тип", "Поведение"};
  return section >= 0 && section < 4 ? QObject::tr(headers[section]) : QVariant();
}

// ---- the saw pictures ----

SawTypeBox::SawTypeBox(QWidget* parent) : QComboBox(parent) {
  setIconSize(QSize(72, 18));
  for (const char* text : SawTypeItems()) {
    addItem(QString());
    setItemData(count() - 1, tr(text), Qt::ToolTipRole);
    setItemData(count() - 1, tr(text), Qt::AccessibleTextRole);
  }
  DrawItems();
  connect(this, &QComboBox::currentIndexChanged, this,
          [this](int i) { setToolTip(itemData(i, Qt::ToolTipRole).toString()); });
}

QPixmap SawTypeBox::ShapePixmap(int sawType, const QSize& size, qreal pixelRatio,
                                const QColor& color) {
  QPixmap pixmap(size * pixelRatio);
  pixmap.setDevicePixelRatio(pixelRatio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal w = size.width(), h = size.height();
  const qreal top = 2, bottom = h - 2, mid = h / 2;
  QColor axis = color;
  axis.setAlphaF(0.35);
  painter.setPen(QPen(axis, 1));
  painter.drawLine(QPointF(1, mid), QPointF(w - 1, mid));
  QPainterPath path;
  const qreal x0 = 3, x1 = w - 3, span = x1 - x0;
  switch (sawType) {
    case 0:  // symmetric: from the axis up to +A, down to -A, back
      path.moveTo(x0, mid);
      path.lineTo(x0 + span / 8, top);
      path.lineTo(x0 + 3 * span / 8, bottom);
      path.lineTo(x0 + 5 * span / 8, top);
      path.lineTo(x0 + 7 * span / 8, bottom);
      path.lineTo(x1, mid);
      break;
    case 1:  // up to +A, drop to the axis, down to -A, jump back to the axis
      path.moveTo(x0, mid);
      for (int k = 0; k < 2; ++k) {
        const qreal a = x0 + k * span / 2;
        path.lineTo(a + span / 4, top);
        path.lineTo(a + span / 4, mid);
        path.lineTo(a + span / 2, bottom);
        path.lineTo(a + span / 2, mid);
      }
      break;
    case 2:  // rising ramps
      path.moveTo(x0, bottom);
      for (int k = 1; k <= 3; ++k) {
        path.lineTo(x0 + k * span / 3, top);
        path.lineTo(x0 + k * span / 3, bottom);
      }
      break;
    default:  // falling ramps
      path.moveTo(x0, bottom);
      for (int k = 0; k < 3; ++k) {
        path.lineTo(x0 + k * span / 3, top);
        path.lineTo(x0 + (k + 1) * span / 3, bottom);
      }
      break;
  }
  painter.setPen(QPen(color, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.drawPath(path);
  return pixmap;
}

void SawTypeBox::DrawItems() {
  const qreal ratio = devicePixelRatioF();
  const QColor color = palette().color(QPalette::Text);
  for (int i = 0; i < count(); ++i) setItemIcon(i, QIcon(ShapePixmap(i, iconSize(), ratio, color)));
}

void SawTypeBox::enterEvent(QEnterEvent* event) {
  setToolTip(itemData(currentIndex(), Qt::ToolTipRole).toString());
  QComboBox::enterEvent(event);
}

void SawTypeBox::changeEvent(QEvent* event) {
  QComboBox::changeEvent(event);
  if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) DrawItems();
}

// ---- the page ----

TagEditor::TagEditor(const TConstGroups& constGroups, QWidget* parent)
    : QWidget(parent), m_constGroups(constGroups) {
  setObjectName(QStringLiteral("DeviceSettTab"));
  auto* layout = new QVBoxLayout(this);
  BuildHeader();
  auto* header = new QHBoxLayout;
  auto* headerFields = new QFormLayout;
  headerFields->addRow(tr("Имя устройства"), m_devName);
  headerFields->addRow(tr("Номер"), m_devNumber);
  headerFields->addRow(tr("Описание"), m_devDesc);
  header->addLayout(headerFields, 1);
  header->addWidget(m_deviceButton, 0, Qt::AlignTop);
  layout->addLayout(header);

  auto* frame = new QGroupBox(tr(" Настройки тега "), this);
  auto* frameLayout = new QHBoxLayout(frame);
  auto* left = new QWidget(frame);
  left->setFixedWidth(240);
  auto* leftLayout = new QVBoxLayout(left);
  leftLayout->setContentsMargins(0, 0, 0, 0);
  m_model = new TagListModel(this);
  m_list = new QTableView(left);
  m_list->setObjectName(QStringLiteral("RegSettListView"));
  m_list->setModel(m_model);
  m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_list->setShowGrid(false);
  m_list->setWordWrap(false);
  m_list->verticalHeader()->hide();
  m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 6);
  m_list->horizontalHeader()->setHighlightSections(false);
  m_list->horizontalHeader()->setSectionsClickable(true);
  m_list->horizontalHeader()->setStretchLastSection(true);
  m_list->setColumnWidth(ListColName, 90);
  m_list->setColumnWidth(ListColAddress, 40);
  m_list->setColumnWidth(ListColType, 55);
  m_list->setContextMenuPolicy(Qt::ActionsContextMenu);  // the tag commands join it
  connect(m_list, &QTableView::clicked, this, [this] { ListClicked(); });
  connect(m_list->horizontalHeader(), &QHeaderView::sectionClicked, this,
          &TagEditor::HeaderClicked);
  m_allTags = new QCheckBox(tr("Все теги"), left);
  m_count = new QLabel(tr("Тегов: ") + QStringLiteral("0"), left);
  m_count->setMinimumWidth(m_count->fontMetrics().horizontalAdvance(tr("Тегов: ") + "0000000"));
  leftLayout->addWidget(m_list, 1);
  auto* under = new QHBoxLayout;
  under->addWidget(m_allTags);
  under->addStretch(1);
  under->addWidget(m_count);
  leftLayout->addLayout(under);
  frameLayout->setContentsMargins(6, 6, 6, 6);
  frameLayout->addWidget(left);

  auto* right = new QVBoxLayout;
  right->addWidget(BuildEditor(), 1);
  m_apply = new QPushButton(tr("Принять"), frame);
  connect(m_apply, &QPushButton::clicked, this, [this] { ApplyClick(); });
  auto* applyRow = new QHBoxLayout;
  applyRow->addStretch(1);
  applyRow->addWidget(m_apply);
  right->addLayout(applyRow);
  frameLayout->addLayout(right, 1);
  layout->addWidget(frame, 1);
  ShowTag(nullptr);
}

void TagEditor::BuildHeader() {
  m_devName = new QLineEdit(this);
  m_devNumber = new QLineEdit(this);
  m_devDesc = new QLineEdit(this);
  for (QLineEdit* edit : {m_devName, m_devNumber, m_devDesc}) edit->setReadOnly(true);
  m_devNumber->setMaximumWidth(80);
  m_deviceButton = new QPushButton(tr("Настройки"), this);
  m_deviceButton->setEnabled(false);
  connect(m_deviceButton, &QPushButton::clicked, this, &TagEditor::DeviceButtonClick);
}

QWidget* TagEditor::BuildEditor() {
  auto* editor = new QWidget(this);
  auto* grid = new QGridLayout(editor);
  grid->setContentsMargins(0, 0, 0, 0);
  m_fullName = new QLabel(editor);
  QFont bold = m_fullName->font();
  bold.setBold(true);
  m_fullName->setFont(bold);
  m_name = Field(editor);
  m_desc = Field(editor);
  m_address = Field(editor);
  m_type = new QComboBox(editor);
  m_type->setMaxVisibleItems(9);
  for (const TypeItem& item : TypeItems()) m_type->addItem(QString::fromLatin1(item.Text));
  connect(m_type, &QComboBox::currentIndexChanged, this, [this] { TypeChanged(); });
  m_period = Field(editor, tr("Период с которым обновляются данные в регистре"));
  m_percent = Field(editor, tr("% изменения величины от диапазона"));
  m_consts = new QComboBox(editor);
  m_space = new QComboBox(editor);
  m_format = new QComboBox(editor);
  m_regsCount = Field(editor);
  m_typeLabel = new QLabel(tr("Тип данных"), editor);

  int row = 0;
  grid->addWidget(m_fullName, row++, 0, 1, 4);
  auto add = [&](const QString& label, QWidget* left, const QString& label2, QWidget* right) {
    grid->addWidget(new QLabel(label, editor), row, 0);
    grid->addWidget(left, row, 1);
    if (right) {
      grid->addWidget(new QLabel(label2, editor), row, 2);
      grid->addWidget(right, row, 3);
    }
    ++row;
  };
  grid->addWidget(new QLabel(tr("Имя тега"), editor), row, 0);
  grid->addWidget(m_name, row++, 1, 1, 3);
  grid->addWidget(new QLabel(tr("Описание"), editor), row, 0);
  grid->addWidget(m_desc, row++, 1, 1, 3);
  add(tr("Адрес"), m_address, tr("Период (мс)"), m_period);
  grid->addWidget(m_typeLabel, row, 0);
  grid->addWidget(m_type, row, 1);
  grid->addWidget(new QLabel(tr("Флуктуация %"), editor), row, 2);
  grid->addWidget(m_percent, row++, 3);
  add(tr("Формат данных"), m_format, tr("Кол-во регистров"), m_regsCount);
  // The space names are long: their own row.
  grid->addWidget(new QLabel(tr("Пространство"), editor), row, 0);
  grid->addWidget(m_space, row++, 1, 1, 3);
  grid->addWidget(new QLabel(tr("Константы"), editor), row, 0);
  grid->addWidget(m_consts, row++, 1, 1, 3);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);

  m_behaviourFrame = new QGroupBox(tr(" Поведение тега "), editor);
  auto* frameLayout = new QVBoxLayout(m_behaviourFrame);
  frameLayout->setContentsMargins(0, 2, 0, 0);
  frameLayout->addWidget(BuildPages());
  grid->addWidget(m_behaviourFrame, row++, 0, 1, 4);
  grid->setRowStretch(row, 1);
  return editor;
}

QWidget* TagEditor::BuildPages() {
  m_pages = new QTabWidget(this);
  m_pages->setObjectName(QStringLiteral("RegActPage"));
  // Seven captions beside a 240-pixel list: narrow tabs keep them all in view.
  m_pages->setStyleSheet(QStringLiteral("QTabBar::tab { padding: 3px 3px; }"));
  auto page = [this]() {
    auto* widget = new QWidget(m_pages);
    auto* form = new QFormLayout(widget);
    return std::make_pair(widget, form);
  };
  {  // manual
    auto [w, form] = page();
    m_defText = Field(w);
    m_defText->setText(QStringLiteral("0"));
    m_defBool = new QComboBox(w);
    m_defBool->addItems({QStringLiteral("True"), QStringLiteral("False")});
    auto* both = new QHBoxLayout;
    both->addWidget(m_defText, 1);
    both->addWidget(m_defBool);
    both->addStretch(0);  // the list stays at the left when the field is hidden
    form->addRow(tr("Значение по умолчанию"), both);
    m_pages->addTab(w, tr(BehaviourPageCaption(PageManual)));
  }
  {  // script
    auto* w = new QWidget(m_pages);
    auto* v = new QVBoxLayout(w);
    m_scriptView = new QPlainTextEdit(w);
    m_scriptView->setReadOnly(true);
    m_scriptView->setPlainText(QStringLiteral("begin\nend."));
    m_scriptView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_scriptEdit = new QPushButton(tr("Редактировать..."), w);
    m_scriptEdit->setEnabled(false);  // until the script editor window exists
    v->addWidget(m_scriptView, 1);
    v->addWidget(m_scriptEdit, 0, Qt::AlignRight);
    m_pages->addTab(w, tr(BehaviourPageCaption(PageScript)));
  }
  {  // OPC
    auto [w, form] = page();
    m_opcServer = new QComboBox(w);
    m_opcServer->setEditable(true);
    m_opcServerBrowse = new QPushButton(QStringLiteral("..."), w);
    m_opcItem = Field(w);
    m_opcItemBrowse = new QPushButton(QStringLiteral("..."), w);
    // The OPC browsing dialogs come with the OPC client.
    for (QPushButton* b : {m_opcServerBrowse, m_opcItemBrowse}) {
      b->setEnabled(false);
      b->setFixedWidth(30);
    }
    auto* server = new QHBoxLayout;
    server->addWidget(m_opcServer, 1);
    server->addWidget(m_opcServerBrowse);
    auto* item = new QHBoxLayout;
    item->addWidget(m_opcItem, 1);
    item->addWidget(m_opcItemBrowse);
    m_opcUse = new QComboBox(w);
    for (const char* text : OpcUseItems()) m_opcUse->addItem(tr(text));
    form->addRow(tr("OPC сервер"), server);
    form->addRow(tr("OPC тег"), item);
    form->addRow(tr("Что использовать"), m_opcUse);
    m_pages->addTab(w, tr(BehaviourPageCaption(PageOPC)));
  }
  {  // increment
    auto [w, form] = page();
    m_incDec = Field(w);
    m_incDec->setText(QStringLiteral("1"));
    form->addRow(tr("Инкремент"), m_incDec);
    m_pages->addTab(w, tr(BehaviourPageCaption(PageIncrement)));
  }
  {  // random
    auto [w, form] = page();
    m_min = Field(w, tr("Минимально допустимая величина"));
    m_max = Field(w, tr("Максимально допустимая величина"));
    form->addRow(QStringLiteral("Min"), m_min);
    form->addRow(QStringLiteral("Max"), m_max);
    m_pages->addTab(w, tr(BehaviourPageCaption(PageRandom)));
  }
  {  // sine
    auto [w, form] = page();
    m_sinAmp = Field(w);
    m_sinPeriod = Field(w, tr("Период синусоиды"));
    m_sinOffset = Field(w, tr("Смещение относительно оси X"));
    form->addRow(tr("Амплитуда"), m_sinAmp);
    form->addRow(tr("Период (мс)"), m_sinPeriod);
    form->addRow(tr("Смещение"), m_sinOffset);
    m_pages->addTab(w, tr(BehaviourPageCaption(PageSine)));
  }
  {  // saw
    auto [w, form] = page();
    m_sawAmp = Field(w);
    m_sawPeriod = Field(w, tr("Период синусоиды"));
    m_sawType = new SawTypeBox(w);
    m_sawOffset = Field(w, tr("Смещение относительно оси X"));
    form->addRow(tr("Амплитуда"), m_sawAmp);
    form->addRow(tr("Период (мс)"), m_sawPeriod);
    form->addRow(tr("Тип пилы"), m_sawType);
    form->addRow(tr("Смещение"), m_sawOffset);
    m_pages->addTab(w, tr(BehaviourPageCaption(PageSaw)));
  }
  return m_pages;
}

void TagEditor::ShowDeviceHeader() {
  m_devName->setText(m_device ? Q(m_device->Name()) : QString());
  m_devNumber->setText(m_device ? QString::number(m_device->Number) : QString());
  m_devDesc->setText(m_device ? Q(m_device->Description) : QString());
  m_deviceButton->setEnabled(m_device && EditDevice);
}

void TagEditor::ShowTagList(TDeviceClass* device, TGroupClass* group, TModbusRegister* tag) {
  m_device = device;
  m_group = group;
  ShowDeviceHeader();
  std::vector<TModbusRegister*> rows;
  if (device) {
    rows = TagListRows(*device, group, m_allTags->isChecked());
    SortTagRows(rows, m_sortColumn, m_sortDescending);
  }
  m_model->SetRows(std::move(rows));
  m_count->setText(tr("Тегов: ") + QString::number(m_model->rowCount()));
  ShowTag(tag);
  int row = m_model->RowOf(tag);
  if (row < 0 && m_model->rowCount() > 0) row = 0;
  if (row >= 0) {
    const QModelIndex index = m_model->index(row, 0);
    m_list->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_list->scrollTo(index);
  }
}

void TagEditor::Clear() {
  m_device = nullptr;
  m_group = nullptr;
  m_model->Clear();
  m_count->setText(tr("Тегов: ") + QStringLiteral("0"));
  ShowDeviceHeader();
  ShowTag(nullptr);
}

void TagEditor::SetEditorEnabled(bool enabled) {
  for (QWidget* w :
       std::initializer_list<QWidget*>{m_name, m_desc, m_address, m_type, m_typeLabel, m_period,
                                       m_percent, m_space, m_format, m_consts, m_apply})
    w->setEnabled(enabled);
  m_pages->setVisible(enabled);
  m_defText->setVisible(enabled);
  m_defBool->setVisible(enabled);
}

void TagEditor::ShowTag(TModbusRegister* tag) {
  m_tag = tag;
  if (!tag) {
    for (QLineEdit* e : {m_name, m_desc, m_address}) e->clear();
    m_fullName->clear();
    SetEditorEnabled(false);
    m_regsCount->setEnabled(false);
    return;
  }
  SetEditorEnabled(true);
  TagEditorInput in = ReadTagFields(*tag);
  if (tag->Type() == VarType::Bool) in.DefText = S(m_defText->text());  // the field keeps its text
  SetFields(in);
  TypeChanged();
  m_percent->setEnabled(true);
}

void TagEditor::SetFields(const TagEditorInput& in) {
  m_fullName->setText(Q(in.FullName));
  m_name->setText(Q(in.Name));
  m_desc->setText(Q(in.Description));
  m_address->setText(Q(in.Address));
  {
    const QSignalBlocker block(m_type);
    m_type->setCurrentIndex(in.TypeIndex);
  }
  m_period->setText(Q(in.Period));
  m_percent->setText(Q(in.Percent));
  m_defText->setText(Q(in.DefText));
  m_defBool->setCurrentIndex(in.DefBool ? 0 : 1);
  const uint16_t typeCode = TypeItems()[size_t(in.TypeIndex)].Code;
  FillBox(m_format, FormatItems(typeCode), in.FormatIndex);
  m_regsCount->setText(Q(in.RegsCount));
  m_opcServer->setEditText(Q(in.OpcServer));
  m_opcItem->setText(Q(in.OpcItem));
  m_opcUse->setCurrentIndex(in.OpcUse);
  m_pages->setCurrentIndex(in.Page);
  if (m_tag) {
    QStringList lines;
    for (const std::string& line : static_cast<const TModbusRegister*>(m_tag)->Script().ExecuteText)
      lines << Q(line);
    m_scriptView->setPlainText(lines.join(QLatin1Char('\n')));
  }
  FillConstGroups(in.ConstGroup);
  m_incDec->setText(Q(in.IncDec));
  m_min->setText(Q(in.Min));
  m_max->setText(Q(in.Max));
  m_sinAmp->setText(Q(in.SinAmplitude));
  m_sinPeriod->setText(Q(in.SinPeriod));
  m_sinOffset->setText(Q(in.SinOffset));
  m_sawAmp->setText(Q(in.SawAmplitude));
  m_sawPeriod->setText(Q(in.SawPeriod));
  m_sawOffset->setText(Q(in.SawOffset));
  m_sawType->setCurrentIndex(in.SawType);
  FillBox(m_space, SpaceItems(typeCode == uint16_t(VarType::Bool)), in.SpaceIndex);
}

TagEditorInput TagEditor::Fields() const {
  TagEditorInput in;
  in.FullName = S(m_fullName->text());
  in.Name = S(m_name->text());
  in.Description = S(m_desc->text());
  in.Address = S(m_address->text());
  in.TypeIndex = std::max(0, m_type->currentIndex());
  in.Period = S(m_period->text());
  in.Percent = S(m_percent->text());
  in.ConstGroup = m_consts->currentIndex() > 0 ? S(m_consts->currentText()) : std::string();
  in.SpaceIndex = m_space->currentIndex();
  in.FormatIndex = m_format->currentIndex();
  in.RegsCount = S(m_regsCount->text());
  in.Page = m_pages->currentIndex();
  in.DefText = S(m_defText->text());
  in.DefBool = m_defBool->currentIndex() == 0;
  in.IncDec = S(m_incDec->text());
  in.Min = S(m_min->text());
  in.Max = S(m_max->text());
  in.OpcServer = S(m_opcServer->currentText());
  in.OpcItem = S(m_opcItem->text());
  in.OpcUse = m_opcUse->currentIndex();
  in.SinAmplitude = S(m_sinAmp->text());
  in.SinPeriod = S(m_sinPeriod->text());
  in.SinOffset = S(m_sinOffset->text());
  in.SawAmplitude = S(m_sawAmp->text());
  in.SawPeriod = S(m_sawPeriod->text());
  in.SawOffset = S(m_sawOffset->text());
  in.SawType = m_sawType->currentIndex();
  return in;
}

void TagEditor::FillConstGroups(const std::string& selected) {
  const QSignalBlocker block(m_consts);
  m_consts->clear();
  m_consts->addItem(QString());
  for (int i = 0; i < m_constGroups.Count(); ++i)
    m_consts->addItem(Q(m_constGroups.Items(i)->Name));
  m_consts->setCurrentIndex(selected.empty() ? 0 : m_constGroups.IndexOfName(selected) + 1);
}

void TagEditor::RefreshConstGroups() {
  const std::string chosen =
      m_consts->currentIndex() > 0 ? S(m_consts->currentText()) : std::string();
  FillConstGroups(chosen);
}

void TagEditor::TypeChanged() {
  if (!m_tag) return;
  const int index = std::max(0, m_type->currentIndex());
  const uint16_t typeCode = TypeItems()[size_t(index)].Code;
  FillBox(m_format, FormatItems(typeCode), FormatIndexOf(typeCode, m_tag->DataFormat));
  const auto shown = PagesShown(typeCode);
  for (int page = 0; page < kBehaviourPages; ++page)
    m_pages->setTabVisible(page, shown[size_t(page)]);
  const bool isBool = typeCode == uint16_t(VarType::Bool);
  m_defBool->setVisible(isBool);
  m_defText->setVisible(!isBool);
  const RegsCountField regs = RegsCountFor(typeCode, *m_tag);
  m_regsCount->setEnabled(regs.Enabled);
  m_regsCount->setText(Q(regs.Text));
  FillBox(m_space, SpaceItems(isBool), SpaceIndexOf(isBool, m_tag->mSpace));
}

std::vector<TModbusRegister*> TagEditor::SelectedTags() const {
  // In list order, whatever order the rows were picked in.
  QModelIndexList rows = m_list->selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  std::vector<TModbusRegister*> tags;
  for (const QModelIndex& index : rows)
    if (TModbusRegister* tag = m_model->Tag(index.row())) tags.push_back(tag);
  return tags;
}

void TagEditor::ListClicked() {
  const std::vector<TModbusRegister*> selected = SelectedTags();
  ShowTag(selected.size() == 1 ? selected.front() : nullptr);
  if (SelectionChanged) SelectionChanged(selected.size() == 1);
}

void TagEditor::HeaderClicked(int column) {
  m_sortColumn = column;
  m_sortDescending = !m_sortDescending;
  m_model->Sort(m_sortColumn, m_sortDescending);
}

void TagEditor::ShowRangeError(const QString& text) {
  auto* box =
      new QMessageBox(QMessageBox::Critical, window()->windowTitle(), text, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

ApplyOutcome TagEditor::ApplyClick() {
  if (!m_tag) return {};
  TModbusRegister* tag = m_tag;
  const ApplyOutcome out = ApplyTagFields(*tag, Fields());
  if (out.NameTaken) {
    auto* box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Velkor"),
                                tr("Тег с таким именем уже существует"), QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return out;
  }
  if (!out.RangeError.empty()) ShowRangeError(tr("Проверьте диапазон вводимых данных"));
  ShowTagList(m_device, m_group, tag);
  return out;
}

void TagEditor::DeviceButtonClick() {
  if (!m_device || !EditDevice) return;
  EditDevice(m_device);
  ShowDeviceHeader();
  if (DeviceChanged) DeviceChanged(m_device);
}

}  // namespace velkor
