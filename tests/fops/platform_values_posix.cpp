#include "tests/fops/platform_values.h"

namespace kesp::test {

// The POSIX file calls check the limit themselves.
bool systemKeepsPointerBelow4GiB() { return true; }

}  // namespace kesp::test
