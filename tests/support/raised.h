// The error record a call raises, for tests that check number, source and description.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "ovtbldiff/runtime/error.h"

namespace ovt::test {

// The ComError `f` raises; fails the test when nothing is raised.
inline ComError raisedBy(const std::function<void()>& f) {
  try {
    f();
  } catch (const ComError& e) {
    return e;
  }
  ADD_FAILURE() << "nothing was raised";
  return ComError(0, "", "");
}

}  // namespace ovt::test
