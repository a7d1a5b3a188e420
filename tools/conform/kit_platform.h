// What fpcsdk-conform needs of the platform: running a clause in a child
// process of its own, telling how a process ended, counting the process's
// threads. kit_platform_posix.cpp and kit_platform_win32.cpp hold the calls;
// everything else in the kit is written once.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace conform {

struct ChildEnd {
  enum Kind {
    Exited,    // code is the exit code
    Crashed,   // code is the signal (POSIX) or the exception code (Windows)
    TimedOut,  // killed at the time-out
    NotStarted,
  };
  Kind kind = NotStarted;
  unsigned long code = 0;
  std::string whyNotStarted;
};

// Starts this program again with arguments (UTF-8), its standard output and
// error written to the two files and its standard input empty, and waits
// for it at most timeout; at the time-out it is killed (with any process it
// started, on POSIX) and waited for.
ChildEnd runThisProgram(const std::vector<std::string>& arguments,
                        std::chrono::milliseconds timeout, const std::filesystem::path& out,
                        const std::filesystem::path& err);

// "signal 11 (SIGSEGV)", "exception 0xC0000005 (access violation)".
std::string describeCrash(unsigned long code);

// The threads of this process now.
std::size_t threadCount();

}  // namespace conform
