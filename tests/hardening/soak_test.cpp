// Many host threads on one loaded checker for a bounded time: instances made
// and released, checks of both input kinds, file operations swapped for host
// factories that fail at random or for none at all, proxy changes, thread
// clean-up and checker SDK log lines, while the SDK fails at random. Then
// everything is released, and nothing may be left: the checker unloads
// (its instance count is back to 0), no SDK instance or file object lives,
// and the SDK library is unmapped.
//
// KESP_SOAK_SECONDS sets the duration (default 2).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/fake_sdk.h"
#include "tests/support/plugin_host.h"
#include "tests/support/test_paths.h"

namespace kesp::test {
namespace {

using fp::Status;
using Clock = std::chrono::steady_clock;

std::chrono::milliseconds soakDuration() {
  const char* text = std::getenv("KESP_SOAK_SECONDS");
  const long seconds = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
  return std::chrono::seconds(seconds > 0 ? seconds : 2);
}

// Checks every line as it arrives and keeps none, so that a long run needs
// no memory: each line must be module 5 and, at level 0, one of the failures
// this run can cause.
class SoakLog final : public kesp::HostLog {
 public:
  bool isEnabled(std::uint32_t, std::uint32_t, std::uint32_t) override { return true; }
  void log(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
           const char* text) override {
    const std::string line = text;
    if (module != 5 || flags != 0 || level > 3 || (level < 2 && !expected(line))) {
      const std::lock_guard lock(mutex_);
      if (unexpected_.size() < 10) unexpected_.push_back(std::to_string(level) + " " + line);
      ++unexpectedCount_;
    }
  }

  // How many lines were unexpected, and the first ten of them.
  std::pair<int, std::vector<std::string>> unexpected() const {
    const std::lock_guard lock(mutex_);
    return {unexpectedCount_, unexpected_};
  }

 private:
  static bool expected(const std::string& line) {
    static const char* const kPrefixes[] = {
        "Exception: Cannot perform '",
        "Failed to check detection: ",
        "FP checker error: Fops file object cannot be created for file: ",
        "FP checker error: Failed to get the size of ",
        "FP checker error: No file operations factory is installed to get the size of ",
        "Failed to create VFPC checker instance: FP checker error: Failed to create VFPC SDK "
        "instance: ",
        "Failed to destroy VFPC SDK instance: ",
        "Failed to set on-the-fly proxy '",
        "(Default FOPS) Error in '",
        "[fpcsdk] ",
    };
    return std::any_of(std::begin(kPrefixes), std::end(kPrefixes),
                       [&](const char* prefix) { return line.starts_with(prefix); });
  }

  mutable std::mutex mutex_;
  std::vector<std::string> unexpected_;
  int unexpectedCount_ = 0;
};

// A host factory shared by all threads. Every seventh file object cannot be
// made and every fifth cannot tell its size; the counter makes the failures
// land on whichever thread comes next.
class FlakyFops final : public kesp::FopsFactoryV1 {
 public:
  class File final : public kesp::FopsFileV1 {
   public:
    explicit File(bool sizeWorks) : sizeWorks_(sizeWorks) {}
    bool access(std::uint32_t) override { return false; }
    bool rename(const char*) override { return false; }
    bool unlink() override { return false; }
    bool open(std::uint32_t, std::uint32_t) override { return false; }
    bool read(void*, std::uint64_t, std::uint64_t*) override { return false; }
    bool write(const void*, std::uint64_t, std::uint64_t*) override { return false; }
    bool tell(std::uint64_t*) override { return false; }
    bool seek(std::int64_t, std::uint32_t) override { return false; }
    bool size(std::uint64_t* size) override {
      if (!sizeWorks_) return false;
      *size = 4096;
      return true;
    }
    bool flush() override { return false; }
    bool close() override { return false; }

   private:
    bool sizeWorks_;
  };

  kesp::FopsFileV1* createFopsFile(const char*, void*) override {
    const unsigned call = calls_.fetch_add(1);
    if (call % 7 == 0) return nullptr;
    live_.fetch_add(1);
    return new File(call % 5 != 0);
  }
  void releaseFopsFile(kesp::FopsFileV1* file) override {
    live_.fetch_sub(1);
    delete static_cast<File*>(file);
  }

