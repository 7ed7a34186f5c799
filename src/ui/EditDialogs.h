#pragma once
// The editing commands' questions as modal dialogs over the main window.

#include "ui/TreeEditing.h"

class QWidget;

namespace velkor {

class QtEditPrompts : public EditPrompts {
 public:
  explicit QtEditPrompts(QWidget* owner) : m_owner(owner) {}

  bool AskServer(ServerFields& fields) override;
  bool AskDevice(DeviceFields& fields, const std::string& caption, bool running) override;
  bool AskText(const std::string& prompt, std::string& text) override;
  std::string AskOpenTemplate() override;
  std::string AskSaveTemplate() override;
  void Error(const std::string& text) override;
  void Information(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  void ShowTagList(const std::vector<std::string>& fullNames) override;

 private:
  QWidget* m_owner;
};

}  // namespace velkor
