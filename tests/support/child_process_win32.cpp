// Windows only: CreateProcessW with the null device, files or pipes as the
// child's standard streams; under Wine also the Linux side's programs.
//
// Wine's CreateProcess starts a Linux program given by its Unix path, but
// gives back no usable process handle and no exit code, hands over a given
// standard output but not standard error, and breaks a pipe. So a Linux
// program runs under /bin/sh, which sets up its streams as files, writes its
// process id to a file, waits for it and writes its exit status to another
// file: the program has ended once that file is there, and is signalled by
// kill(1), itself such a program. The shell is the program's parent and reaps
// it, so an ended program leaves no zombie behind.
#include <windows.h>

#include <array>
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

constexpr auto kPoll = 5ms;
constexpr auto kShellBound = 10s;  // for the shell to start the program, or kill(1) to end

struct HandleTraits {
  using Handle = HANDLE;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle handle) noexcept { ::CloseHandle(handle); }
};
using Handle = plx::UniqueResource<HandleTraits>;

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
  HANDLE ends[2] = {};  // read, write
  if (!::CreatePipe(&ends[0], &ends[1], &inherit, 1 << 16)) throw std::runtime_error("no pipe");
  ::SetHandleInformation(ends[childReads ? 1 : 0], HANDLE_FLAG_INHERIT, 0);
  return {Handle(ends[childReads ? 0 : 1]), Handle(ends[childReads ? 1 : 0])};
}

// Starts program (looked up as CreateProcessW does, or the executable at
// application when given) with the standard handles {input, output, error};
// its process handle, null for a Linux program under Wine.
Handle spawn(const std::string& program, const std::wstring& application,
             const std::vector<std::string>& arguments, std::array<HANDLE, 3> streams,
             const std::string& workingDirectory) {
  std::wstring commandLine = quoted(application.empty() ? wide(program) : application);
  for (const std::string& argument : arguments) commandLine += L" " + quoted(wide(argument));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = streams[0];
  startup.hStdOutput = streams[1];
  startup.hStdError = streams[2];
  const std::wstring directory = wide(workingDirectory);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(application.empty() ? nullptr : application.c_str(), commandLine.data(),
                        nullptr, nullptr, TRUE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &started))
    throw std::runtime_error("cannot start " + program + " (error " +
                             std::to_string(::GetLastError()) + ")");
  // Under Wine the handles of a Linux program are null or unusable.
  if (started.hThread != nullptr) ::CloseHandle(started.hThread);
  return Handle(started.hProcess);
}

// --- programs of this build -----------------------------------------------------

class WindowsChild final : public ChildProcess::System {
 public:
  explicit WindowsChild(const ChildSetup& setup) {
    const Handle input = childEnd(setup.input, true);
    const Handle output = childEnd(setup.output, false);
    const Handle error =
        setup.error.kind == ChildStream::Kind::Output ? Handle() : childEnd(setup.error, false);
    process_ = spawn(setup.program, L"", setup.arguments,
                     {input.get(), output.get(), error ? error.get() : output.get()},
                     setup.workingDirectory);
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
    for (DWORD available = 0;; std::this_thread::sleep_for(kPoll)) {
      if (!output_ || !::PeekNamedPipe(output_.get(), nullptr, 0, nullptr, &available, nullptr))
        return false;
      if (available == 0 && std::chrono::steady_clock::now() >= deadline) return true;
      if (available == 0) continue;
      std::string bytes(available, '\0');
      DWORD count = 0;
      if (!::ReadFile(output_.get(), bytes.data(), available, &count, nullptr)) return false;
      text.append(bytes, 0, count);
      return true;
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
    if (stream.kind == ChildStream::Kind::Pipe) {
      auto [child, test] = makePipe(isInput);
      (isInput ? input_ : output_) = std::move(test);
      return std::move(child);
    }
    const bool null = stream.kind == ChildStream::Kind::Null;
    if (!null && stream.kind != ChildStream::Kind::File)
      throw std::logic_error("no such stream for a Windows program");
    return openInheritable(null ? "NUL" : stream.path, isInput ? GENERIC_READ : GENERIC_WRITE,
                           isInput || null ? OPEN_EXISTING : CREATE_ALWAYS);
  }

  Handle process_;
  Handle input_;   // the write end of its standard input
  Handle output_;  // the read end of its standard output
};

// --- programs of the Linux side, under Wine ---------------------------------------

// A path through Wine's mapping (wine_get_unix_file_name or
// wine_get_dos_file_name, exported by its kernel32; absent on Windows itself).
template <typename To, typename From>
std::basic_string<To> winePath(const char* function, const From* path, const std::string& shown) {
  using Convert = To*(CDECL*)(const From*);
  const auto convert = reinterpret_cast<Convert>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), function)));
  if (convert == nullptr)
    throw std::runtime_error(std::string("not under Wine: no ") + function +
                             " (a Linux program needs Wine to reach the Linux side)");
  To* converted = convert(path);
  if (converted == nullptr)
    throw std::runtime_error(std::string(function) + " failed for " + shown);
  std::basic_string<To> result(converted);
  ::HeapFree(::GetProcessHeap(), 0, converted);
  return result;
}

