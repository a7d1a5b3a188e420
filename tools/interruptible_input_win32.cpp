// Windows only: a console control handler and ReadFile.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "foundation/unique_resource.h"
#include "tools/interruptible_input.h"

namespace fpcheck {

namespace {

struct ThreadTraits {
  using Handle = HANDLE;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle thread) noexcept { ::CloseHandle(thread); }
};

// File-wide because the control handler can reach nothing else.
std::atomic<int> received{0};
std::atomic<bool> stopped{false};
std::atomic<bool> reading{false};
// The reading thread, owned from its first read until the object ends, and
// published for the handler and stop(), which run on other threads.
plx::UniqueResource<ThreadTraits> readerThreadHandle;
std::atomic<HANDLE> readerThread{nullptr};

// A ReadFile on a pipe waits until data or the end comes; only
// CancelSynchronousIo from another thread ends it sooner. The reader may be
// just about to call ReadFile, so this tries for a while. (Wine does not
// cancel such a read: there it ends with the next data or the end.)
void cancelRead() noexcept {
  HANDLE thread = readerThread.load();
  for (int attempt = 0; thread != nullptr && reading.load() && attempt < 50; ++attempt) {
    ::CancelSynchronousIo(thread);
    ::Sleep(1);
  }
}

BOOL WINAPI onControl(DWORD event) {
  const bool isInterrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  int none = 0;
  // A second event goes on to the default handler, which ends the process.
  if (!received.compare_exchange_strong(none, isInterrupt ? kSigInt : kSigTerm)) return FALSE;
  cancelRead();
  // The process ends when this handler returns from a close, log-off or
  // shut-down event: hold it while the batch finishes, whose exit ends the
  // process (the system ends it anyway after its own time-out).
  if (!isInterrupt) ::Sleep(INFINITE);
  return TRUE;
}

}  // namespace

InterruptibleInput::InterruptibleInput() {
  received = 0;
  stopped = false;
  ::SetConsoleCtrlHandler(onControl, TRUE);
}

InterruptibleInput::~InterruptibleInput() {
  ::SetConsoleCtrlHandler(onControl, FALSE);
  readerThread = nullptr;
  readerThreadHandle.reset();
}

std::size_t InterruptibleInput::read(char* buffer, std::size_t size, std::string& error) {
  if (!readerThreadHandle) {
    HANDLE thread = nullptr;
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &thread,
                      0, FALSE, DUPLICATE_SAME_ACCESS);
    readerThreadHandle.reset(thread);
    readerThread = thread;
  }
  reading = true;
  // After reading is set: a stop() from now on sees it and cancels.
  if (stopped || received != 0) {
    reading = false;
    return 0;
  }
  DWORD count = 0;
  const BOOL done =
      ::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer,
                 static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30)), &count, nullptr);
  const DWORD code = done ? ERROR_SUCCESS : ::GetLastError();
  reading = false;
  if (done) return count;
  switch (code) {
    case ERROR_BROKEN_PIPE:         // the writer closed the pipe
    case ERROR_HANDLE_EOF:
    case ERROR_OPERATION_ABORTED:   // cancelled
    case ERROR_INVALID_HANDLE:      // no standard input at all
      return 0;
    default:
      error = "error " + std::to_string(code);
      return 0;
  }
}

void InterruptibleInput::stop() noexcept {
  stopped = true;
  cancelRead();
}

int InterruptibleInput::interrupt() const noexcept { return received; }

}  // namespace fpcheck
