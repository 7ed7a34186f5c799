#include "model/TagRegistry.h"

#include <algorithm>

#include "model/ModbusRegister.h"

namespace velkor {

TTagRegistry& Registry() {
  static TTagRegistry registry;
  return registry;
}

namespace {
bool BySeq(const TModbusRegister* a, const TModbusRegister* b) {
  return a->RegistrySeq() < b->RegistrySeq();
}
}  // namespace

std::vector<TTagRegistry::Entry>::iterator TTagRegistry::Find(const TModbusRegister* tag) const {
  auto it = std::lower_bound(m_items.begin(), m_items.end(), tag->m_regSeq,
                             [](const Entry& e, uint64_t seq) { return e.seq < seq; });
  return it != m_items.end() && it->tag == tag ? it : m_items.end();
}

void TTagRegistry::Add(TModbusRegister* tag) {
  if (tag->m_regSeq != 0) return;
  std::lock_guard lock(m_lazy);
  tag->m_regSeq = m_nextSeq++;
  m_items.push_back({tag->m_regSeq, tag});
  if (m_indexValid) IndexInsert(tag);
}

void TTagRegistry::Remove(TModbusRegister* tag) {
  if (tag->m_regSeq == 0) return;
  std::lock_guard lock(m_lazy);
  auto it = Find(tag);
  if (m_indexValid) IndexErase(tag);
  tag->m_regSeq = 0;
  if (it == m_items.end()) return;
  it->tag = nullptr;
  if (++m_holes > 64 && m_holes * 2 > m_items.size()) CompactLocked();
}

void TTagRegistry::Clear() {
  std::lock_guard lock(m_lazy);
  for (const Entry& e : m_items)
    if (e.tag) e.tag->m_regSeq = 0;
  m_items.clear();
  m_holes = 0;
  m_index.clear();
  m_indexValid = true;
}

void TTagRegistry::CompactLocked() const {
  if (m_holes == 0) return;
  std::erase_if(m_items, [](const Entry& e) { return e.tag == nullptr; });
  m_holes = 0;
}

int TTagRegistry::Count() const {
  std::lock_guard lock(m_lazy);
  return int(m_items.size() - m_holes);
}

TModbusRegister* TTagRegistry::Items(int i) const {
  std::lock_guard lock(m_lazy);
  CompactLocked();
  return m_items[size_t(i)].tag;
}

int TTagRegistry::IndexOf(const TModbusRegister* tag) const {
  if (!tag || tag->m_regSeq == 0) return -1;
  std::lock_guard lock(m_lazy);
  CompactLocked();
  auto it = Find(tag);
  return it == m_items.end() ? -1 : int(it - m_items.begin());
}

bool TTagRegistry::Contains(const TModbusRegister* tag) const { return tag && tag->m_regSeq != 0; }

void TTagRegistry::IndexInsert(TModbusRegister* tag) const {
  tag->m_regKey = tag->FullName();
  auto& bucket = m_index[tag->m_regKey];
  bucket.insert(std::upper_bound(bucket.begin(), bucket.end(), tag, BySeq), tag);
}

void TTagRegistry::IndexErase(TModbusRegister* tag) const {
  auto it = m_index.find(tag->m_regKey);
  if (it == m_index.end()) return;
  std::erase(it->second, tag);
  if (it->second.empty()) m_index.erase(it);
}

void TTagRegistry::Reindex(TModbusRegister* tag) {
  if (tag->m_regSeq == 0) return;
  std::lock_guard lock(m_lazy);
  if (!m_indexValid) return;
  IndexErase(tag);
  IndexInsert(tag);
}

void TTagRegistry::Invalidate() {
  std::lock_guard lock(m_lazy);
  m_indexValid = false;
}

TModbusRegister* TTagRegistry::FindByFullName(std::string_view name) const {
  std::lock_guard lock(m_lazy);
  if (!m_indexValid) {
    m_index.clear();
    m_index.reserve(m_items.size());
    for (const Entry& e : m_items)
      if (e.tag) IndexInsert(e.tag);  // in sequence order, so buckets come out sorted
    m_indexValid = true;
  }
  auto it = m_index.find(std::string(name));
  return it == m_index.end() ? nullptr : it->second.front();
}

TModbusRegsList TTagRegistry::FilterByOPCItem(std::string_view item) const {
  TModbusRegsList result;
  ForEach([&](TModbusRegister* tag) {
    if (tag->OPCItem == item) result.Add(tag);
  });
  return result;
}

}  // namespace velkor
