// Base directories for the reference checker SDK: the one the build makes,
// and scratch copies of the library with rules files of a test's own.
#pragma once

#include <optional>
#include <string>

#include "tests/support/test_paths.h"

namespace kesp::test {

// bin/reference-sdk, with the example rules.
std::string builtReferenceSdkDirectory();
// The library's full path in a base directory.
std::string referenceSdkLibrary(const std::string& directory);

// A fresh directory holding a copy of the reference SDK library and, unless
// rules is empty, a rules file with that text.
class ReferenceSdkCopy {
 public:
  explicit ReferenceSdkCopy(const std::optional<std::string>& rules);

  std::string directory() const { return scratch_.utf8Path(); }
  std::string library() const { return referenceSdkLibrary(directory()); }
  std::string rulesFile() const { return scratch_.file("vfpcsdk.rules"); }
  // A file in the directory, e.g. for a certificate path.
  std::string file(const std::string& name) const { return scratch_.file(name); }

 private:
  TempDir scratch_;
};

}  // namespace kesp::test