  int live() const { return live_.load(); }

 private:
  std::atomic<unsigned> calls_{0};
  std::atomic<int> live_{0};
};

// The statuses a check may give in this run; an SDK failure maps onto any
// of its statuses except those no SDK code reaches.
bool isCheckStatus(Status status) {
  return status != Status::NotSupported && status != Status::InUse &&
         status != Status::LoadFailed && static_cast<std::uint32_t>(status) <= 11;
}

struct Shared {
  fp::CheckerV1* checker;
  std::vector<fp::InstanceV1*> sharedInstances;
  std::vector<kesp::FopsFactoryV1*> factories;  // null among them: no factory
  fpcsdk::LogInterface* sdkLog;
  std::string filePath;
  Clock::time_point deadline;
  std::atomic<int> failures{0};
  std::atomic<std::uint64_t> checks{0};
};

void fail(Shared& shared) { shared.failures.fetch_add(1); }

class Worker {
 public:
  Worker(Shared& shared, unsigned seed) : shared_(shared), random_(seed) {}

  void run() {
    // Inputs made through the shared instances, owned by this thread.
    fp::InstanceV1& maker = *shared_.sharedInstances[0];
    memory_.reset(static_cast<fp::MemoryFileInputV1*>(maker.createInput(1)));
    file_.reset(static_cast<fp::FileInputV1*>(maker.createInput(0)));
    if (!memory_ || !file_ || memory_->setDetectionName("Soak.Memory") != Status::Success ||
        memory_->setBuffer(buffer_, sizeof buffer_) != Status::Success ||
        file_->setDetectionName("Soak.File") != Status::Success ||
        file_->setPath(shared_.filePath.c_str()) != Status::Success) {
      fail(shared_);
      return;
    }
    while (Clock::now() < shared_.deadline) step();
    own_.clear();
    memory_.reset();
    file_.reset();
  }

 private:
  std::uint32_t pick(std::uint32_t count) {
    return std::uniform_int_distribution<std::uint32_t>(0, count - 1)(random_);
  }

  fp::InstanceV1& anyInstance() {
    const std::size_t total = own_.size() + shared_.sharedInstances.size();
    const std::size_t index = pick(static_cast<std::uint32_t>(total));
    return index < own_.size() ? *own_[index] : *shared_.sharedInstances[index - own_.size()];
  }

  void step() {
    switch (pick(10)) {
      case 0: {
        if (own_.size() >= 3) break;
        fp::InstanceV1* created = nullptr;
        const Status status = shared_.checker->createInstance(&created);
        if (status == Status::Success && created != nullptr) {
          own_.emplace_back(created);
        } else if (status == Status::Success || created != nullptr || !isCheckStatus(status)) {
          fail(shared_);
        }
        break;
      }
      case 1:
        if (!own_.empty()) own_.erase(own_.begin() + pick(static_cast<std::uint32_t>(own_.size())));
        break;
      case 2: {
        // Busy refusals are expected: others check on the shared instances.
        kesp::FopsFactoryV1* factory =
            shared_.factories[pick(static_cast<std::uint32_t>(shared_.factories.size()))];
        const Status status = anyInstance().setFops(factory);
        if (status != Status::Success && status != Status::Error) fail(shared_);
        break;
      }
      case 3: {
        const std::string message = "soak line " + std::to_string(pick(1000));
        const auto level = static_cast<std::int32_t>(pick(5)) - 1;
        if (shared_.sdkLog->filter(level)) shared_.sdkLog->log(level, 0, message);
        break;
      }
      default: {
        fp::InputV1& input = pick(2) == 0 ? static_cast<fp::InputV1&>(*memory_) : *file_;
        fp::OutputV1* output = nullptr;
        const Status status = anyInstance().check(&input, &output);
        if (!isCheckStatus(status) || (status == Status::Success) != (output != nullptr)) {
          fail(shared_);
        }
        if (output != nullptr) {
          static_cast<void>(output->isFalsePositive());
          output->release();
        }
        shared_.checks.fetch_add(1);
        break;
      }
    }
  }