std::string unixPathOf(const std::string& path) {
  return winePath<char>("wine_get_unix_file_name", wide(path).c_str(), path);
}

bool isWindowsPath(const std::string& text) {
  return text.size() > 3 && text[1] == ':' && (text[2] == '\\' || text[2] == '/');
}

// The number a file of the shell holds, waiting for it up to bound; none
// while it has none (the shell renames it into place whole).
std::optional<int> numberIn(const std::string& file, std::chrono::milliseconds bound = 0ms) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (;;) {
    std::ifstream in(fromUtf8(file));
    if (int number = 0; in >> number) return number;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(kPoll);
  }
}

class LinuxChild final : public ChildProcess::System {
 public:
  explicit LinuxChild(const ChildSetup& setup) : statusFile_(scratch_.file("status")) {
    const std::string pidFile = scratch_.file("pid");
    const auto streamPath = [](const ChildStream& stream) -> std::string {
      if (stream.kind == ChildStream::Kind::Pipe || stream.kind == ChildStream::Kind::Terminal)
        throw std::logic_error("a Linux program under Wine takes files only");
      if (stream.kind == ChildStream::Kind::File) return unixPathOf(stream.path);
      // Empty: where the output goes.
      return stream.kind == ChildStream::Kind::Null ? "/dev/null" : "";
    };
    std::vector<std::string> arguments{
        "-c",
        "s=$1; p=$2; i=$3; o=$4; e=$5; d=$6; shift 6; exec 2>&1; "
        "if [ -n \"$d\" ]; then cd \"$d\" || exit 127; fi; "
        "if [ -z \"$e\" ]; then \"$@\" <\"$i\" >\"$o\" 2>&1 & else \"$@\" <\"$i\" >\"$o\" 2>\"$e\" & fi; "
        "echo $! > \"$p.part\" && mv \"$p.part\" \"$p\"; "
        "wait $!; echo $? > \"$s.part\" && mv \"$s.part\" \"$s\"",
        "sh", unixPathOf(statusFile_), unixPathOf(pidFile), streamPath(setup.input),
        streamPath(setup.output), streamPath(setup.error),
        setup.workingDirectory.empty() ? "" : unixPathOf(setup.workingDirectory), setup.program};
    for (const std::string& argument : setup.arguments)
      arguments.push_back(isWindowsPath(argument) ? unixPathOf(argument) : argument);
    // The shell's own output goes to a file of its own: the streams Wine
    // would hand it are the test's, which a shell that outlived the test
    // would hold open.
    const Handle shellOutput =
        openInheritable(scratch_.file("shell.out"), GENERIC_WRITE, CREATE_ALWAYS);
    spawn("/bin/sh", winePath<WCHAR>("wine_get_dos_file_name", "/bin/sh", "/bin/sh"), arguments,
          {::GetStdHandle(STD_INPUT_HANDLE), shellOutput.get(), shellOutput.get()}, "");
    pid_ = numberIn(pidFile, kShellBound);
    if (!pid_) throw std::runtime_error("cannot start " + setup.program + " under Wine");
  }

  void signal(int number) override {
    if (exitCode()) return;
    LinuxChild kill({.program = "/bin/kill",
                     .arguments = {"-" + std::to_string(number), std::to_string(*pid_)}});
    numberIn(kill.statusFile_, kShellBound);
  }

  std::optional<int> exitCode() override {
    if (!exitCode_) exitCode_ = numberIn(statusFile_);
    return exitCode_;
  }

 private:
  TempDir scratch_;
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
