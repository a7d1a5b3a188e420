// Standard input for a batch, read as it arrives, and the interrupts that end
// the batch early: SIGINT (Ctrl-C) and SIGTERM. The system calls are in
// interruptible_input_posix.cpp and interruptible_input_win32.cpp.
#pragma once

#include <cstddef>
#include <string>

namespace fpcheck {

// An interrupt by the number of the signal it is on POSIX. On Windows,
// Ctrl-C and Ctrl-Break count as SIGINT; closing the console, logging off
// and shutting down as SIGTERM.
inline constexpr int kSigInt = 2;
inline constexpr int kSigTerm = 15;

class InterruptibleInput {
 public:
  // Catches the interrupts until destroyed; only the first is acted on, a
  // second one ends the process the system's way. One object at a time.
  InterruptibleInput();
  ~InterruptibleInput();
  InterruptibleInput(const InterruptibleInput&) = delete;
  InterruptibleInput& operator=(const InterruptibleInput&) = delete;

  // Up to size bytes of standard input, as soon as there are any; 0 at the
  // end of the input, and at once after stop() or an interrupt; 0 with the
  // system's reason in error when the input cannot be read. One thread
  // reads.
  std::size_t read(char* buffer, std::size_t size, std::string& error);

  // Makes a read that waits, and every later one, return 0. From any thread.
  void stop() noexcept;

  // The first interrupt received (kSigInt or kSigTerm), or 0. From any
  // thread, lock-free.
  int interrupt() const noexcept;
};

}  // namespace fpcheck
