#include "ui/ProtocolModel.h"

namespace velkor {

ProtocolModel::ProtocolModel(size_t capacity, QObject* parent)
    : QAbstractTableModel(parent), m_capacity(capacity) {}

void ProtocolModel::Append(std::vector<Entry> entries) {
  if (entries.empty()) return;
  // Only the newest entries of a batch larger than the list can stay.
  if (entries.size() > m_capacity)
    entries.erase(entries.begin(), entries.end() - ptrdiff_t(m_capacity));
  const size_t overflow =
      m_rows.size() + entries.size() > m_capacity ? m_rows.size() + entries.size() - m_capacity : 0;
  if (overflow > 0) {
    beginRemoveRows({}, 0, int(overflow) - 1);
    m_rows.erase(m_rows.begin(), m_rows.begin() + ptrdiff_t(overflow));
    endRemoveRows();
  }
  const int first = int(m_rows.size());
  beginInsertRows({}, first, first + int(entries.size()) - 1);
  for (Entry& entry : entries) m_rows.push_back(std::move(entry));
  endInsertRows();
}

void ProtocolModel::Clear() {
  if (m_rows.empty()) return;
  beginRemoveRows({}, 0, int(m_rows.size()) - 1);
  m_rows.clear();
  endRemoveRows();
}

int ProtocolModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(m_rows.size());
}

int ProtocolModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant ProtocolModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || size_t(index.row()) >= m_rows.size())
    return {};
  const Entry& entry = m_rows[size_t(index.row())];
  return index.column() == 0 ? entry.first : entry.second;
}

QVariant ProtocolModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return section == 0 ? tr("Время") : tr("Сообщение");
}

}  // namespace velkor
