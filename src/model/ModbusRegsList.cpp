#include "model/ModbusRegsList.h"

#include <algorithm>

#include "model/ModbusRegister.h"

namespace velkor {

template <class Ptr>
int BasicRegsList<Ptr>::IndexOf(const TModbusRegister* tag) const {
  for (size_t i = 0; i < m_items.size(); ++i)
    if (std::to_address(m_items[i]) == tag) return int(i);
  return -1;
}

template <class Ptr>
TModbusRegister* BasicRegsList<Ptr>::FindByFullName(std::string_view name) const {
  for (const auto& tag : m_items)
    if (tag->FullName() == name) return std::to_address(tag);
  return nullptr;
}

template <class Ptr>
TModbusRegsList BasicRegsList<Ptr>::FilterByOPCItem(std::string_view item) const {
  TModbusRegsList result;
  for (const auto& tag : m_items)
    if (tag->OPCItem == item) result.Add(std::to_address(tag));
  return result;
}

template <class Ptr>
TModbusRegister* BasicRegsList<Ptr>::HighestAddressTag() const {
  TModbusRegister* best = nullptr;
  for (const auto& tag : m_items)
    if (!best || tag->Addr >= best->Addr) best = std::to_address(tag);
  return best;
}

template <class Ptr>
uint16_t BasicRegsList<Ptr>::NextFreeAddress() const {
  const TModbusRegister* top = HighestAddressTag();
  return top ? uint16_t(top->Addr + top->RegisterCount()) : 0;
}

template <class Ptr>
TModbusRegister* BasicRegsList<Ptr>::Add(Ptr tag) requires(!kOwningList<Ptr>) {
  // Bodies of the constrained members compile for either list: clang 14 instantiates them
  // in the explicit instantiation whatever their constraints.
  TModbusRegister* raw = std::to_address(tag);
  m_items.push_back(std::move(tag));
  return raw;
}

template <class Ptr>
TModbusRegister* BasicRegsList<Ptr>::Add(Ptr tag, TGroupClass* group,
                                         TDeviceClass* device) requires kOwningList<Ptr> {
  TModbusRegister* raw = std::to_address(tag);
  raw->SetPlace(group, device);
  m_items.push_back(std::move(tag));
  return raw;
}

template <class Ptr>
void BasicRegsList<Ptr>::Clear() {
  m_items.clear();
}

template <class Ptr>
void BasicRegsList<Ptr>::Delete(int i) {
  m_items.erase(m_items.begin() + i);
}

template <class Ptr>
void BasicRegsList<Ptr>::Remove(const TModbusRegister* tag) {
  const int i = IndexOf(tag);
  if (i >= 0) m_items.erase(m_items.begin() + i);
}

template <class Ptr>
Ptr BasicRegsList<Ptr>::Extract(const TModbusRegister* tag) requires kOwningList<Ptr> {
  const int i = IndexOf(tag);
  if (i < 0) return nullptr;
  Ptr taken = std::move(m_items[size_t(i)]);
  m_items.erase(m_items.begin() + i);
  return taken;
}

template <class Ptr>
std::vector<Ptr> BasicRegsList<Ptr>::ExtractIf(
    const std::function<bool(const TModbusRegister&)>& pred) {
  std::vector<Ptr> taken;
  auto keep = m_items.begin();
  for (auto it = m_items.begin(); it != m_items.end(); ++it) {
    if (pred(**it))
      taken.push_back(std::move(*it));
    else if (keep++ != it)
      *std::prev(keep) = std::move(*it);
  }
  m_items.erase(keep, m_items.end());
  return taken;
}

template class BasicRegsList<TModbusRegister*>;
template class BasicRegsList<std::unique_ptr<TModbusRegister>>;

}  // namespace velkor
