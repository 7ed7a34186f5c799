#pragma once
// EditPrompts answered from a script: dialogs in order, messages recorded.

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ui/TreeEditing.h"

namespace velkor {

// Answers in order; an unexpected question is answered "Отмена".
struct ScriptedPrompts : EditPrompts {
  std::deque<std::function<bool(ServerFields&)>> servers;
  std::deque<std::function<bool(DeviceFields&)>> devices;
  std::deque<std::string> texts;  // "\x01": cancel
  std::string openPath, savePath;
  bool yes = false;
  std::vector<ServerFields> proposedServers;
  std::vector<DeviceFields> proposedDevices;
  std::vector<std::string> captions, errors, infos, questions;
  std::vector<bool> runningForms;
  std::vector<std::vector<std::string>> lists;

  bool AskServer(ServerFields& f) override {
    proposedServers.push_back(f);
    if (servers.empty()) return false;
    auto answer = servers.front();
    servers.pop_front();
    return answer(f);
  }
  bool AskDevice(DeviceFields& f, const std::string& caption, bool running) override {
    proposedDevices.push_back(f);
    captions.push_back(caption);
    runningForms.push_back(running);
    if (devices.empty()) return false;
    auto answer = devices.front();
    devices.pop_front();
    return answer(f);
  }
  bool AskText(const std::string&, std::string& text) override {
    if (texts.empty() || texts.front() == "\x01") return false;
    text = texts.front();
    texts.pop_front();
    return true;
  }
  std::string AskOpenTemplate() override { return openPath; }
  std::string AskSaveTemplate() override { return savePath; }
  void Error(const std::string& t) override { errors.push_back(t); }
  void Information(const std::string& t) override { infos.push_back(t); }
  bool AskYesNo(const std::string& t) override {
    questions.push_back(t);
    return yes;
  }
  void ShowTagList(const std::vector<std::string>& names) override { lists.push_back(names); }
};

std::function<bool(ServerFields&)> ServerAnswer(std::function<void(ServerFields&)> edit) {
  return [edit](ServerFields& f) {
    edit(f);
    return true;
  };
}
std::function<bool(DeviceFields&)> DeviceAnswer(std::function<void(DeviceFields&)> edit) {
  return [edit](DeviceFields& f) {
    edit(f);
    return true;
  };
}

}  // namespace velkor
