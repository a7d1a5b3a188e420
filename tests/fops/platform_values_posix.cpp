#include "tests/fops/platform_values.h"

#include <sys/stat.h>

namespace kesp::test {

// The POSIX file calls check the limit themselves.
bool systemKeepsPointerBelow4GiB() { return true; }

bool makeNamedPipe(const std::string& path) { return ::mkfifo(path.c_str(), 0600) == 0; }

}  // namespace kesp::test
