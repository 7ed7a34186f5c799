#pragma once
// Ordered lists of tags. One template serves both kinds: the device's list owns its tags
// (unique_ptr), every other list (script variables, script users, lookup results) only
// refers to them. The queries are shared; Add/Remove differ by ownership.

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <type_traits>
#include <vector>

namespace velkor {

class TModbusRegister;
class TGroupClass;
class TDeviceClass;

// Outside the class so that the out-of-line definitions can name it (clang does not look
// members up in their requires-clauses).
template <class Ptr>
inline constexpr bool kOwningList = !std::is_pointer_v<Ptr>;

template <class Ptr>
class BasicRegsList {
 public:
  static constexpr bool kOwning = kOwningList<Ptr>;

  int Count() const { return int(m_items.size()); }
  bool Empty() const { return m_items.empty(); }
  TModbusRegister* Items(int i) const { return std::to_address(m_items[size_t(i)]); }
  int IndexOf(const TModbusRegister* tag) const;
  bool Contains(const TModbusRegister* tag) const { return IndexOf(tag) >= 0; }
  // Out of line, like every member that may destroy a tag: TModbusRegister is incomplete here.
  void Clear();
  void Exchange(int i, int j) { std::swap(m_items[size_t(i)], m_items[size_t(j)]); }

  // First tag in list order whose full name equals name, or nullptr.
  TModbusRegister* FindByFullName(std::string_view name) const;
  // Every tag whose OPCItem equals item exactly, in list order.
  BasicRegsList<TModbusRegister*> FilterByOPCItem(std::string_view item) const;
  // Greatest Addr; the last of equal greatest ones; nullptr for an empty list.
  TModbusRegister* HighestAddressTag() const;
  // Addr of the highest tag plus its register count, modulo 65536; 0 for an empty list.
  uint16_t NextFreeAddress() const;

  // Referring lists: appends. Owning list: takes ownership and sets the tag's group and
  // device.
  TModbusRegister* Add(Ptr tag) requires(!kOwningList<Ptr>);
  TModbusRegister* Add(Ptr tag, TGroupClass* group, TDeviceClass* device) requires kOwningList<Ptr>;
  // Removes the first occurrence if present (destroying it when owning).
  void Remove(const TModbusRegister* tag);
  void Delete(int i);
  // Takes a tag out of an owning list without destroying it; empty if absent.
  Ptr Extract(const TModbusRegister* tag) requires kOwningList<Ptr>;
  // Removes every tag the predicate selects in one pass; returns them (owning lists hand
  // ownership to the caller, which destroys them when it drops the result).
  std::vector<Ptr> ExtractIf(const std::function<bool(const TModbusRegister&)>& pred);

  auto begin() const { return m_items.begin(); }
  auto end() const { return m_items.end(); }

 private:
  std::vector<Ptr> m_items;
};

using TModbusRegsList = BasicRegsList<TModbusRegister*>;
using TOwningRegsList = BasicRegsList<std::unique_ptr<TModbusRegister>>;

extern template class BasicRegsList<TModbusRegister*>;
extern template class BasicRegsList<std::unique_ptr<TModbusRegister>>;

}  // namespace velkor
