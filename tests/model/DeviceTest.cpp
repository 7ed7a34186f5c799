#include <gtest/gtest.h>

#include "ModelFixture.h"
#include "model/DeviceClass.h"

namespace velkor {
namespace {

class Device : public ModelTest {
 protected:
  TGroupClass* NewGroup(const char* name, TGroupClass* parent = nullptr,
                        TDeviceClass* dev = nullptr) {
    return (dev ? dev : device)->AddGroup(std::make_unique<TGroupClass>(name, parent));
  }
  std::vector<std::string> ChildNames(const TGroupClass& g) {
    std::vector<std::string> names;
    for (const auto& c : g.Children()) names.push_back(c->Name());
    return names;
  }
  std::string RefError(const std::function<void()>& f) {
    try {
      f();
    } catch (const ReferencedTagError& e) {
      return e.TagFullName();
    }
    return "no error";
  }
};

TEST_F(Device, NewDeviceDefaults) {
  EXPECT_EQ(device->Number, 1);
  EXPECT_EQ(device->Name(), "Устройство");
  EXPECT_EQ(device->DisplayName(), "Устройство (1)");
  EXPECT_EQ(device->FullName(), "Srv.Устройство");
  EXPECT_EQ(device->RootGroup().Name(), "MainGroup");
  EXPECT_EQ(device->FindGroup("Srv.Устройство"), &device->RootGroup());
  device->SetNumber(257);
  EXPECT_EQ(device->Number, 1);
}

TEST_F(Device, RootGroupAndNoGroupGiveTheSameFullName) {
  TModbusRegister* a = AddTag("A", 18, 0, &device->RootGroup());
  TModbusRegister* b = AddTag("B");
  EXPECT_EQ(a->FullName(), "Srv.Устройство.A");
  EXPECT_EQ(b->FullName(), "Srv.Устройство.B");
  EXPECT_EQ(a->GroupFullName(), b->GroupFullName());
  EXPECT_FALSE(b->IsInGroup(&device->RootGroup(), true));  // no group: in no group
  EXPECT_TRUE(a->IsInGroup(&device->RootGroup(), false));
}

TEST_F(Device, NextFreeAddressAndFirstName) {
  EXPECT_EQ(device->Tags().NextFreeAddress(), 0);
  EXPECT_EQ(device->UniqueTagName(nullptr, "Reg"), "Reg");
  AddTag("Reg", 18, 10);
  AddTag("D", 5, 10);  // equal highest address: the last one counts
  EXPECT_EQ(device->Tags().NextFreeAddress(), 14);
  EXPECT_EQ(device->UniqueTagName(nullptr, "Reg"), "Reg_1");
  TDeviceClass* other = server.Devices().Add(std::make_unique<TDeviceClass>());
  other->SetName("Other");
  AddTag("Top", 5, 65534, nullptr, other);
  EXPECT_EQ(other->Tags().NextFreeAddress(), 2);
}

TEST_F(Device, FindByNumberReturnsTheFirst) {
  TDeviceClass* second = server.Devices().Add(std::make_unique<TDeviceClass>());
  second->SetName("Second");
  EXPECT_EQ(server.Devices().FindByNumber(1), device);
  EXPECT_EQ(server.Devices().FindByNumber(2), nullptr);
}

TEST_F(Device, GroupCopiedUnderItsOwnParentGetsSuffixes) {
  TGroupClass* g = NewGroup("Группа");
  g->Clone(device, &device->RootGroup());
  g->Clone(device, &device->RootGroup());
  EXPECT_EQ(ChildNames(device->RootGroup()),
            (std::vector<std::string>{"Группа", "Группа_1", "Группа_2"}));
}

TEST_F(Device, GroupCopiedIntoItselfCopiesOnce) {
  TGroupClass* g = NewGroup("G");
  TGroupClass* sub = NewGroup("Sub", g);
  AddTag("A", 18, 0, g);
  AddTag("B", 3, 1, sub);
  TGroupClass* copy = g->Clone(device, g);
  EXPECT_EQ(copy->Name(), "G");  // unique under G, whose children are only Sub
  EXPECT_EQ(copy->FullName(), "Srv.Устройство.G.G");
  EXPECT_EQ(ChildNames(*g), (std::vector<std::string>{"Sub", "G"}));
  EXPECT_EQ(ChildNames(*copy), (std::vector<std::string>{"Sub"}));
  EXPECT_NE(Registry().FindByFullName("Srv.Устройство.G.G.A"), nullptr);
  EXPECT_NE(Registry().FindByFullName("Srv.Устройство.G.G.Sub.B"), nullptr);
  EXPECT_EQ(device->Tags().Count(), 4);
  // Pasted into its own subgroup: still a single copy.
  g->Clone(device, sub);
  EXPECT_EQ(ChildNames(*sub), (std::vector<std::string>{"G"}));
  EXPECT_EQ(device->Tags().Count(), 8);
}

TEST_F(Device, CopyNextToItselfTakesSuffixOne) {
  TGroupClass* g = NewGroup("G");
  AddTag("A", 18, 0, g);
  TGroupClass* copy = g->Clone(device, nullptr);
  EXPECT_EQ(copy->Name(), "G_1");
  EXPECT_EQ(copy->Parent(), &device->RootGroup());
  EXPECT_NE(Registry().FindByFullName("Srv.Устройство.G_1.A"), nullptr);
}

TEST_F(Device, DeletingAGroupWithAReferencedTagDeletesNothing) {
  TGroupClass* g = NewGroup("G");
  TGroupClass* sub = NewGroup("Sub", g);
  TGroupClass* subsub = NewGroup("SubSub", sub);
  AddTag("Plain", 18, 0, g);
  TModbusRegister* used = AddTag("Used", 18, 1, subsub);
  TModbusRegister* user = AddTag("User", 18, 2);
  user->Script().BindVariable(used, "u");
  EXPECT_EQ(RefError([&] { device->DeleteGroup(g); }), "Srv.Устройство.G.Sub.SubSub.Used");
  EXPECT_EQ(device->Tags().Count(), 3);
  EXPECT_EQ(Registry().Count(), 3);
  EXPECT_EQ(device->FindGroup("Srv.Устройство.G.Sub.SubSub"), subsub);
  EXPECT_EQ(RefError([&] { server.Devices().Remove(device); }), used->FullName());
  EXPECT_EQ(RefError([&] { device->DeleteTag(used); }), used->FullName());

  user->Script().ClearVariables();
  device->DeleteGroup(g);
  EXPECT_EQ(device->Tags().Count(), 1);
  EXPECT_EQ(Registry().Count(), 1);
  EXPECT_EQ(device->FindGroup("Srv.Устройство.G"), nullptr);
}

TEST_F(Device, DeletingTheOnlyReferrerFreesTheTag) {
  TModbusRegister* used = AddTag("Used");
  TModbusRegister* user = AddTag("User", 18, 1);
  user->Script().BindVariable(used, "u");
  EXPECT_THROW(device->DeleteTag(used), ReferencedTagError);
  device->DeleteTag(user);
  EXPECT_EQ(used->ScriptUsers().Count(), 0);
  device->DeleteTag(used);
  EXPECT_EQ(Registry().Count(), 0);
}

TEST_F(Device, CutGroupTakesAllItsTagsToAnotherDevice) {
  TGroupClass* g = NewGroup("G");
  TGroupClass* sub = NewGroup("Sub", g);
  AddTag("A", 18, 0, g);
  AddTag("B", 18, 1, sub);
  AddTag("Stay", 18, 2);
  TDeviceClass* other = server.Devices().Add(std::make_unique<TDeviceClass>());
  other->SetName("Other");
  NewGroup("G", nullptr, other);  // the name is taken there

  TDetachedGroup cut = device->DetachGroup(g);
  EXPECT_EQ(device->Tags().Count(), 1);
  EXPECT_EQ(Registry().Count(), 3);  // cut tags stay registered
  TGroupClass* pasted = other->PasteGroup(std::move(cut), nullptr);
  EXPECT_EQ(pasted->Name(), "G_1");
  EXPECT_EQ(other->Tags().Count(), 2);
  EXPECT_EQ(device->Tags().Count(), 1);
  TModbusRegister* b = Registry().FindByFullName("Srv.Other.G_1.Sub.B");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Device(), other);
  EXPECT_EQ(Registry().FindByFullName("Srv.Устройство.G.Sub.B"), nullptr);
}

TEST_F(Device, UnpastedCutDestroysItsTags) {
  TGroupClass* g = NewGroup("G");
  AddTag("A", 18, 0, g);
  { TDetachedGroup cut = device->DetachGroup(g); }
  EXPECT_EQ(Registry().Count(), 0);
}

TEST_F(Device, TagPastedIntoItsOwnGroupGetsSuffix) {
  TGroupClass* g = NewGroup("G");
  TModbusRegister* a = AddTag("A", 18, 0, g);
  device->MoveTagTo(a, *device, g);
  EXPECT_EQ(a->Name(), "A_1");
  EXPECT_EQ(Registry().FindByFullName("Srv.Устройство.G.A_1"), a);
  TDeviceClass* other = server.Devices().Add(std::make_unique<TDeviceClass>());
  other->SetName("Other");
  device->MoveTagTo(a, *other, nullptr);
  EXPECT_EQ(a->Name(), "A_1");
  EXPECT_EQ(a->Device(), other);
  EXPECT_EQ(device->Tags().Count(), 0);
}

TEST_F(Device, RegistryFollowsRenamesAndReturnsFirstOfDuplicates) {
  TGroupClass* g = NewGroup("G");
  TModbusRegister* first = AddTag("X", 18, 0, g);
  TModbusRegister* second = AddTag("X", 18, 1, g);  // a file may hold duplicates
  EXPECT_EQ(Registry().FindByFullName("Srv.Устройство.G.X"), first);
  first->SetName("Y");
  EXPECT_EQ(Registry().FindByFullName("Srv.Устройство.G.X"), second);
  g->SetName("H");
  EXPECT_EQ(Registry().FindByFullName("Srv.Устройство.H.Y"), first);
  device->SetName("D");
  server.SetName("S2");
  EXPECT_EQ(Registry().FindByFullName("S2.D.H.X"), second);
  EXPECT_EQ(Registry().FindByFullName("Srv.Устройство.H.Y"), nullptr);
  EXPECT_EQ(Registry().IndexOf(second), 1);
  device->DeleteTag(first);
  EXPECT_EQ(Registry().IndexOf(second), 0);
  EXPECT_EQ(Registry().Items(0), second);
}

TEST_F(Device, GroupLookupWithDotsInNamesFindsTheFirstInTreeOrder) {
  TGroupClass* a = NewGroup("a");
  TGroupClass* ab = NewGroup("b", a);
  TGroupClass* dotted = NewGroup("a.b");
  EXPECT_EQ(device->FindGroup("Srv.Устройство.a.b"), ab);  // depth-first comes first
  EXPECT_NE(dotted, ab);
  EXPECT_EQ(device->UniqueGroupName(a, "b"), "b_1");
}

TEST_F(Device, TeardownWithScriptsBoundAcrossDevicesIsSafe) {
  // Whole-project teardown destroys devices in order; bindings to tags already gone
  // must not leave dangling pointers (ASan would report them).
  TDeviceClass* other = server.Devices().Add(std::make_unique<TDeviceClass>());
  other->SetName("Other");
  TModbusRegister* a = AddTag("A");
  TModbusRegister* b = AddTag("B", 18, 0, nullptr, other);
  b->Script().BindVariable(a, "a");
  a->Script().BindVariable(b, "b");
  a->Script().BindVariable(a, "self2");
}

TEST_F(Device, FilterByOPCItem) {
  TModbusRegister* a = AddTag("A");
  AddTag("B", 18, 1)->OPCItem = "other";
  TModbusRegister* c = AddTag("C", 18, 2);
  a->OPCItem = c->OPCItem = "Random.Int1";
  const TModbusRegsList found = Registry().FilterByOPCItem("Random.Int1");
  ASSERT_EQ(found.Count(), 2);
  EXPECT_EQ(found.Items(0), a);
  EXPECT_EQ(found.Items(1), c);
  EXPECT_EQ(device->Tags().FilterByOPCItem("random.int1").Count(), 0);
}

}  // namespace
}  // namespace velkor
