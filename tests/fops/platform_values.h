// What the system under the tests does differently, named once.
#pragma once

#include <string>

namespace kesp::test {

// Windows refuses to move a file pointer past 4 GiB when no high part is
// given, and leaves it where it was. Wine moves it and returns the low 32
// bits, so the checks of that limit cannot hold there.
bool systemKeepsPointerBelow4GiB();

// Makes a named pipe (FIFO) at path; false where the file system has none
// (Windows).
bool makeNamedPipe(const std::string& path);

}  // namespace kesp::test
