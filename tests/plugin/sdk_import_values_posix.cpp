#include "tests/plugin/sdk_import_values.h"

namespace kesp::test {

std::string missingImportReason(const std::string& fileName) {
  return ". " + fileName + ": cannot open shared object file: No such file or directory";
}

}  // namespace kesp::test
