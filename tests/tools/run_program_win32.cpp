// Windows only: CreateProcessW with files or pipes as the child's standard
// streams.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <thread>

#include "tests/support/test_paths.h"
#include "tests/support/win32_text.h"
#include "tests/tools/run_program.h"

namespace kesp::test {

namespace {

std::string readAll(const std::string& path) {
  std::ifstream file(std::filesystem::path(wide(path)), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

HANDLE openInheritable(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE handle = ::CreateFileW(wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &inherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + path);
  return handle;
}

std::wstring commandLineOf(const std::string& program, const std::vector<std::string>& arguments) {
  std::wstring commandLine = quoted(wide(program));
  for (const std::string& argument : arguments) commandLine += L" " + quoted(wide(argument));
  return commandLine;
}

void closeHandle(HANDLE& handle) {
  if (handle != nullptr) ::CloseHandle(handle);
  handle = nullptr;
}

// A pipe whose one end the child inherits.
void makePipe(HANDLE& read, HANDLE& write, bool childReads) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  if (!::CreatePipe(&read, &write, &inherit, 1 << 16)) throw std::runtime_error("no pipe");
  ::SetHandleInformation(childReads ? write : read, HANDLE_FLAG_INHERIT, 0);
}

}  // namespace

bool canGiveTerminal() { return false; }

std::string programFileName(const std::string& name) { return name + ".exe"; }

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const ProgramSettings& settings) {
  if (settings.terminalStderr) throw std::logic_error("no terminal on Windows");
  TempDir scratch;
  {
    std::ofstream input(std::filesystem::path(wide(scratch.file("in"))), std::ios::binary);
    input << settings.input;
  }
  HANDLE in = openInheritable(scratch.file("in"), GENERIC_READ, OPEN_EXISTING);
  HANDLE out = openInheritable(scratch.file("out"), GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = openInheritable(scratch.file("err"), GENERIC_WRITE, CREATE_ALWAYS);

  std::wstring commandLine = commandLineOf(program, arguments);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  const std::wstring directory = wide(settings.workingDirectory);
  const BOOL started = ::CreateProcessW(
      nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
      directory.empty() ? nullptr : directory.c_str(), &startup, &process);
  ::CloseHandle(in);
  ::CloseHandle(out);
  ::CloseHandle(err);
  if (!started) throw std::runtime_error("cannot start " + program);

  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 0;
  ::GetExitCodeProcess(process.hProcess, &exitCode);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  ProgramRun run;
  run.exitCode = static_cast<int>(exitCode);
  run.out = readAll(scratch.file("out"));
  run.err = readAll(scratch.file("err"));
  return run;
}

struct RunningProgram::Process {
  TempDir scratch;
  HANDLE process = nullptr;
  HANDLE input = nullptr;   // the write end of its standard input
  HANDLE output = nullptr;  // the read end of its standard output
  std::optional<int> exitCode;
};

RunningProgram::RunningProgram(const std::string& program, const std::vector<std::string>& arguments,
                               Settings)
    : process_(std::make_unique<Process>()) {
  HANDLE childIn = nullptr;
  HANDLE childOut = nullptr;
  makePipe(childIn, process_->input, true);
  makePipe(process_->output, childOut, false);
  HANDLE err = openInheritable(process_->scratch.file("err"), GENERIC_WRITE, CREATE_ALWAYS);
  std::wstring commandLine = commandLineOf(program, arguments);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = childIn;
  startup.hStdOutput = childOut;
  startup.hStdError = err;
  PROCESS_INFORMATION started{};
  const BOOL done = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                     nullptr, nullptr, &startup, &started);
  closeHandle(childIn);
  closeHandle(childOut);
  closeHandle(err);
  if (!done) {
    closeHandle(process_->input);
    closeHandle(process_->output);
    throw std::runtime_error("cannot start " + program);
  }
  ::CloseHandle(started.hThread);
  process_->process = started.hProcess;
}

RunningProgram::~RunningProgram() {
  closeHandle(process_->input);
  closeHandle(process_->output);
  if (::WaitForSingleObject(process_->process, 0) != WAIT_OBJECT_0) {
    ::TerminateProcess(process_->process, 1);
    ::WaitForSingleObject(process_->process, INFINITE);
  }
  closeHandle(process_->process);
}

bool RunningProgram::write(const std::string& text) {
  DWORD written = 0;
  return ::WriteFile(process_->input, text.data(), static_cast<DWORD>(text.size()), &written,
                     nullptr) &&
         written == text.size();
}

void RunningProgram::closeInput() { closeHandle(process_->input); }

void RunningProgram::closeOutput() {
  closeHandle(process_->output);
  outputEnded_ = true;
}

// An anonymous pipe cannot be waited on: it is peeked at until something
// is there.
bool RunningProgram::readSome(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    DWORD available = 0;
    if (!::PeekNamedPipe(process_->output, nullptr, 0, nullptr, &available, nullptr)) return false;
    if (available > 0) {
      std::string bytes(available, '\0');
      DWORD count = 0;
      if (!::ReadFile(process_->output, bytes.data(), available, &count, nullptr)) return false;
      buffer_.append(bytes, 0, count);
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void RunningProgram::sendSignal(int) { throw std::logic_error("no signals on Windows"); }

std::optional<int> RunningProgram::wait(std::chrono::milliseconds timeout) {
  if (!process_->exitCode &&
      ::WaitForSingleObject(process_->process, static_cast<DWORD>(timeout.count())) ==
          WAIT_OBJECT_0) {
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process_->process, &exitCode);
    process_->exitCode = static_cast<int>(exitCode);
  }
  return process_->exitCode;
}

std::string RunningProgram::err() const { return readAll(process_->scratch.file("err")); }

}  // namespace kesp::test
