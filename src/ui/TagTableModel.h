#pragma once
// The tags of a device or group as a table ("Состояние", and the read-only list of the
// "Настройки" page). Rows are built when the page is shown, never on the timer. The
// value column keeps the value last shown per row; a refresh reads only the rows the
// view shows, each under its own tag lock for a moment (a try-lock: a tag busy in the
// update pass or a script is simply read at the next tick, so the window never waits on a
// worker), and emits dataChanged for the rows whose value changed.
//
// The other columns do not change while the project runs (structure is edited only while
// stopped), so their texts are taken once, with the rows.

#include <QAbstractTableModel>
#include <QString>
#include <vector>

#include "model/Variant.h"

namespace velkor {

class TConstGroups;
class TModbusRegister;

class TagTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { ColName, ColAddress, ColType, ColValue, ColBehaviour, ColPercent, ColSpace };
  static constexpr int kColumns = 7;

  explicit TagTableModel(QObject* parent = nullptr);

  // Replaces the rows (one model reset) and reads every value once.
  void SetTags(std::vector<TModbusRegister*> tags, const TConstGroups* constGroups);
  void Clear();
  TModbusRegister* Tag(int row) const;
  const std::vector<TModbusRegister*>& Tags() const { return m_tags; }

  // Reads rows first..last (clamped); returns the number of rows whose value changed.
  int Refresh(int first, int last);
  // Forces the row's value to be rewritten now (after a display-mode toggle or an entry).
  void RefreshRow(int row);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  struct Row {
    QString Texts[kColumns];
    Variant Shown;       // the value last shown; Empty before the first read
    bool Known = false;  // Shown holds a value that was read
  };
  // True when the row's shown value changed.
  bool ReadRow(size_t row);

  std::vector<TModbusRegister*> m_tags;
  std::vector<Row> m_rows;
  const TConstGroups* m_constGroups = nullptr;
};

}  // namespace velkor
