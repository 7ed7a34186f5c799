#pragma once
// The group tree of a device. Groups own their children; tags are not held by groups but
// point to their group, and the device's tag list is the one owner of the tags, so moving
// a group never copies tags and a tag's group is one pointer to follow.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velkor {

class TDeviceClass;
class TGroupClass;

class TGroupsList {
 public:
  int Count() const { return int(m_items.size()); }
  TGroupClass* Items(int i) const { return m_items[size_t(i)].get(); }
  int IndexOf(const TGroupClass* group) const;
  TGroupClass* Add(std::unique_ptr<TGroupClass> group);
  std::unique_ptr<TGroupClass> Extract(const TGroupClass* group);
  void Remove(const TGroupClass* group) { Extract(group); }
  void Exchange(int i, int j) { std::swap(m_items[size_t(i)], m_items[size_t(j)]); }

  auto begin() const { return m_items.begin(); }
  auto end() const { return m_items.end(); }

 private:
  std::vector<std::unique_ptr<TGroupClass>> m_items;
};

class TGroupClass {
 public:
  static constexpr const char* kDefaultName = "Группа";
  static constexpr const char* kRootName = "MainGroup";

  explicit TGroupClass(std::string name = kDefaultName, TGroupClass* parent = nullptr);

  const std::string& Name() const { return m_name; }
  void SetName(std::string name);
  TGroupClass* Parent() const { return m_parent; }
  void SetParent(TGroupClass* parent);
  TDeviceClass* Device() const { return m_device; }
  TGroupsList& Children() { return m_children; }
  const TGroupsList& Children() const { return m_children; }

  // The root group (no parent) stands for its device: its own name is never part of a
  // full name.
  std::string FullName() const;
  // Depth-first, parent before children, children in order; first match.
  TGroupClass* FindByFullName(std::string_view name);
  bool IsSelfOrAncestorOf(const TGroupClass* group) const;
  // Copies this group's subtree (tags included) under parent in device.
  TGroupClass* Clone(TDeviceClass* device, TGroupClass* parent) const;

 private:
  friend class TDeviceClass;
  TGroupClass* FindBelow(std::string_view name, const std::string& fullName);
  void SetDeviceRecursive(TDeviceClass* device);

  TGroupClass* m_parent;
  TGroupsList m_children;
  std::string m_name;
  TDeviceClass* m_device = nullptr;
};

}  // namespace velkor
