#include "tests/support/unix_program.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <thread>

#include "tests/support/test_paths.h"
#include "tests/support/win32_text.h"

namespace kesp::test {
namespace {

bool isWindowsPath(const std::string& argument) {
  return argument.size() > 3 && argument[1] == ':' && (argument[2] == '\\' || argument[2] == '/');
}

// Wine's path mapping, exported by its kernel32; absent on Windows itself.
template <typename Function>
Function wineFunction(const char* name) {
  const auto found = reinterpret_cast<Function>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name)));
  if (found == nullptr)
    throw std::runtime_error(std::string("not under Wine: no ") + name +
                             " (the cloud tests need Wine to reach the Linux side)");
  return found;
}

}  // namespace

std::string unixPathOf(const std::string& windowsPath) {
  using Convert = char*(CDECL*)(LPCWSTR);
  static const auto convert = wineFunction<Convert>("wine_get_unix_file_name");
  char* unix = convert(wide(windowsPath).c_str());
  if (unix == nullptr) throw std::runtime_error("no Unix path for " + windowsPath);
  std::string result(unix);
  ::HeapFree(::GetProcessHeap(), 0, unix);
  return result;
}

std::string windowsPathOf(const std::string& unixPath) {
  using Convert = WCHAR*(CDECL*)(const char*);
  static const auto convert = wineFunction<Convert>("wine_get_dos_file_name");
  WCHAR* dos = convert(unixPath.c_str());
  if (dos == nullptr) throw std::runtime_error("no Windows path for " + unixPath);
  const std::string result = utf8(std::filesystem::path(dos));
  ::HeapFree(::GetProcessHeap(), 0, dos);
  return result;
}

void startUnixProgram(const std::string& unixProgram, const std::vector<std::string>& arguments,
                      const std::string& outputFile) {
  const std::wstring program = wide(windowsPathOf(unixProgram));
  std::wstring commandLine = quoted(program);
  for (const std::string& argument : arguments)
    commandLine += L" " + quoted(wide(isWindowsPath(argument) ? unixPathOf(argument) : argument));

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE output = ::CreateFileW(wide(outputFile).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (output == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + outputFile);
  const std::unique_ptr<void, decltype(&::CloseHandle)> closeOutput(output, &::CloseHandle);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = output;
  startup.hStdError = output;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &started))
    throw std::runtime_error("cannot start " + unixProgram + " (error " +
                             std::to_string(::GetLastError()) + ")");
  // Under Wine the handles of a Linux program are null or unusable; close
  // what there is.
  if (started.hThread != nullptr) ::CloseHandle(started.hThread);
  if (started.hProcess != nullptr) ::CloseHandle(started.hProcess);
}

int runUnixProgram(const std::string& unixProgram, const std::vector<std::string>& arguments,
                   const std::string& outputFile, std::chrono::milliseconds timeout) {
  // The shell writes the exit status to a file of its own once the program
  // has ended; the rename makes it appear whole. Wine hands a Linux program
  // the given standard output but not the standard error, so the shell joins
  // them.
  TempDir control;
  const std::string status = control.file("status");
  std::vector<std::string> shell{
      "-c", "s=$1; shift; exec 2>&1; \"$@\"; echo $? > \"$s.part\" && mv \"$s.part\" \"$s\"",
      "sh", status, unixProgram};
  shell.insert(shell.end(), arguments.begin(), arguments.end());
  startUnixProgram("/bin/sh", shell, outputFile);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream in{std::filesystem::path(wide(status))};
    int code = -1;
    if (in >> code) return code;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return -1;
}

}  // namespace kesp::test
