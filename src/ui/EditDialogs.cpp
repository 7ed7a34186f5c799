#include "ui/EditDialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

#include "ui/DevSetForm.h"
#include "ui/RegListForm.h"
#include "ui/ServerSettingsForm.h"

namespace velkor {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
QString Caption(QWidget* owner) {
  return owner && !owner->windowTitle().isEmpty() ? owner->windowTitle() : QStringLiteral("Velkor");
}

std::string AskTemplate(QWidget* owner, QFileDialog::AcceptMode mode) {
  QFileDialog dialog(owner);
  dialog.setAcceptMode(mode);
  dialog.setNameFilter(QStringLiteral("*.tmpl"));
  dialog.setDefaultSuffix(QStringLiteral("tmpl"));
  if (mode == QFileDialog::AcceptOpen) dialog.setFileMode(QFileDialog::ExistingFile);
  // A template is overwritten without a question.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first().toStdString();
}

}  // namespace

bool QtEditPrompts::AskServer(ServerFields& fields) {
  TServSett dialog(m_owner);
  dialog.SetFields(fields);
  if (dialog.exec() != QDialog::Accepted) return false;
  fields = dialog.Fields();
  return true;
}

bool QtEditPrompts::AskDevice(DeviceFields& fields, const std::string& caption, bool running) {
  TDevSettForm dialog(m_owner);
  dialog.setWindowTitle(Q(caption));
  dialog.SetFields(fields, running);
  if (dialog.exec() != QDialog::Accepted) return false;
  fields = dialog.Fields();
  return true;
}

bool QtEditPrompts::AskText(const std::string& prompt, std::string& text) {
  bool ok = false;
  const QString answer =
      QInputDialog::getText(m_owner, Caption(m_owner), Q(prompt), QLineEdit::Normal, Q(text), &ok);
  if (ok) text = answer.toStdString();
  return ok;
}

std::string QtEditPrompts::AskOpenTemplate() {
  return AskTemplate(m_owner, QFileDialog::AcceptOpen);
}
std::string QtEditPrompts::AskSaveTemplate() {
  return AskTemplate(m_owner, QFileDialog::AcceptSave);
}

void QtEditPrompts::Error(const std::string& text) {
  QMessageBox::critical(m_owner, QStringLiteral("Velkor"), Q(text));
}

void QtEditPrompts::Information(const std::string& text) {
  QMessageBox::information(m_owner, Caption(m_owner), Q(text));
}

bool QtEditPrompts::AskYesNo(const std::string& text) {
  return QMessageBox::warning(m_owner, Caption(m_owner), Q(text),
                              QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void QtEditPrompts::ShowTagList(const std::vector<std::string>& fullNames) {
  QStringList rows;
  for (const std::string& name : fullNames) rows << QString::fromStdString(name);
  TRegListForm::Execute(rows, m_owner);
}

}  // namespace velkor
