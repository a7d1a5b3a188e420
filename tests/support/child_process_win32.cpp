// Windows only: CreateProcessW with the null device, files or pipes as the
// child's standard streams; under Wine also the Linux side's programs.
//
// Wine's CreateProcess starts a Linux program given by its Unix path, but
// gives back no usable process handle and no exit code, hands over a given
// standard output but not standard error, and breaks a pipe. So a Linux
// program runs under /bin/sh, which sets up its streams as files, writes its
// process id to a file, waits for it and writes its exit status to another
// file: the program has ended once that file is there, and is signalled by
// kill(1). The shell is the program's parent and reaps it, so an ended
// program leaves no zombie behind.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "foundation/unique_resource.h"
#include "tests/support/child_process.h"
#include "tests/support/test_paths.h"
#include "tests/support/win32_text.h"

namespace kesp::test {
namespace {

using namespace std::chrono_literals;

struct HandleTraits {
  using Handle = HANDLE;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle handle) noexcept { ::CloseHandle(handle); }
};
using Handle = plx::UniqueResource<HandleTraits>;

// --- programs of this build -----------------------------------------------------

Handle openInheritable(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE handle = ::CreateFileW(wide(path).c_str(), access,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      &inherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + path);
  return Handle(handle);
}

// A pipe whose one end the child inherits: {the child's end, the test's}.
std::pair<Handle, Handle> makePipe(bool childReads) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  if (!::CreatePipe(&read, &write, &inherit, 1 << 16)) throw std::runtime_error("no pipe");
  Handle readEnd(read);
  Handle writeEnd(write);
  ::SetHandleInformation(childReads ? write : read, HANDLE_FLAG_INHERIT, 0);
  return childReads ? std::pair{std::move(readEnd), std::move(writeEnd)}
                    : std::pair{std::move(writeEnd), std::move(readEnd)};
}

class WindowsChild final : public ChildProcess::System {
 public:
  explicit WindowsChild(const ChildSetup& setup) {
    Handle childInput = childEnd(setup.input, true);
    Handle childOutput = childEnd(setup.output, false);
    Handle childError;
    if (setup.error.kind != ChildStream::Kind::Output) childError = childEnd(setup.error, false);
    std::wstring commandLine = quoted(wide(setup.program));
    for (const std::string& argument : setup.arguments) commandLine += L" " + quoted(wide(argument));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput.get();
    startup.hStdOutput = childOutput.get();
    startup.hStdError = childError ? childError.get() : childOutput.get();
    const std::wstring directory = wide(setup.workingDirectory);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                          directory.empty() ? nullptr : directory.c_str(), &startup, &started)) {
      throw std::runtime_error("cannot start " + setup.program);
    }
    ::CloseHandle(started.hThread);
    process_.reset(started.hProcess);
  }

  ~WindowsChild() override {
    input_.reset();
    output_.reset();
    if (!exitCode()) {
      ::TerminateProcess(process_.get(), 128 + kKill);
      ::WaitForSingleObject(process_.get(), INFINITE);
    }
  }

  bool write(std::string_view text) override {
    DWORD written = 0;
    return ::WriteFile(input_.get(), text.data(), static_cast<DWORD>(text.size()), &written,
                       nullptr) &&
           written == text.size();
  }

  void closeInput() override { input_.reset(); }

  // An anonymous pipe cannot be waited on: it is peeked at until something
  // is there.
  bool read(std::string& text, std::chrono::milliseconds timeout) override {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      DWORD available = 0;
      if (!output_ || !::PeekNamedPipe(output_.get(), nullptr, 0, nullptr, &available, nullptr))
        return false;
      if (available > 0) {
        std::string bytes(available, '\0');
        DWORD count = 0;
        if (!::ReadFile(output_.get(), bytes.data(), available, &count, nullptr)) return false;
        text.append(bytes, 0, count);
        return true;
      }
      if (std::chrono::steady_clock::now() >= deadline) return true;
      std::this_thread::sleep_for(2ms);
    }
  }

  void closeOutput() override { output_.reset(); }

  void signal(int number) override {
    if (number != kTerminate && number != kKill) throw std::logic_error("no signals on Windows");
    if (!exitCode()) ::TerminateProcess(process_.get(), static_cast<UINT>(128 + number));
  }

  std::optional<int> exitCode() override {
    DWORD code = 0;
    if (::WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(process_.get(), &code))
      return std::nullopt;
    return static_cast<int>(code);
  }

 private:
  // The handle the child gets for a stream; a pipe's other end stays here.
  Handle childEnd(const ChildStream& stream, bool isInput) {
    switch (stream.kind) {
      case ChildStream::Kind::Null:
        return openInheritable("NUL", isInput ? GENERIC_READ : GENERIC_WRITE, OPEN_EXISTING);
      case ChildStream::Kind::File:
        return openInheritable(stream.path, isInput ? GENERIC_READ : GENERIC_WRITE,
                               isInput ? OPEN_EXISTING : CREATE_ALWAYS);
      case ChildStream::Kind::Pipe: {
        auto [child, test] = makePipe(isInput);
        (isInput ? input_ : output_) = std::move(test);
        return std::move(child);
      }
      case ChildStream::Kind::Terminal:
      case ChildStream::Kind::Output:
        break;
    }
    throw std::logic_error("no such stream for a Windows program");
  }

  Handle process_;
  Handle input_;   // the write end of its standard input
  Handle output_;  // the read end of its standard output
};

