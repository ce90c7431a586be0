// Test entry point: the user's own configuration, registry, language and statement trace must
// not reach the tests, whatever the shell that runs them has set. Programs the tests start (the
// command-line tool) inherit the same settings.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/environment.h"

namespace ovt::testing {

void useTestEnvironment() {
  setenv("OVT_CONFIG", OVT_BINARY_DIR "/test-config/none.ini", 1);
  setenv("OVT_REGISTRY", OVT_BINARY_DIR "/test-config/registry.ini", 1);
  setenv("OVT_SYSTEM_REGISTRY", "", 1);  // no registry installed with the libraries
  unsetenv("OVT_LANGUAGE");
  unsetenv("OVDB_TRACE");
}

}  // namespace ovt::testing

int main(int argc, char** argv) {
  ovt::testing::useTestEnvironment();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
