// Creating cDataGetway objects in process through the component's own class factory.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "ovtbldiff/component.h"

namespace ovt::test {

inline com::ComPtr<com::IClassFactory> factory() {
  com::ComPtr<com::IClassFactory> f;
  EXPECT_EQ(DllGetClassObject(&com::kClsidcDataGetway, &com::kIidIClassFactory, f.put()), com::kOk);
  return f;
}

inline com::ComPtr<com::_cDataGetway> newGateway() {
  com::ComPtr<com::_cDataGetway> g;
  EXPECT_EQ(factory()->CreateInstance(nullptr, com::kIid_cDataGetway, g.put()), com::kOk);
  return g;
}

inline void inThread(const std::function<void()>& f) {
  std::thread t(f);
  t.join();
}

}  // namespace ovt::test
