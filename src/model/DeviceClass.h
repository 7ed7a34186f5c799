#pragma once
// A device: one emulated Modbus slave with its tables, its tags and its group tree.
// Servers keep their devices in a TDevicesList; the structure changes only while the
// project is stopped, so worker threads read lists, names and numbers without locks.
// The reply settings that may change while running are atomics.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/Error.h"
#include "model/GroupClass.h"
#include "model/Locks.h"
#include "model/ModbusRegsList.h"
#include "model/ModbusSpace.h"

namespace velkor {

class ServerNode;
class TModbusRegister;

// A delete refused because scripts use a tag; carries that tag's full name.
class ReferencedTagError : public VelkorError {
 public:
  explicit ReferencedTagError(const std::string& tagFullName)
      : VelkorError("На тег " + tagFullName + " имеются ссылки из скриптов"),
        m_tagFullName(tagFullName) {}
  const std::string& TagFullName() const { return m_tagFullName; }

 private:
  std::string m_tagFullName;
};

// A group taken out of its device by a cut, with the tags of its subtree. The tags stay
// in the registry (they keep their registry order) but belong to no device until pasted.
struct TDetachedGroup {
  std::unique_ptr<TGroupClass> group;
  std::vector<std::unique_ptr<TModbusRegister>> tags;
  TDetachedGroup();
  TDetachedGroup(TDetachedGroup&&) noexcept;
  TDetachedGroup& operator=(TDetachedGroup&&) noexcept;
  ~TDetachedGroup();  // an unpasted cut destroys its tags
};

class TDeviceClass {
 public:
  static constexpr const char* kDefaultName = "Устройство";

  TDeviceClass();
  ~TDeviceClass();
  TDeviceClass(const TDeviceClass&) = delete;
  TDeviceClass& operator=(const TDeviceClass&) = delete;

  uint8_t Number = 1;
  std::string Description;
  std::string ProgID;
  std::atomic<bool> NoReply{false};
  std::atomic<uint32_t> ReplyTimeout{0};    // ms, lower bound of the reply delay
  std::atomic<uint32_t> ReplyTimeoutTo{0};  // ms, upper bound

  // Wider integers are stored modulo 256.
  void SetNumber(int64_t n) { Number = uint8_t(n & 0xFF); }
  const std::string& Name() const { return m_name; }
  void SetName(std::string name);
  ServerNode* Server() const { return m_server; }
  TModbusSpace& Space() { return *m_space; }
  const TModbusSpace& Space() const { return *m_space; }
  TOwningRegsList& Tags() { return m_tags; }
  const TOwningRegsList& Tags() const { return m_tags; }
  TGroupClass& RootGroup() { return *m_root; }
  TCritSection& DeviceLock() { return m_lock; }
  [[nodiscard]] LockGuard Lock() { return LockGuard(m_lock); }

  std::string FullName() const;
  std::string DisplayName() const;

  // Writes the tag's value into the space with its type, address and byte order.
  void WriteTagToSpace(const TModbusRegister& tag);

  // Tags.
  // Adds a tag to this device's list (group none: the root) and to the registry.
  TModbusRegister* AddTag(std::unique_ptr<TModbusRegister> tag, TGroupClass* group = nullptr);
  // Removes and destroys a tag; refused with ReferencedTagError while scripts use it.
  void DeleteTag(TModbusRegister* tag);
  // Cut and paste of a tag: into destination (group none: its root), renamed when the
  // name is taken there.
  void MoveTagTo(TModbusRegister* tag, TDeviceClass& destination, TGroupClass* group);
  // The first free name of base, base_1, base_2, ... under group (none: the device).
  std::string UniqueTagName(const TGroupClass* group, const std::string& base) const;

  // Groups.
  // Joins a group (parent none: the root) to the tree with the tags that come with it.
  // (Two overloads, not a default argument: that would need the tag type complete here.)
  TGroupClass* AddGroup(std::unique_ptr<TGroupClass> group);
  TGroupClass* AddGroup(std::unique_ptr<TGroupClass> group,
                        std::vector<std::unique_ptr<TModbusRegister>> tags);
  TGroupClass* FindGroup(std::string_view fullName);
  std::string UniqueGroupName(const TGroupClass* parent, const std::string& base);
  TDetachedGroup DetachGroup(TGroupClass* group);
  // Paste of a cut: under parent (none: the root), renamed unique among its new siblings.
  TGroupClass* PasteGroup(TDetachedGroup detached, TGroupClass* parent);
  // Deletes a group with its subtree and tags; refused with ReferencedTagError (nothing
  // deleted) when scripts use one of them.
  void DeleteGroup(TGroupClass* group);
  // Throws ReferencedTagError for the first tag, in list order, that scripts use.
  void CheckReferences() const;

 private:
  friend class TDevicesList;
  void CheckGroupReferences(const TGroupClass* group) const;

  std::string m_name = kDefaultName;
  ServerNode* m_server = nullptr;
  std::unique_ptr<TModbusSpace> m_space;
  TOwningRegsList m_tags;
  TCritSection m_lock;
  std::unique_ptr<TGroupClass> m_root;
};

class TDevicesList {
 public:
  explicit TDevicesList(ServerNode* server) : m_server(server) {}
  ~TDevicesList();

  int Count() const { return int(m_items.size()); }
  TDeviceClass* Items(int i) const { return m_items[size_t(i)].get(); }
  int IndexOf(const TDeviceClass* device) const;
  TDeviceClass* Add(std::unique_ptr<TDeviceClass> device);
  // CheckReferences first; on success removes and destroys the device.
  void Remove(TDeviceClass* device);
  std::unique_ptr<TDeviceClass> Extract(TDeviceClass* device);
  void Exchange(int i, int j) { std::swap(m_items[size_t(i)], m_items[size_t(j)]); }
  TDeviceClass* FindByNumber(int number) const;

  auto begin() const { return m_items.begin(); }
  auto end() const { return m_items.end(); }

 private:
  ServerNode* m_server;
  std::vector<std::unique_ptr<TDeviceClass>> m_items;
};

// What a device needs of the server that holds it: its name (the first part of every full
// name) and its device list. The serving layer's server derives from this.
class ServerNode {
 public:
  ServerNode() = default;
  virtual ~ServerNode();
  ServerNode(const ServerNode&) = delete;
  ServerNode& operator=(const ServerNode&) = delete;

  const std::string& Name() const { return m_name; }
  void SetName(std::string name);
  TDevicesList& Devices() { return m_devices; }
  const TDevicesList& Devices() const { return m_devices; }

 private:
  std::string m_name;
  TDevicesList m_devices{this};
};

}  // namespace velkor
