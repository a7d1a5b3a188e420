// Windows only: CreateProcessW with files as the child's standard streams.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "tests/support/test_paths.h"
#include "tests/tools/run_program.h"

namespace kesp::test {

namespace {

std::wstring wide(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end())).wstring();
}

std::string readAll(const std::string& path) {
  std::ifstream file(std::filesystem::path(wide(path)), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// One argument quoted so that the child's CommandLineToArgvW gives it back:
// backslashes are literal unless they precede a quote.
std::wstring quoted(const std::wstring& argument) {
  std::wstring result = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      result.append(backslashes * 2 + 1, L'\\');
    } else {
      result.append(backslashes, L'\\');
    }
    backslashes = 0;
    result += c;
  }
  result.append(backslashes * 2, L'\\');
  return result + L"\"";
}

HANDLE openInheritable(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE handle = ::CreateFileW(wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &inherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + path);
  return handle;
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

  std::wstring commandLine = quoted(wide(program));
  for (const std::string& argument : arguments) commandLine += L" " + quoted(wide(argument));
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

}  // namespace kesp::test
