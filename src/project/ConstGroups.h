#pragma once
// Named constants in named groups: they only translate between values and names for the
// user (a tag names a group in ConstGroupName). Comparisons are exact and take the first
// match, so a file with duplicates behaves as if only the first of each name existed.

#include <memory>
#include <string>
#include <vector>

namespace velkor {

class TConstGroup;

class TConstClass {
 public:
  TConstClass(std::string name, std::string value)
      : Name(std::move(name)), Value(std::move(value)) {}
  std::string Name;
  std::string Value;  // text, compared as text
  TConstGroup* Group() const { return m_group; }

 private:
  friend class TConstGroup;
  TConstGroup* m_group = nullptr;
};

class TConstGroup {
 public:
  explicit TConstGroup(std::string name = "") : Name(std::move(name)) {}
  std::string Name;

  TConstClass* Add(std::unique_ptr<TConstClass> constant);
  int Count() const { return int(m_items.size()); }
  TConstClass* Items(int i) const { return m_items[size_t(i)].get(); }
  void Remove(const TConstClass* constant);
  TConstClass* FindByName(const std::string& name) const;
  // "Name (value)" for the first constant of that value, else the value unchanged.
  std::string DisplayText(const std::string& valueText) const;
  // The value of the first constant of that name, else the text unchanged.
  std::string ValueOf(const std::string& text) const;

 private:
  std::vector<std::unique_ptr<TConstClass>> m_items;
};

class TConstGroups {
 public:
  TConstGroup* Add(std::unique_ptr<TConstGroup> group);
  void Clear() { m_items.clear(); }
  int Count() const { return int(m_items.size()); }
  TConstGroup* Items(int i) const { return m_items[size_t(i)].get(); }
  void Remove(const TConstGroup* group);
  TConstGroup* FindByName(const std::string& name) const;
  int IndexOfName(const std::string& name) const;
  // The named group's DisplayText of the value, or the value unchanged.
  std::string DisplayText(const std::string& groupName, const std::string& valueText) const;

 private:
  std::vector<std::unique_ptr<TConstGroup>> m_items;
};

}  // namespace velkor
