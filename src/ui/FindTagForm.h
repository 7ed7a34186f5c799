#pragma once
// "Поиск тега": finds tags of the registry by name or by address and lists them in
// TRegListForm. The search itself (FindTags) is a plain function over the registry.
//
// Letter case: the exact name match folds Latin letters only, while "contains" ignores
// case as the locale does (Cyrillic too), so a Cyrillic name that differs only in case is
// found by "contains" but not by an exact search without case.

#include <QDialog>
#include <QStringList>
#include <string>
#include <vector>

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace velkor {

class TModbusRegister;

struct SearchCriteria {
  bool ByAddress = false;
  bool Exact = false;
  bool CaseSensitive = false;
  std::string Text;
};

// The matching tags in registry order.
std::vector<TModbusRegister*> FindTags(const SearchCriteria& criteria);
// The "Тег" text of a hit: full name and address.
QString FoundTagText(const TModbusRegister& tag);

class TFindTegForm : public QDialog {
  Q_OBJECT
 public:
  explicit TFindTegForm(QWidget* parent = nullptr);
  // The dialog, then the result list (also when empty); nothing on anything but "OK".
  static void Execute(QWidget* parent);

  SearchCriteria Criteria() const;
  QLineEdit* TextEdit() const { return m_text; }
  QRadioButton* NameButton() const { return m_byName; }
  QRadioButton* AddressButton() const { return m_byAddress; }
  QCheckBox* ExactBox() const { return m_exact; }
  QCheckBox* CaseBox() const { return m_case; }

 private:
  QLineEdit* m_text;
  QRadioButton* m_byName;
  QRadioButton* m_byAddress;
  QCheckBox* m_exact;
  QCheckBox* m_case;
};

}  // namespace velkor
