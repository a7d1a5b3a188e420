// How the system reports an SDK library whose import it cannot find, named
// once for each platform.
#pragma once

#include <string>

namespace kesp::test {

// The end of the library-loading message when the import fileName is
// missing: the system error code on Windows, the dlerror() text elsewhere.
std::string missingImportReason(const std::string& fileName);

}  // namespace kesp::test
