#pragma once
// A list of time-stamped messages ("Время", "Сообщение"): the tag errors of "Состояние"
// and a server's protocol on "Устройства". New entries arrive in batches and are inserted
// in one step; beyond the capacity the oldest rows are removed, so a busy source costs a
// bounded list and never a rebuild.

#include <QAbstractTableModel>
#include <QString>
#include <deque>
#include <utility>
#include <vector>

namespace velkor {

class ProtocolModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  static constexpr size_t kDefaultCapacity = 1000;
  explicit ProtocolModel(size_t capacity = kDefaultCapacity, QObject* parent = nullptr);

  using Entry = std::pair<QString, QString>;  // time text, message
  void Append(std::vector<Entry> entries);
  void Clear();
  const Entry& At(int row) const { return m_rows[size_t(row)]; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  size_t m_capacity;
  std::deque<Entry> m_rows;
};

}  // namespace velkor
