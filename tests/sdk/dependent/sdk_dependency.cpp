#include "tests/sdk/dependent/sdk_dependency.h"

extern "C" int kespSdkDependencyAnswer() { return kSdkDependencyAnswer; }
