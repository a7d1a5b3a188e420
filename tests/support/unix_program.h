// Programs of the machine's Linux side (fpcloud, openssl, tinyproxy) started
// by the Windows test programs under Wine. Wine's CreateProcess starts a
// Linux program given by its Unix path, but gives back no usable process
// handle and no exit code, and a pipe as its standard output breaks; a file
// as its standard output works. So: output to files, an exit status through
// a shell that writes it to a file, and stops by a stop file or kill(1).
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace kesp::test {

// The Unix path of a Windows path (Wine's own mapping), and back.
std::string unixPathOf(const std::string& windowsPath);
std::string windowsPathOf(const std::string& unixPath);

// Starts the Linux program with the arguments, its standard output into
// outputFile (a Windows path, created anew); its standard error stays the
// test's own, as Wine does not hand over the one given. An argument that is an
// absolute Windows path (X:\...) is passed as its Unix path. Throws
// std::runtime_error when it cannot start.
void startUnixProgram(const std::string& unixProgram, const std::vector<std::string>& arguments,
                      const std::string& outputFile);

// Runs the Linux program to its end, at most timeout, its standard output and
// error into outputFile; returns its exit status, or -1 when it did not end in time.
int runUnixProgram(const std::string& unixProgram, const std::vector<std::string>& arguments,
                   const std::string& outputFile,
                   std::chrono::milliseconds timeout = std::chrono::seconds(20));

}  // namespace kesp::test
