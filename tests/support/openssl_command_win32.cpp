#include "tests/support/openssl_command.h"
#include "tests/support/unix_program.h"

namespace kesp::test {

int runOpenssl(const std::vector<std::string>& arguments, const std::string& log) {
  return runUnixProgram("/usr/bin/openssl", arguments, log);
}

}  // namespace kesp::test
