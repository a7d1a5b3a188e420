// Windows (under Wine): the Linux build's fpcloud, started by its Unix path,
// its output in a file read as it grows, stopped by its stop file. Wine gives
// a Windows program no handle to a Linux process to signal or wait for.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "tests/support/cloud_service_process.h"
#include "tests/support/test_paths.h"
#include "tests/support/win32_text.h"
#include "tests/support/unix_program.h"

namespace kesp::test {
namespace {

constexpr char kFpcloudVariable[] = "KESP_NATIVE_FPCLOUD";
constexpr auto kReadPoll = std::chrono::milliseconds(5);

std::string nativeFpcloud() {
  const char* path = std::getenv(kFpcloudVariable);
  if (path == nullptr || *path == '\0')
    throw std::runtime_error(std::string(kFpcloudVariable) +
                             " is not set: it names the Linux build's fpcloud (build/linux/bin/"
                             "fpcloud; build the linux preset first), which the Windows tests "
                             "start under Wine");
  return path;
}

class WineServiceProcess final : public ServiceProcess {
 public:
  explicit WineServiceProcess(std::vector<std::string> arguments)
      : outputPath_(scratch_.file("fpcloud.out")), stopPath_(scratch_.file("stop")) {
    arguments.insert(arguments.end(), {"--stop-file", stopPath_});
    startUnixProgram(nativeFpcloud(), arguments, outputPath_);
    output_ = ::CreateFileW(wide(outputPath_).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output_ == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot read " + outputPath_);
  }

  ~WineServiceProcess() override {
    if (!stopRequested_) requestStop();
    ::CloseHandle(output_);
  }

  std::string read() override {
    char buffer[4096];
    for (;;) {
      DWORD got = 0;
      if (::ReadFile(output_, buffer, sizeof buffer, &got, nullptr) && got > 0)
        return std::string(buffer, got);
      if (done_) return {};
      std::this_thread::sleep_for(kReadPoll);
    }
  }

  void requestStop() override {
    stopRequested_ = true;
    std::ofstream(std::filesystem::path(wide(stopPath_))).close();
  }

  int finish(bool) override {
    // What it wrote before its "stopped:" line is read; then read() ends.
    // Its exit code does not reach a Windows program under Wine.
    done_ = true;
    return -1;
  }

 private:
  TempDir scratch_;
  std::string outputPath_;
  std::string stopPath_;
  HANDLE output_ = INVALID_HANDLE_VALUE;
  bool stopRequested_ = false;
  std::atomic<bool> done_{false};
};

}  // namespace

std::unique_ptr<ServiceProcess> ServiceProcess::start(const std::vector<std::string>& arguments) {
  return std::make_unique<WineServiceProcess>(arguments);
}

}  // namespace kesp::test