  Shared& shared_;
  std::mt19937 random_;
  std::vector<HostPtr<fp::InstanceV1>> own_;
  HostPtr<fp::MemoryFileInputV1> memory_;
  HostPtr<fp::FileInputV1> file_;
  const char buffer_[4] = "MZ!";
};

// The one thread that configures: the checker SDK's answers, proxy changes
// and thread clean-up, all of which may overlap the checks.
void chaos(Shared& shared) {
  FakeSdk& sdk = FakeSdk::instance();
  std::mt19937 random(7);
  const auto code = [&](std::uint32_t successOneIn) {
    return random() % successOneIn == 0 ? static_cast<std::int32_t>(1 + random() % 12) : 0;
  };
  for (unsigned round = 0; Clock::now() < shared.deadline; ++round) {
    // Bounds what the stand-in records over a long run.
    if (round % 64 == 0) sdk.reset();
    sdk.setResult(SdkOp::CheckDetection, code(4));
    sdk.setResult(SdkOp::CreateInstance, code(6));
    sdk.setResult(SdkOp::DestroyInstance, code(6));
    sdk.setResult(SdkOp::SetProxy, code(3));
    sdk.setVerdict(random() % 2 == 0);
    const std::string proxy = "proxy-" + std::to_string(random() % 100) + ":8080";
    const auto option = textOption(random() % 2 == 0 ? 2 : 3, proxy.c_str());
    const Status status = shared.checker->getConfig()->setCustomOption(&option);
    if (!isCheckStatus(status)) fail(shared);
    const fp::CheckerCommand cleanup{fp::CommandThreadCleanup};
    if (shared.checker->sendCommand(&cleanup) != Status::Success) fail(shared);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  sdk.reset();
}

TEST(Soak, ManyThreadsThenEverythingIsReleased) {
  SoakLog log;
  FakePluginInput input(&log);
  input.setString(kesp::PluginInputHostDataString, kHostDataString);
  FakeSdk::instance().reset();
  HostPtr<kesp::plugins::PluginV1> plugin(getPluginFunction()(&input));
  ASSERT_NE(plugin, nullptr);
  HostPtr<fp::CheckerV1> checker(plugin->getChecker());
  checker->getConfig()->setApiVersion(2, 0);
  ASSERT_EQ(checker->getConfig()->setBaseDirectory(sdkDirectory("good").c_str()), Status::Success);
  ASSERT_EQ(checker->load(), Status::Success);

  TempDir directory;
  const std::string filePath = directory.file("scanned.bin");
  std::ofstream(std::filesystem::path(filePath), std::ios::binary) << std::string(1000, 'x');

  FlakyFops first;
  FlakyFops second;
  Shared shared;
  shared.checker = checker.get();
  shared.factories = {&first, &second, nullptr};
  shared.sdkLog = FakeSdk::instance().logInterface();
  ASSERT_NE(shared.sdkLog, nullptr);
  shared.filePath = filePath;
  std::vector<HostPtr<fp::InstanceV1>> sharedInstances;
  for (int i = 0; i < 2; ++i) {
    fp::InstanceV1* created = nullptr;
    ASSERT_EQ(checker->createInstance(&created), Status::Success);
    sharedInstances.emplace_back(created);
    shared.sharedInstances.push_back(created);
  }

  constexpr unsigned kWorkers = 6;
  shared.deadline = Clock::now() + soakDuration();
  std::vector<std::thread> threads;
  for (unsigned i = 0; i < kWorkers; ++i) {
    threads.emplace_back([&shared, i] { Worker(shared, 100 + i).run(); });
  }
  threads.emplace_back([&shared] { chaos(shared); });
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(shared.failures.load(), 0);
  EXPECT_GT(shared.checks.load(), 0u);
  const auto [unexpectedCount, unexpected] = log.unexpected();
  EXPECT_EQ(unexpectedCount, 0) << ::testing::PrintToString(unexpected);

  sharedInstances.clear();
  FakeSdk::instance().clearEvents();
  EXPECT_EQ(checker->unload(), Status::Success);
  // Plain "uninitialize", not "uninitialize with live instances": every SDK
  // instance is gone.
  EXPECT_EQ(FakeSdk::instance().events(),
            (std::vector<std::string>{"uninitialize", "FPCDestroy", "unload"}));
  EXPECT_EQ(first.live(), 0);
  EXPECT_EQ(second.live(), 0);
  checker.reset();
  plugin.reset();
}

}  // namespace
}  // namespace kesp::test
