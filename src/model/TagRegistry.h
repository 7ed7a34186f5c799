#pragma once
// The process-wide list of every tag of every device, in the order the tags were
// registered. Projects reach 100,000 tags, and loading, copying and naming look tags up by
// full name all the time, so the registry keeps:
//  - an insertion sequence number on each tag: list order is sequence order, removal
//    leaves a hole that is compacted later (amortised O(1)), and IndexOf is a binary search;
//  - an index from full name to the tags of that name (first match = lowest sequence).
// Full names change when any name on the path or a tag's place changes. A tag's own change
// (rename, move) re-indexes that tag; a change that renames many at once (a group, device
// or server rename, a group move) invalidates the index, which is rebuilt on the next
// lookup in one pass.

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/ModbusRegsList.h"

namespace velkor {

class TTagRegistry {
 public:
  void Add(TModbusRegister* tag);
  void Remove(TModbusRegister* tag);  // a tag that is not registered is ignored
  void Clear();

  int Count() const;
  TModbusRegister* Items(int i) const;
  int IndexOf(const TModbusRegister* tag) const;
  bool Contains(const TModbusRegister* tag) const;

  TModbusRegister* FindByFullName(std::string_view name) const;
  TModbusRegsList FilterByOPCItem(std::string_view item) const;

  // Call after a tag's own full name changed (its name, group or device).
  void Reindex(TModbusRegister* tag);
  // Call after a change that may rename many tags.
  void Invalidate();

  // Every registered tag, in registry order.
  template <class F>
  void ForEach(F&& f) const {
    for (const Entry& e : m_items)
      if (e.tag) f(e.tag);
  }

 private:
  struct Entry {
    uint64_t seq;
    TModbusRegister* tag;  // nullptr: removed, compacted away later
  };
  // The lazy parts (compaction, index rebuild) run under m_lazy, so lookups from worker
  // threads while the structure is frozen are safe; changes come from one thread only.
  void CompactLocked() const;
  void IndexInsert(TModbusRegister* tag) const;
  void IndexErase(TModbusRegister* tag) const;
  std::vector<Entry>::iterator Find(const TModbusRegister* tag) const;

  mutable std::mutex m_lazy;
  mutable std::vector<Entry> m_items;  // sorted by seq
  mutable size_t m_holes = 0;
  uint64_t m_nextSeq = 1;
  // Buckets keep their tags sorted by sequence.
  mutable std::unordered_map<std::string, std::vector<TModbusRegister*>> m_index;
  mutable bool m_indexValid = true;
};

// The one registry of the program run.
TTagRegistry& Registry();

}  // namespace velkor
