// Windows only: CreateProcessW in a job object, Toolhelp.
#include <windows.h>

#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>

#include "foundation/unique_resource.h"
#include "foundation/utf_convert.h"
#include "tools/conform/kit_platform.h"

namespace conform {

namespace {

struct HandleTraits {
  using Handle = HANDLE;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle handle) noexcept { ::CloseHandle(handle); }
};
using UniqueHandle = plx::UniqueResource<HandleTraits>;

std::wstring wide(const std::string& text) {
  const plx::Utf16String units = plx::utf8ToUtf16(text);
  return std::wstring(units.begin(), units.end());
}

// One argument as CommandLineToArgvW reads it back: quoted when it must be,
// with the backslashes before a quote (or before the closing one) doubled.
void appendQuoted(std::wstring& line, const std::wstring& argument) {
  if (!line.empty()) line += L' ';
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

UniqueHandle inheritableFile(const std::wstring& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE file = ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return UniqueHandle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

ChildEnd notStarted(const char* call) {
  ChildEnd end;
  end.whyNotStarted = std::string(call) + " failed with error " + std::to_string(::GetLastError());
  return end;
}

}  // namespace

ChildEnd runThisProgram(const std::vector<std::string>& arguments,
                        std::chrono::milliseconds timeout, const std::filesystem::path& out,
                        const std::filesystem::path& err) {
  std::wstring self(32768, L'\0');
  self.resize(::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
  std::wstring line;
  appendQuoted(line, self);
  for (const std::string& argument : arguments) appendQuoted(line, wide(argument));

  UniqueHandle input = inheritableFile(L"NUL", GENERIC_READ, OPEN_EXISTING);
  UniqueHandle output = inheritableFile(out.wstring(), GENERIC_WRITE, CREATE_ALWAYS);
  UniqueHandle error = inheritableFile(err.wstring(), GENERIC_WRITE, CREATE_ALWAYS);
  if (!input || !output || !error) return notStarted("CreateFileW");

  // Closing the job ends the child and whatever it started, on every path.
  UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));
  if (!job) return notStarted("CreateJobObjectW");
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  ::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.get();
  startup.hStdOutput = output.get();
  startup.hStdError = error.get();
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(self.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &process)) {
    return notStarted("CreateProcessW");
  }
  UniqueHandle processHandle(process.hProcess);
  UniqueHandle threadHandle(process.hThread);
  ::AssignProcessToJobObject(job.get(), processHandle.get());
  ::ResumeThread(threadHandle.get());

  ChildEnd end;
  const auto milliseconds = static_cast<DWORD>(timeout.count());
  if (::WaitForSingleObject(processHandle.get(), milliseconds) != WAIT_OBJECT_0) {
    ::TerminateJobObject(job.get(), 1);
    ::WaitForSingleObject(processHandle.get(), INFINITE);
    end.kind = ChildEnd::TimedOut;
    return end;
  }
  DWORD code = 0;
  ::GetExitCodeProcess(processHandle.get(), &code);
  // An unhandled exception ends a process with its code, an NTSTATUS of
  // severity error (0xC...).
  end.kind = (code & 0xF0000000u) == 0xC0000000u ? ChildEnd::Crashed : ChildEnd::Exited;
  end.code = code;
  return end;
}

void crashQuietly() {
  ::SetErrorMode(::GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  // The process ends with the exception's code as its exit code.
  ::SetUnhandledExceptionFilter([](EXCEPTION_POINTERS*) -> LONG { return EXCEPTION_EXECUTE_HANDLER; });
}

std::string describeCrash(unsigned long code) {
  struct Known {
    unsigned long code;
    const char* name;
  };
  static constexpr Known kKnown[] = {
      {0xC0000005, "access violation"},      {0xC00000FD, "stack overflow"},
      {0xC000001D, "illegal instruction"},   {0xC0000094, "integer division by zero"},
      {0xC0000409, "stack buffer overrun"},  {0xC0000374, "heap corruption"},
      {0xC0000096, "privileged instruction"}, {0xC0000135, "a DLL was not found"},
  };
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08lX", code);
  std::string text = std::string("exception ") + hex;
  for (const Known& known : kKnown) {
    if (known.code == code) return text + " (" + known.name + ")";
  }
  return text;
}

std::vector<ThreadSeen> threadsNow() {
  std::vector<ThreadSeen> threads;
  HANDLE taken = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (taken == INVALID_HANDLE_VALUE) return threads;
  UniqueHandle snapshot(taken);
  const DWORD self = ::GetCurrentProcessId();
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Thread32First(snapshot.get(), &entry); more;
       more = ::Thread32Next(snapshot.get(), &entry)) {
    if (entry.th32OwnerProcessID != self) continue;
    ThreadSeen thread;
    thread.id = entry.th32ThreadID;
    // Where it started: the module that holds its start address.
    UniqueHandle handle(::OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID));
    void* start = nullptr;
    HMODULE module = nullptr;
    wchar_t name[MAX_PATH] = {};
    if (handle &&
        ::NtQueryInformationThread(handle.get(), ThreadQuerySetWin32StartAddress, &start,
                                   sizeof start, nullptr) == 0 &&
        ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                 GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             static_cast<LPCWSTR>(start), &module) &&
        ::GetModuleFileNameW(module, name, MAX_PATH) != 0) {
      const std::wstring file = std::filesystem::path(name).filename().wstring();
      thread.origin = std::string(file.begin(), file.end());
      thread.systemWorker = ::lstrcmpiW(file.c_str(), L"ntdll.dll") == 0;
    }
    threads.push_back(thread);
  }
  return threads;
}

}  // namespace conform