// --- programs of the Linux side, under Wine ---------------------------------------

constexpr auto kPidBound = 10s;  // for the shell to start the program
constexpr auto kPoll = 5ms;

// Wine's path mapping, exported by its kernel32; absent on Windows itself.
template <typename Function>
Function wineFunction(const char* name) {
  const auto found = reinterpret_cast<Function>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name)));
  if (found == nullptr)
    throw std::runtime_error(std::string("not under Wine: no ") + name +
                             " (a Linux program needs Wine to reach the Linux side)");
  return found;
}

std::string unixPathOf(const std::string& windowsPath) {
  using Convert = char*(CDECL*)(LPCWSTR);
  static const auto convert = wineFunction<Convert>("wine_get_unix_file_name");
  char* unix = convert(wide(windowsPath).c_str());
  if (unix == nullptr) throw std::runtime_error("no Unix path for " + windowsPath);
  std::string result(unix);
  ::HeapFree(::GetProcessHeap(), 0, unix);
  return result;
}

std::wstring windowsPathOf(const std::string& unixPath) {
  using Convert = WCHAR*(CDECL*)(const char*);
  static const auto convert = wineFunction<Convert>("wine_get_dos_file_name");
  WCHAR* dos = convert(unixPath.c_str());
  if (dos == nullptr) throw std::runtime_error("no Windows path for " + unixPath);
  std::wstring result(dos);
  ::HeapFree(::GetProcessHeap(), 0, dos);
  return result;
}

bool isWindowsPath(const std::string& text) {
  return text.size() > 3 && text[1] == ':' && (text[2] == '\\' || text[2] == '/');
}

// The number a file of the shell holds; none while it has none (the shell
// renames it into place whole).
std::optional<int> numberIn(const std::string& file) {
  std::ifstream in(fromUtf8(file));
  int number = 0;
  if (in >> number) return number;
  return std::nullopt;
}

