#include "ui/TagTableModel.h"

#include "model/DeviceClass.h"
#include "model/Locks.h"
#include "model/ModbusRegister.h"
#include "project/ConstGroups.h"
#include "simulation/Behaviours.h"
#include "ui/MainLogic.h"

namespace velkor {

namespace {
QString Q(const std::string& text) { return QString::fromStdString(text); }
}  // namespace

TagTableModel::TagTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void TagTableModel::SetTags(std::vector<TModbusRegister*> tags, const TConstGroups* constGroups) {
  beginResetModel();
  m_tags = std::move(tags);
  m_constGroups = constGroups;
  m_rows.assign(m_tags.size(), Row{});
  for (size_t i = 0; i < m_tags.size(); ++i) {
    TModbusRegister& tag = *m_tags[i];
    Row& row = m_rows[i];
    {
      // The behaviour text reads parameters a behaviour step may convert.
      LockGuard lock(tag.Lock());
      row.Texts[ColBehaviour] = Q(BehaviourText(tag));
    }
    row.Texts[ColName] = Q(tag.Name());
    row.Texts[ColAddress] = Q(tag.AddressText());
    row.Texts[ColType] = Q(tag.TypeName());
    row.Texts[ColPercent] = Q(PercentText(tag.Percent));
    row.Texts[ColSpace] = Q(SpaceText(tag.mSpace));
    ReadRow(i);
  }
  endResetModel();
}

void TagTableModel::Clear() { SetTags({}, nullptr); }

TModbusRegister* TagTableModel::Tag(int row) const {
  return row >= 0 && size_t(row) < m_tags.size() ? m_tags[size_t(row)] : nullptr;
}

bool TagTableModel::ReadRow(size_t i) {
  TModbusRegister& tag = *m_tags[i];
  Row& row = m_rows[i];
  static const TConstGroups kNoConstants;
  const TConstGroups& constants = m_constGroups ? *m_constGroups : kNoConstants;
  if (tag.DisplayMode == kDisplayHex && tag.ConstGroupName.empty() && tag.Device()) {
    // The hex text reads the registers: device lock first (the lock order), both tried.
    TryLockGuard device(tag.Device()->DeviceLock());
    if (!device.Owns()) return false;
    TryLockGuard lock(tag.Lock());
    if (!lock.Owns() || (row.Known && tag.GetValue().SameAs(row.Shown))) return false;
    row.Shown = tag.GetValue();
    row.Texts[ColValue] = Q(ShownValue(tag, constants));
  } else {
    TryLockGuard lock(tag.Lock());
    if (!lock.Owns() || (row.Known && tag.GetValue().SameAs(row.Shown))) return false;
    row.Shown = tag.GetValue();
    row.Texts[ColValue] = Q(ShownValue(tag, constants));
  }
  row.Known = true;
  return true;
}

int TagTableModel::Refresh(int first, int last) {
  if (m_rows.empty()) return 0;
  first = std::max(first, 0);
  last = std::min(last, int(m_rows.size()) - 1);
  int changed = 0;
  int runStart = -1;
  // One dataChanged per run of adjacent changed rows, value column only.
  auto flush = [&](int end) {
    if (runStart < 0) return;
    emit dataChanged(index(runStart, ColValue), index(end, ColValue), {Qt::DisplayRole});
    runStart = -1;
  };
  for (int i = first; i <= last; ++i) {
    if (ReadRow(size_t(i))) {
      ++changed;
      if (runStart < 0) runStart = i;
    } else {
      flush(i - 1);
    }
  }
  flush(last);
  return changed;
}

void TagTableModel::RefreshRow(int row) {
  if (row < 0 || size_t(row) >= m_rows.size()) return;
  m_rows[size_t(row)].Known = false;
  if (ReadRow(size_t(row))) emit dataChanged(index(row, ColValue), index(row, ColValue));
}

int TagTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(m_rows.size());
}

int TagTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant TagTableModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || size_t(index.row()) >= m_rows.size())
    return {};
  return m_rows[size_t(index.row())].Texts[index.column()];
}

QVariant TagTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const kHeaders[kColumns] = {
      "Тэг", "Адрес", "Тип", "Значение", "Поведение", "Флуктуация", "Пространство"};
  return section >= 0 && section < kColumns ? tr(kHeaders[section]) : QVariant();
}

}  // namespace velkor
