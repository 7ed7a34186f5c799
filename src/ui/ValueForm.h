#pragma once
// The value entry dialog "Ввод данных" for a live manual or OPC tag. Which control shows,
// what it starts with and how the entered text becomes the tag's value are plain functions
// (PrepareValueEntry, ApplyValueEntry) that tests drive without a window; the dialog only
// shows their result. The tag is read under its own lock and written through
// SetValueLocked (device lock, then tag lock), so the update thread never sees half of it.

#include <QDialog>
#include <QString>
#include <QStringList>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QStackedWidget;

namespace velkor {

class TConstGroup;
class TConstGroups;
class TModbusRegister;

enum class ValueInput { Text, Bool, Constants };

struct ValueEntry {
  ValueInput Input = ValueInput::Text;
  QString Caption;                     // the tag's Caption
  QString Text;                        // Text: ValueText; Constants: the constant text
  bool BoolValue = false;              // Bool: TRUE selected
  QStringList ConstNames;              // Constants: the group's names in order
  const TConstGroup* Group = nullptr;  // the tag's constant group, when it exists
};

// A Bool tag gets TRUE/FALSE; a tag whose constant group exists gets the group's names;
// any other tag the text field with its ValueText.
ValueEntry PrepareValueEntry(TModbusRegister& tag, const TConstGroups& groups);

// Sets the tag's value from the entered text (for a constant group: a constant's name
// becomes its value, any other text is taken as typed) and writes it into the device's
// tables. False, with the tag unchanged, when the text does not convert to the tag's type.
bool ApplyValueEntry(TModbusRegister& tag, const TConstGroup* group, const std::string& text);

class TValueForm : public QDialog {
  Q_OBJECT
 public:
  TValueForm(TModbusRegister& tag, const TConstGroups& groups, QWidget* parent = nullptr);

  // Shows the dialog modally for the tag; on "OK" applies the entry. True when the tag took
  // a new value.
  static bool Execute(TModbusRegister& tag, const TConstGroups& groups, QWidget* parent);

  // The OK handler without the modal loop (tests): applies the visible control's text.
  bool OkClick();

  ValueInput Input() const { return m_entry.Input; }
  QLabel* CaptionLabel() const { return m_caption; }
  QLineEdit* ValueEdit() const { return m_edit; }
  QComboBox* BoolBox() const { return m_boolBox; }
  QComboBox* ConstBox() const { return m_constBox; }

 private:
  TModbusRegister& m_tag;
  ValueEntry m_entry;
  QLabel* m_caption;
  QStackedWidget* m_inputs;
  QLineEdit* m_edit;
  QComboBox* m_boolBox;
  QComboBox* m_constBox;
};

}  // namespace velkor
