#include "project/ConstGroups.h"

#include <algorithm>

namespace velkor {

TConstClass* TConstGroup::Add(std::unique_ptr<TConstClass> constant) {
  constant->m_group = this;
  m_items.push_back(std::move(constant));
  return m_items.back().get();
}

void TConstGroup::Remove(const TConstClass* constant) {
  std::erase_if(m_items, [constant](const auto& c) { return c.get() == constant; });
}

TConstClass* TConstGroup::FindByName(const std::string& name) const {
  for (const auto& c : m_items)
    if (c->Name == name) return c.get();
  return nullptr;
}

std::string TConstGroup::DisplayText(const std::string& valueText) const {
  for (const auto& c : m_items)
    if (c->Value == valueText) return c->Name + " (" + valueText + ")";
  return valueText;
}

std::string TConstGroup::ValueOf(const std::string& text) const {
  const TConstClass* c = FindByName(text);
  return c ? c->Value : text;
}

TConstGroup* TConstGroups::Add(std::unique_ptr<TConstGroup> group) {
  m_items.push_back(std::move(group));
  return m_items.back().get();
}

void TConstGroups::Remove(const TConstGroup* group) {
  std::erase_if(m_items, [group](const auto& g) { return g.get() == group; });
}

TConstGroup* TConstGroups::FindByName(const std::string& name) const {
  const int i = IndexOfName(name);
  return i < 0 ? nullptr : Items(i);
}

int TConstGroups::IndexOfName(const std::string& name) const {
  for (size_t i = 0; i < m_items.size(); ++i)
    if (m_items[i]->Name == name) return int(i);
  return -1;
}

std::string TConstGroups::DisplayText(const std::string& groupName,
                                      const std::string& valueText) const {
  const TConstGroup* group = FindByName(groupName);
  return group ? group->DisplayText(valueText) : valueText;
}

}  // namespace velkor
