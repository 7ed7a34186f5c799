#include "model/GroupClass.h"

#include <unordered_map>
#include <unordered_set>

#include "model/DeviceClass.h"
#include "model/ModbusRegister.h"
#include "model/TagRegistry.h"

namespace velkor {

int TGroupsList::IndexOf(const TGroupClass* group) const {
  for (size_t i = 0; i < m_items.size(); ++i)
    if (m_items[i].get() == group) return int(i);
  return -1;
}

TGroupClass* TGroupsList::Add(std::unique_ptr<TGroupClass> group) {
  m_items.push_back(std::move(group));
  return m_items.back().get();
}

std::unique_ptr<TGroupClass> TGroupsList::Extract(const TGroupClass* group) {
  const int i = IndexOf(group);
  if (i < 0) return nullptr;
  std::unique_ptr<TGroupClass> taken = std::move(m_items[size_t(i)]);
  m_items.erase(m_items.begin() + i);
  return taken;
}

TGroupClass::TGroupClass(std::string name, TGroupClass* parent)
    : m_parent(parent), m_name(std::move(name)) {}

void TGroupClass::SetName(std::string name) {
  m_name = std::move(name);
  Registry().Invalidate();
}

void TGroupClass::SetParent(TGroupClass* parent) {
  m_parent = parent;
  Registry().Invalidate();
}

std::string TGroupClass::FullName() const {
  if (!m_parent) return m_device ? m_device->FullName() : std::string();
  return m_parent->FullName() + "." + m_name;
}

TGroupClass* TGroupClass::FindByFullName(std::string_view name) {
  return FindBelow(name, FullName());
}

// A descendant's full name starts with its ancestor's full name and a ".", so subtrees
// whose full name is no prefix of the wanted one are skipped without changing the order.
TGroupClass* TGroupClass::FindBelow(std::string_view name, const std::string& fullName) {
  if (name == fullName) return this;
  if (name.size() <= fullName.size() || name.compare(0, fullName.size(), fullName) != 0 ||
      name[fullName.size()] != '.')
    return nullptr;
  for (const auto& child : m_children)
    if (TGroupClass* found = child->FindBelow(name, fullName + "." + child->m_name)) return found;
  return nullptr;
}

bool TGroupClass::IsSelfOrAncestorOf(const TGroupClass* group) const {
  for (; group; group = group->m_parent)
    if (group == this) return true;
  return false;
}

void TGroupClass::SetDeviceRecursive(TDeviceClass* device) {
  m_device = device;
  for (const auto& child : m_children) child->SetDeviceRecursive(device);
}

namespace {

using TagsByGroup = std::unordered_map<const TGroupClass*, std::vector<const TModbusRegister*>>;

TGroupClass* CloneInto(const TGroupClass& source, TDeviceClass* device, TGroupClass* parent,
                       const TagsByGroup& tagsOf, std::unordered_set<const TGroupClass*>& created) {
  auto group =
      std::make_unique<TGroupClass>(device->UniqueGroupName(parent, source.Name()), parent);
  TGroupClass* copy = device->AddGroup(std::move(group));
  created.insert(copy);
  if (auto it = tagsOf.find(&source); it != tagsOf.end())
    for (const TModbusRegister* tag : it->second) device->AddTag(tag->Clone(device, copy), copy);
  // By index: a paste into its own subtree appends the copy to a list we walk.
  for (int i = 0; i < source.Children().Count(); ++i) {
    const TGroupClass* child = source.Children().Items(i);
    if (!created.count(child)) CloneInto(*child, device, copy, tagsOf, created);
  }
  return copy;
}

}  // namespace

TGroupClass* TGroupClass::Clone(TDeviceClass* device, TGroupClass* parent) const {
  // The subtree's tags as they stood before the copy, each group's in registry order.
  TagsByGroup tagsOf;
  Registry().ForEach([&](const TModbusRegister* tag) {
    if (tag->Group() && IsSelfOrAncestorOf(tag->Group())) tagsOf[tag->Group()].push_back(tag);
  });
  std::unordered_set<const TGroupClass*> created;
  return CloneInto(*this, device, parent, tagsOf, created);
}

}  // namespace velkor
