#include "tests/plugin/sdk_import_values.h"

namespace kesp::test {

// ERROR_MOD_NOT_FOUND, whichever module of the chain is missing.
std::string missingImportReason(const std::string&) { return ". System error code: 126"; }

}  // namespace kesp::test
