#pragma once
// The "Настройки" page: the device's header strip, the tag list and the editor of one tag.
// The editor never copies a tag: ShowTag reads the fields from it, "Принять" writes them
// back through ApplyTagFields (TagEditorLogic.h) and rebuilds the list. The list is a
// model over tag pointers whose texts are made when a cell is painted, so a list of ten
// thousand tags costs one pointer per row.

#include <QAbstractTableModel>
#include <QComboBox>
#include <QWidget>
#include <functional>
#include <vector>

#include "ui/TagEditorLogic.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class QTabWidget;

namespace velkor {

class TConstGroups;

// The rows of the tag list, in the order the list shows them.
class TagListModel : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;
  void SetRows(std::vector<TModbusRegister*> rows);
  void Clear() { SetRows({}); }
  const std::vector<TModbusRegister*>& Rows() const { return m_rows; }
  TModbusRegister* Tag(int row) const;
  int RowOf(const TModbusRegister* tag) const;
  // Sorts in place and tells the view the layout changed (selection follows the rows).
  void Sort(int column, bool descending);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::vector<TModbusRegister*> m_rows;
};

// "Тип пилы": the four saw shapes as pictures; the hint is the selected item's text.
class SawTypeBox : public QComboBox {
 public:
  explicit SawTypeBox(QWidget* parent = nullptr);
  // The picture of a saw type, drawn for the screen's pixel ratio.
  static QPixmap ShapePixmap(int sawType, const QSize& size, qreal pixelRatio, const QColor& color);

 protected:
  void enterEvent(QEnterEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void DrawItems();
};

class TagEditor : public QWidget {
  Q_OBJECT
 public:
  explicit TagEditor(const TConstGroups& constGroups, QWidget* parent = nullptr);

  // Opens the device dialog for the header's device; true when it was accepted. Until the
  // device dialog exists the button stays disabled (the main window sets this hook).
  std::function<bool(TDeviceClass*)> EditDevice;
  // Called after the device dialog, so the tree node takes the device's new text.
  std::function<void(TDeviceClass*)> DeviceChanged;
  // Called when the click rule changes which tag commands may run (exactly one selected).
  std::function<void(bool oneSelected)> SelectionChanged;

  void ShowTagList(TDeviceClass* device, TGroupClass* group, TModbusRegister* tag);
  void ShowTag(TModbusRegister* tag);
  // Refills "Константы" after the groups changed, keeping the chosen name.
  void RefreshConstGroups();
  void Clear();
  // "Принять" (also the button's handler); the message boxes open window-modally.
  ApplyOutcome ApplyClick();
  // The mouse-click rule of the list (the view's click calls it; tests may too).
  void ListClicked();
  // A header click: that column, the shared direction flag inverted.
  void HeaderClicked(int column);

  TModbusRegister* CurrentTag() const { return m_tag; }
  TDeviceClass* Device() const { return m_device; }
  TGroupClass* Group() const { return m_group; }
  int SortColumn() const { return m_sortColumn; }
  bool SortDescending() const { return m_sortDescending; }
  std::vector<TModbusRegister*> SelectedTags() const;

  // Controls, for the window and the tests.
  TagEditorInput Fields() const;
  void SetFields(const TagEditorInput& in);
  TagListModel* ListModel() const { return m_model; }
  QTableView* TagListView() const { return m_list; }
  QCheckBox* AllTagsBox() const { return m_allTags; }
  QLabel* CountLabel() const { return m_count; }
  QLabel* FullNameLabel() const { return m_fullName; }
  QLineEdit* NameEdit() const { return m_name; }
  QLineEdit* AddressEdit() const { return m_address; }
  QLineEdit* PeriodEdit() const { return m_period; }
  QLineEdit* PercentEdit() const { return m_percent; }
  QLineEdit* RegsCountEdit() const { return m_regsCount; }
  QLineEdit* DefaultEdit() const { return m_defText; }
  QComboBox* DefaultBoolBox() const { return m_defBool; }
  QComboBox* TypeBox() const { return m_type; }
  QComboBox* FormatBox() const { return m_format; }
  QComboBox* SpaceBox() const { return m_space; }
  QComboBox* ConstBox() const { return m_consts; }
  SawTypeBox* SawBox() const { return m_sawType; }
  QTabWidget* BehaviourPages() const { return m_pages; }
  QPushButton* ApplyButton() const { return m_apply; }
  QPushButton* DeviceButton() const { return m_deviceButton; }
  QPushButton* ScriptEditButton() const { return m_scriptEdit; }
  QLineEdit* DeviceNameEdit() const { return m_devName; }

 private:
  void BuildHeader();
  QWidget* BuildEditor();
  QWidget* BuildPages();
  void TypeChanged();
  void FillConstGroups(const std::string& selected);
  void ShowDeviceHeader();
  void DeviceButtonClick();
  void SetEditorEnabled(bool enabled);
  void ShowRangeError(const QString& text);

  const TConstGroups& m_constGroups;
  TDeviceClass* m_device = nullptr;
  TGroupClass* m_group = nullptr;
  TModbusRegister* m_tag = nullptr;
  int m_sortColumn = 0;
  bool m_sortDescending = false;

  QLineEdit* m_devName = nullptr;
  QLineEdit* m_devNumber = nullptr;
  QLineEdit* m_devDesc = nullptr;
  QPushButton* m_deviceButton = nullptr;
  TagListModel* m_model = nullptr;
  QTableView* m_list = nullptr;
  QCheckBox* m_allTags = nullptr;
  QLabel* m_count = nullptr;
  QLabel* m_fullName = nullptr;
  QLineEdit* m_name = nullptr;
  QLineEdit* m_desc = nullptr;
  QLineEdit* m_address = nullptr;
  QLabel* m_typeLabel = nullptr;
  QComboBox* m_type = nullptr;
  QLineEdit* m_period = nullptr;
  QLineEdit* m_percent = nullptr;
  QComboBox* m_consts = nullptr;
  QComboBox* m_space = nullptr;
  QComboBox* m_format = nullptr;
  QLineEdit* m_regsCount = nullptr;
  QGroupBox* m_behaviourFrame = nullptr;
  QTabWidget* m_pages = nullptr;
  QLineEdit* m_defText = nullptr;
  QComboBox* m_defBool = nullptr;
  QPlainTextEdit* m_scriptView = nullptr;
  QPushButton* m_scriptEdit = nullptr;
  QComboBox* m_opcServer = nullptr;
  QPushButton* m_opcServerBrowse = nullptr;
  QLineEdit* m_opcItem = nullptr;
  QPushButton* m_opcItemBrowse = nullptr;
  QComboBox* m_opcUse = nullptr;
  QLineEdit* m_incDec = nullptr;
  QLineEdit* m_min = nullptr;
  QLineEdit* m_max = nullptr;
  QLineEdit* m_sinAmp = nullptr;
  QLineEdit* m_sinPeriod = nullptr;
  QLineEdit* m_sinOffset = nullptr;
  QLineEdit* m_sawAmp = nullptr;
  QLineEdit* m_sawPeriod = nullptr;
  QLineEdit* m_sawOffset = nullptr;
  SawTypeBox* m_sawType = nullptr;
  QPushButton* m_apply = nullptr;
};

}  // namespace velkor
