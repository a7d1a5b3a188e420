#include "tests/tools/reference_sdk_directory.h"

#include <filesystem>
#include <fstream>

#include "foundation/dynamic_library.h"

namespace kesp::test {

std::string builtReferenceSdkDirectory() {
  return plx::joinPath({executableDirectory(), "reference-sdk"});
}

std::string referenceSdkLibrary(const std::string& directory) {
  return plx::joinPath({directory, plx::sharedLibraryFileName("vfpcsdk")});
}

ReferenceSdkCopy::ReferenceSdkCopy(const std::optional<std::string>& rules) {
  std::filesystem::copy_file(fromUtf8(referenceSdkLibrary(builtReferenceSdkDirectory())),
                             fromUtf8(library()));
  if (rules) {
    std::ofstream file(fromUtf8(rulesFile()), std::ios::binary);
    file << *rules;
  }
}

}  // namespace kesp::test