class LinuxChild final : public ChildProcess::System {
 public:
  explicit LinuxChild(const ChildSetup& setup)
      : pidFile_(scratch_.file("pid")), statusFile_(scratch_.file("status")) {
    const auto streamPath = [](const ChildStream& stream) -> std::string {
      switch (stream.kind) {
        case ChildStream::Kind::Null: return "/dev/null";
        case ChildStream::Kind::File: return unixPathOf(stream.path);
        case ChildStream::Kind::Output: return "";
        case ChildStream::Kind::Pipe:
        case ChildStream::Kind::Terminal: break;
      }
      throw std::logic_error("a Linux program under Wine takes files only");
    };
    // The shell's own output goes to a file of its own: the streams Wine
    // would hand it are the test's, which a shell that outlived the test
    // would hold open.
    std::vector<std::string> arguments{
        "-c",
        "s=$1; p=$2; i=$3; o=$4; e=$5; d=$6; shift 6; exec 2>&1; "
        "if [ -n \"$d\" ]; then cd \"$d\" || exit 127; fi; "
        "if [ -z \"$e\" ]; then \"$@\" <\"$i\" >\"$o\" 2>&1 & else \"$@\" <\"$i\" >\"$o\" 2>\"$e\" & fi; "
        "echo $! > \"$p.part\" && mv \"$p.part\" \"$p\"; "
        "wait $!; echo $? > \"$s.part\" && mv \"$s.part\" \"$s\"",
        "sh", unixPathOf(statusFile_), unixPathOf(pidFile_), streamPath(setup.input),
        streamPath(setup.output), streamPath(setup.error),
        setup.workingDirectory.empty() ? "" : unixPathOf(setup.workingDirectory), setup.program};
    for (const std::string& argument : setup.arguments)
      arguments.push_back(isWindowsPath(argument) ? unixPathOf(argument) : argument);
    startShell(arguments, scratch_.file("shell.out"));
    const auto deadline = std::chrono::steady_clock::now() + kPidBound;
    while (!(pid_ = numberIn(pidFile_))) {
      if (std::chrono::steady_clock::now() > deadline)
        throw std::runtime_error("cannot start " + setup.program + " under Wine");
      std::this_thread::sleep_for(kPoll);
    }
  }

  bool write(std::string_view) override { throw std::logic_error("no pipe to a Linux program"); }
  void closeInput() override {}
  bool read(std::string&, std::chrono::milliseconds) override {
    throw std::logic_error("no pipe from a Linux program");
  }
  void closeOutput() override {}

  void signal(int number) override {
    if (exitCode()) return;
    // kill(1) runs like any other Linux program; it ends in moments.
    TempDir control;
    const std::string status = control.file("status");
    startShell({"-c", "s=$1; shift; exec 2>&1; \"$@\"; echo $? > \"$s.part\" && mv \"$s.part\" \"$s\"",
                "sh", unixPathOf(status), "/bin/kill", "-" + std::to_string(number),
                std::to_string(*pid_)},
               control.file("kill.out"));
    const auto deadline = std::chrono::steady_clock::now() + kPidBound;
    while (!numberIn(status) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(kPoll);
  }

  std::optional<int> exitCode() override {
    if (!exitCode_) exitCode_ = numberIn(statusFile_);
    return exitCode_;
  }

 private:
  // Starts /bin/sh with the arguments, its standard output into outputFile.
  static void startShell(const std::vector<std::string>& arguments, const std::string& outputFile) {
    const std::wstring shell = windowsPathOf("/bin/sh");
    std::wstring commandLine = quoted(shell);
    for (const std::string& argument : arguments) commandLine += L" " + quoted(wide(argument));
    const Handle output = openInheritable(outputFile, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(shell.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                          nullptr, &startup, &started))
      throw std::runtime_error("cannot start /bin/sh under Wine (error " +
                               std::to_string(::GetLastError()) + ")");
    // Under Wine the handles of a Linux program are null or unusable; close
    // what there is.
    if (started.hThread != nullptr) ::CloseHandle(started.hThread);
    if (started.hProcess != nullptr) ::CloseHandle(started.hProcess);
  }

  TempDir scratch_;
  std::string pidFile_;
  std::string statusFile_;
  std::optional<int> pid_;
  std::optional<int> exitCode_;
};

}  // namespace

std::unique_ptr<ChildProcess::System> startChild(const ChildSetup& setup) {
  if (setup.linuxProgram) return std::make_unique<LinuxChild>(setup);
  return std::make_unique<WindowsChild>(setup);
}

std::string programFileName(const std::string& name) { return name + ".exe"; }

bool canGiveTerminal() { return false; }

std::string linuxPathOf(const std::string& path) { return unixPathOf(path); }

}  // namespace kesp::test
