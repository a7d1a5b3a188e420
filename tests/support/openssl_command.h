// The openssl command of the machine, for the test certificates (the Linux
// side's, for the Windows tests under Wine).
#pragma once

#include <string>
#include <vector>

namespace kesp::test {

// Runs openssl with the arguments (paths are the test's own), its standard
// output and error into the file log; returns its exit status (-1: it did
// not end in time). Throws std::runtime_error when it cannot start.
int runOpenssl(const std::vector<std::string>& arguments, const std::string& log);

}  // namespace kesp::test
