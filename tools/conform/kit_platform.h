// What fpcsdk-conform needs of the platform: running a clause in a child
// process of its own, telling how a process ended, counting the process's
// threads. kit_platform_posix.cpp and kit_platform_win32.cpp hold the calls;
// everything else in the kit is written once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
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

// A crash of this process, or of a child it starts after this, ends it at
// once: no error dialog, no debugger (Windows and Wine would start one).
void crashQuietly();

// "signal 11 (SIGSEGV)", "exception 0xC0000005 (access violation)".
std::string describeCrash(unsigned long code);

// One thread of this process: its id and where it comes from (Linux: its
// name; Windows: the module that holds its start address).
struct ThreadSeen {
  std::uint64_t id = 0;
  std::string origin;
  // A worker the system keeps for the process (Windows: a thread-pool or
  // loader thread, started in ntdll.dll), not a thread of any library's.
  bool systemWorker = false;
};
std::vector<ThreadSeen> threadsNow();

}  // namespace conform
