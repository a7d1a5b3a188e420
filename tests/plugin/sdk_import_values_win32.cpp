#include "tests/plugin/sdk_import_values.h"

namespace kesp::test {

// ERROR_MOD_NOT_FOUND, whichever module of the chain is missing, with the
// system's words for it (Wine's, where the tests run).
std::string missingImportReason(const std::string&) {
  return ". System error code: 126 (Module not found.)";
}

}  // namespace kesp::test
