#include "model/DeviceClass.h"

#include <algorithm>
#include <unordered_map>

#include "model/ModbusRegister.h"
#include "model/TagRegistry.h"

namespace velkor {

TDetachedGroup::TDetachedGroup() = default;
TDetachedGroup::TDetachedGroup(TDetachedGroup&&) noexcept = default;
TDetachedGroup& TDetachedGroup::operator=(TDetachedGroup&&) noexcept = default;
TDetachedGroup::~TDetachedGroup() = default;

TDeviceClass::TDeviceClass()
    : m_space(std::make_unique<TModbusSpace>()),
      m_root(std::make_unique<TGroupClass>(TGroupClass::kRootName)) {
  m_root->SetDeviceRecursive(this);
}

TDeviceClass::~TDeviceClass() {
  for (const auto& tag : m_tags) Registry().Remove(tag.get());
  m_tags.Clear();
}

void TDeviceClass::SetName(std::string name) {
  m_name = std::move(name);
  Registry().Invalidate();
}

std::string TDeviceClass::FullName() const {
  return (m_server ? m_server->Name() : std::string()) + "." + m_name;
}

std::string TDeviceClass::DisplayName() const {
  return m_name + " (" + std::to_string(Number) + ")";
}

void TDeviceClass::WriteTagToSpace(const TModbusRegister& tag) {
  LockGuard lock(m_lock);
  const Variant& v = tag.GetValue();  // always of the tag's kind
  TModbusSpace& space = *m_space;
  const uint16_t addr = tag.Addr;
  const uint8_t sp = tag.mSpace;
  const uint8_t fmt = tag.DataFormat;
  switch (tag.Type()) {
    case VarType::Word:
    case VarType::ShortInt:
      space.WriteWord(addr, sp, fmt, uint16_t(v.RawInt()));
      break;
    case VarType::Integer:
    case VarType::DWord:
      space.WriteDWord(addr, sp, fmt, uint32_t(v.RawInt()));
      break;
    case VarType::Float:
      space.WriteSingle(addr, sp, fmt, float(v.RawReal()));
      break;
    case VarType::Double:
    case VarType::DateTime:
      space.WriteDouble(addr, sp, fmt, v.RawReal());
      break;
    case VarType::Int64:
      space.WriteInt64(addr, sp, fmt, v.RawInt());
      break;
    case VarType::Bool:
      space.WriteBit(addr, tag.BitAddr, sp, v.RawInt() != 0);
      break;
    case VarType::String:
      space.WriteString(addr, tag.RegisterCount(), sp, fmt, v.RawText());
      break;
    default:
      break;
  }
}

TModbusRegister* TDeviceClass::AddTag(std::unique_ptr<TModbusRegister> tag, TGroupClass* group) {
  TModbusRegister* raw = m_tags.Add(std::move(tag), group, this);
  Registry().Add(raw);
  return raw;
}

void TDeviceClass::DeleteTag(TModbusRegister* tag) {
  if (tag->ScriptUsers().Count() > 0) throw ReferencedTagError(tag->FullName());
  Registry().Remove(tag);
  m_tags.Remove(tag);
}

void TDeviceClass::MoveTagTo(TModbusRegister* tag, TDeviceClass& destination, TGroupClass* group) {
  std::unique_ptr<TModbusRegister> taken = m_tags.Extract(tag);
  if (!taken) return;
  const std::string target =
      (group ? group->FullName() : destination.FullName()) + "." + tag->Name();
  // The registry still holds the moved tag, so a paste into its own place renames it.
  if (Registry().FindByFullName(target))
    tag->SetName(destination.UniqueTagName(group, tag->Name()));
  destination.m_tags.Add(std::move(taken), group, &destination);
}

std::string TDeviceClass::UniqueTagName(const TGroupClass* group, const std::string& base) const {
  const std::string prefix = (group ? group->FullName() : FullName()) + ".";
  std::string candidate = base;
  for (int k = 1; Registry().FindByFullName(prefix + candidate); ++k)
    candidate = base + "_" + std::to_string(k);
  return candidate;
}

TGroupClass* TDeviceClass::AddGroup(std::unique_ptr<TGroupClass> group) {
  return AddGroup(std::move(group), {});
}

TGroupClass* TDeviceClass::AddGroup(std::unique_ptr<TGroupClass> group,
                                    std::vector<std::unique_ptr<TModbusRegister>> tags) {
  TGroupClass* parent = group->Parent() ? group->Parent() : m_root.get();
  group->m_parent = parent;
  TGroupClass* added = parent->Children().Add(std::move(group));
  added->SetDeviceRecursive(this);
  std::sort(tags.begin(), tags.end(),
            [](const auto& a, const auto& b) { return a->RegistrySeq() < b->RegistrySeq(); });
  for (auto& tag : tags) {
    TGroupClass* tagGroup = tag->Group();
    m_tags.Add(std::move(tag), tagGroup, this);
  }
  if (added->Children().Count() > 0 || !tags.empty()) Registry().Invalidate();
  return added;
}

TGroupClass* TDeviceClass::FindGroup(std::string_view fullName) {
  return m_root->FindByFullName(fullName);
}

std::string TDeviceClass::UniqueGroupName(const TGroupClass* parent, const std::string& base) {
  const std::string prefix = (parent ? parent->FullName() : FullName()) + ".";
  std::string candidate = base;
  for (int k = 1; FindGroup(prefix + candidate); ++k) candidate = base + "_" + std::to_string(k);
  return candidate;
}

TDetachedGroup TDeviceClass::DetachGroup(TGroupClass* group) {
  if (group == m_root.get() || !group->Parent())
    throw VelkorError("Корневую группу устройства нельзя переместить");
  TDetachedGroup detached;
  detached.tags = m_tags.ExtractIf([group](const TModbusRegister& tag) {
    return tag.Group() && group->IsSelfOrAncestorOf(tag.Group());
  });
  for (auto& tag : detached.tags) tag->SetPlace(tag->Group(), nullptr);
  detached.group = group->Parent()->Children().Extract(group);
  detached.group->m_parent = nullptr;
  detached.group->SetDeviceRecursive(nullptr);
  Registry().Invalidate();
  return detached;
}

TGroupClass* TDeviceClass::PasteGroup(TDetachedGroup detached, TGroupClass* parent) {
  if (!parent) parent = m_root.get();
  detached.group->m_parent = parent;
  detached.group->SetName(UniqueGroupName(parent, detached.group->Name()));
  return AddGroup(std::move(detached.group), std::move(detached.tags));
}

void TDeviceClass::CheckGroupReferences(const TGroupClass* group) const {
  // The first used tag of each group in list order, gathered in one pass.
  std::unordered_map<const TGroupClass*, const TModbusRegister*> firstUsed;
  for (const auto& tag : m_tags)
    if (tag->ScriptUsers().Count() > 0 && tag->Group() && group->IsSelfOrAncestorOf(tag->Group()))
      firstUsed.try_emplace(tag->Group(), tag.get());
  if (firstUsed.empty()) return;
  // Children first, then the group's own tags: the first used tag found in that order.
  auto check = [&](auto&& self, const TGroupClass* g) -> void {
    for (const auto& child : g->Children()) self(self, child.get());
    if (auto it = firstUsed.find(g); it != firstUsed.end())
      throw ReferencedTagError(it->second->FullName());
  };
  check(check, group);
}

void TDeviceClass::DeleteGroup(TGroupClass* group) {
  if (group == m_root.get() || !group->Parent())
    throw VelkorError("Корневую группу устройства нельзя удалить");
  CheckGroupReferences(group);
  auto doomed = m_tags.ExtractIf([group](const TModbusRegister& tag) {
    return tag.Group() && group->IsSelfOrAncestorOf(tag.Group());
  });
  for (auto& tag : doomed) Registry().Remove(tag.get());
  doomed.clear();
  group->Parent()->Children().Remove(group);
}

void TDeviceClass::CheckReferences() const {
  for (const auto& tag : m_tags)
    if (tag->ScriptUsers().Count() > 0) throw ReferencedTagError(tag->FullName());
}

TDevicesList::~TDevicesList() {
  // Tags of one device may be bound to scripts of another; tags unbind themselves on
  // destruction, so the order does not matter for safety, only for speed.
  m_items.clear();
}

int TDevicesList::IndexOf(const TDeviceClass* device) const {
  for (size_t i = 0; i < m_items.size(); ++i)
    if (m_items[i].get() == device) return int(i);
  return -1;
}

TDeviceClass* TDevicesList::Add(std::unique_ptr<TDeviceClass> device) {
  device->m_server = m_server;
  m_items.push_back(std::move(device));
  Registry().Invalidate();
  return m_items.back().get();
}

void TDevicesList::Remove(TDeviceClass* device) {
  device->CheckReferences();
  Extract(device);
}

std::unique_ptr<TDeviceClass> TDevicesList::Extract(TDeviceClass* device) {
  const int i = IndexOf(device);
  if (i < 0) return nullptr;
  std::unique_ptr<TDeviceClass> taken = std::move(m_items[size_t(i)]);
  m_items.erase(m_items.begin() + i);
  taken->m_server = nullptr;
  Registry().Invalidate();
  return taken;
}

TDeviceClass* TDevicesList::FindByNumber(int number) const {
  for (const auto& device : m_items)
    if (device->Number == number) return device.get();
  return nullptr;
}

ServerNode::~ServerNode() = default;

void ServerNode::SetName(std::string name) {
  m_name = std::move(name);
  Registry().Invalidate();
}

}  // namespace velkor
