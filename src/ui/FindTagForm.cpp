#include "ui/FindTagForm.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "model/ModbusRegister.h"
#include "model/TagRegistry.h"
#include "ui/RegListForm.h"

namespace velkor {

namespace {
std::string LatinLower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  return text;
}
}  // namespace

std::vector<TModbusRegister*> FindTags(const SearchCriteria& criteria) {
  const std::string text = criteria.CaseSensitive ? criteria.Text : LatinLower(criteria.Text);
  const QString qtext = QString::fromStdString(criteria.Text);
  std::vector<TModbusRegister*> found;
  Registry().ForEach([&](TModbusRegister* tag) {
    bool match;
    if (criteria.ByAddress) {
      match = LatinLower(tag->AddressText()) == text;
    } else if (criteria.Exact) {
      match = (criteria.CaseSensitive ? tag->Name() : LatinLower(tag->Name())) == text;
    } else if (criteria.CaseSensitive) {
      match = tag->Name().find(text) != std::string::npos;
    } else {
      match = QString::fromStdString(tag->Name()).contains(qtext, Qt::CaseInsensitive);
    }
    if (match) found.push_back(tag);
  });
  return found;
}

QString FoundTagText(const TModbusRegister& tag) {
  return QString::fromStdString(tag.FullName() + " (" + tag.AddressText() + ")");
}

TFindTegForm::TFindTegForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Поиск тега"));
  m_text = new QLineEdit(this);
  auto* frame = new QGroupBox(tr(" Критерии поиска "), this);
  m_byName = new QRadioButton(tr("Имя"), frame);
  m_byAddress = new QRadioButton(tr("Адрес"), frame);
  m_exact = new QCheckBox(tr("точное совпадение"), frame);
  m_case = new QCheckBox(tr("с учетом регистра"), frame);
  m_byName->setChecked(true);
  connect(m_byName, &QRadioButton::toggled, this, [this](bool byName) {
    m_exact->setEnabled(byName);
    m_case->setEnabled(byName);
  });
  auto* frameLayout = new QVBoxLayout(frame);
  frameLayout->addWidget(m_byName);
  auto* options = new QVBoxLayout;
  options->setContentsMargins(20, 0, 0, 0);
  options->addWidget(m_exact);
  options->addWidget(m_case);
  frameLayout->addLayout(options);
  frameLayout->addWidget(m_byAddress);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  buttons->addButton(tr("Отмена"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_text);
  layout->addWidget(frame);
  layout->addWidget(buttons);
  // 337 × 167 at least; larger where the fonts need it.
  setFixedSize(sizeHint().expandedTo(QSize(337, 167)));
}

SearchCriteria TFindTegForm::Criteria() const {
  // The check boxes count even while disabled.
  return {m_byAddress->isChecked(), m_exact->isChecked(), m_case->isChecked(),
          m_text->text().toStdString()};
}

void TFindTegForm::Execute(QWidget* parent) {
  TFindTegForm form(parent);
  if (form.exec() != QDialog::Accepted) return;
  QStringList rows;
  for (const TModbusRegister* tag : FindTags(form.Criteria())) rows << FoundTagText(*tag);
  TRegListForm::Execute(rows, parent);
}

}  // namespace velkor
