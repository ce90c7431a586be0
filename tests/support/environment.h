#pragma once

namespace ovt::testing {

// Sets the environment every test starts from: a configuration file that does not exist, the
// build tree's registry, no language override and no statement trace. Tests that change these
// variables call it again when they are done.
void useTestEnvironment();

}  // namespace ovt::testing
