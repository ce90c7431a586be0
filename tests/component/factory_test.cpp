// Class factory, interface identity and the unloading rule.
#include <gtest/gtest.h>

#include "component/component_support.h"

namespace ovt {
namespace {

using namespace com;

TEST(ClassFactory, OnlyTheOneClassIsAvailable) {
  Guid other = kClsidcDataGetway;
  other.data1 ^= 1;
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(DllGetClassObject(&other, &kIidIClassFactory, &out), kClassNotAvailable);
  EXPECT_EQ(out, nullptr);
  ComPtr<IUnknown> f;
  EXPECT_EQ(DllGetClassObject(&kClsidcDataGetway, &kIid_cDataGetway, f.put()), kNoInterface);
  EXPECT_EQ(DllGetClassObject(&kClsidcDataGetway, &kIidIUnknown, f.put()), kOk);
}

TEST(ClassFactory, CreatesObjectsAnsweringTheirThreeInterfaces) {
  ComPtr<IClassFactory> f = test::factory();
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(f->CreateInstance(nullptr, kIidIUnknown, unknown.put()), kOk);
  ComPtr<IDispatch> dispatch;
  ComPtr<_cDataGetway> native;
  EXPECT_EQ(unknown->QueryInterface(kIidIDispatch, dispatch.put()), kOk);
  EXPECT_EQ(unknown->QueryInterface(kIid_cDataGetway, native.put()), kOk);
  EXPECT_EQ(static_cast<void*>(dispatch.get()), static_cast<void*>(native.get()));
  ComPtr<IUnknown> none;
  EXPECT_EQ(unknown->QueryInterface(kIidIClassFactory, none.put()), kNoInterface);
  EXPECT_FALSE(none);
}

TEST(ClassFactory, RefusesAggregationAndUnknownInterfaces) {
  ComPtr<IClassFactory> f = test::factory();
  ComPtr<_cDataGetway> outer = test::newGateway();
  ComPtr<IUnknown> out;
  EXPECT_EQ(f->CreateInstance(outer.get(), kIidIUnknown, out.put()), kNoAggregation);
  EXPECT_EQ(f->CreateInstance(nullptr, kIidIClassFactory, out.put()), kNoInterface);
  EXPECT_FALSE(out);
}

TEST(Unloading, OnlyWhenNoObjectNoFactoryAndNoLockIsAlive) {
  ASSERT_EQ(DllCanUnloadNow(), kOk);
  {
    ComPtr<IClassFactory> f = test::factory();
    EXPECT_EQ(DllCanUnloadNow(), kSFalse);
    ComPtr<_cDataGetway> g;
    ASSERT_EQ(f->CreateInstance(nullptr, kIid_cDataGetway, g.put()), kOk);
    EXPECT_EQ(f->LockServer(true), kOk);
    f.reset();
    EXPECT_EQ(DllCanUnloadNow(), kSFalse);  // object and lock
    g.reset();
    EXPECT_EQ(liveObjectCount(), 0);
    EXPECT_EQ(DllCanUnloadNow(), kSFalse);  // the lock alone
    ComPtr<IClassFactory> f2 = test::factory();
    EXPECT_EQ(f2->LockServer(false), kOk);
  }
  EXPECT_EQ(serverLockCount(), 0);
  EXPECT_EQ(DllCanUnloadNow(), kOk);
}

TEST(Unloading, ACopiedReferenceKeepsTheObject) {
  ComPtr<_cDataGetway> g = test::newGateway();
  ComPtr<_cDataGetway> copy = g;
  g.reset();
  EXPECT_EQ(liveObjectCount(), 1);
  std::string name;
  EXPECT_EQ(copy->GetFldType(202, &name), kOk);
  copy.reset();
  EXPECT_EQ(liveObjectCount(), 0);
}

TEST(EntryPoint, DoesNothingAndSucceeds) { EXPECT_EQ(DllMain(nullptr, 1, nullptr), 1); }

}  // namespace
}  // namespace ovt
