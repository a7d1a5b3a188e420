// Fault injection at the raw file calls: while a SystemCallFaults lives,
// every call goes through a counting wrapper that can fail the Nth call, and
// the handles that the system opened and closed are counted.
#pragma once

#include <cstddef>

#include "fops/file_system.h"

namespace kesp::test {

enum class SystemCall : std::size_t {
  Access,
  Move,
  Remove,
  Open,
  Read,
  Write,
  SetPointer,
  Size,
  Flush,
  Close,
  None,
};

class SystemCallFaults {
 public:
  // Installs the wrappers over the calls in use.
  SystemCallFaults();
  // Puts the system's own calls back.
  ~SystemCallFaults();
  SystemCallFaults(const SystemCallFaults&) = delete;
  SystemCallFaults& operator=(const SystemCallFaults&) = delete;

  // The table, for a test that replaces single entries on top of the
  // wrappers.
  fops::FileSystemCalls& calls();

  // Call number n (1 = the next one), of whatever kind, fails once without
  // reaching the system. 0 fails nothing. Resets the counts.
  void failNthCall(int n);
  // The kind of the call that was failed, or None.
  SystemCall failedCall() const;
  // Calls of a kind that reached the system since the last reset.
  int callsOf(SystemCall kind) const;
  // Handles that the system opened and did not close.
  int openHandles() const;
};

}  // namespace kesp::test
