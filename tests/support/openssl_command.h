// The openssl command of the machine, for the test certificates: POSIX runs
// it from PATH; the Windows tests under Wine run the Linux /usr/bin/openssl.
#pragma once

#include <string>
#include <vector>

namespace kesp::test {

// Runs openssl with the arguments (paths are the test's own), its standard
// output and error into the file log; returns its exit status (-1: it did
// not run or end).
int runOpenssl(const std::vector<std::string>& arguments, const std::string& log);

}  // namespace kesp::test
