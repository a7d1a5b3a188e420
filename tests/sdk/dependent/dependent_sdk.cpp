// Makes the test checker SDK need its dependency the moment it is loaded:
// the system must find the imported library before any code of the SDK runs.
#include <cstdlib>

#include "tests/sdk/dependent/sdk_dependency.h"

namespace {

// A loaded SDK whose import resolved to something else would be no proof.
struct DependencyCheck {
  DependencyCheck() {
    if (kespSdkDependencyAnswer() != kSdkDependencyAnswer) std::abort();
  }
} dependencyCheck;

}  // namespace
