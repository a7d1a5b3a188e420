#include "tests/support/openssl_command.h"

#include "tests/support/child_process.h"

namespace kesp::test {

int runOpenssl(const std::vector<std::string>& arguments, const std::string& log) {
  ChildProcess openssl({.program = "openssl",
                        .arguments = arguments,
                        .output = ChildStream::file(log),
                        .error = ChildStream::output(),
                        .linuxProgram = true});
  return openssl.wait(std::chrono::seconds(20)).value_or(-1);
}

}  // namespace kesp::test
