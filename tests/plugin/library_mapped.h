// Whether the system still has a library mapped into this process, asked
// without loading it.
#pragma once

#include <string>

namespace kesp::test {

// path: the full UTF-8 path the library was loaded from.
bool isLibraryMapped(const std::string& path);

}  // namespace kesp::test
