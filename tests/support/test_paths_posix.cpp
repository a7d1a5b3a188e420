#include <unistd.h>

#include <filesystem>

#include "tests/support/test_paths.h"

namespace kesp::test {

std::string executableDirectory() {
  return utf8(std::filesystem::read_symlink("/proc/self/exe").parent_path());
}

std::string fpcloudProgram() { return executableDirectory() + "/fpcloud"; }

}  // namespace kesp::test
