// Instances on real threads: one job per instance, many instances at once.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fake_sdk.h"
#include "tests/support/plugin_host.h"

namespace kesp::test {
namespace {

using fp::Status;

HostPtr<fp::MemoryFileInputV1> readyInput(fp::InstanceV1& instance, const char* buffer) {
  HostPtr<fp::MemoryFileInputV1> input(static_cast<fp::MemoryFileInputV1*>(instance.createInput(1)));
  EXPECT_EQ(input->setDetectionName("EICAR"), Status::Success);
  EXPECT_EQ(input->setBuffer(buffer, 1), Status::Success);
  return input;
}

Status checkOnce(fp::InstanceV1& instance, fp::InputV1& input) {
  fp::OutputV1* output = nullptr;
  const Status status = instance.check(&input, &output);
  if (output != nullptr) output->release();
  return status;
}

TEST(InstanceJobs, ASecondJobOnABusyInstanceIsRefusedAtOnce) {
  PluginHost host;
  auto checker = host.loadedChecker();
  auto instance = host.instance(*checker);
  const char buffer[] = "x";
  auto first = readyInput(*instance, buffer);
  auto second = readyInput(*instance, buffer);

  FakeSdk::instance().holdChecks();
  auto running = std::async(std::launch::async, [&] { return checkOnce(*instance, *first); });
  ASSERT_TRUE(FakeSdk::instance().waitForHeldChecks(1));

  host.log.clear();
  EXPECT_EQ(checkOnce(*instance, *second), Status::Error);
  EXPECT_EQ(instance->setFops(nullptr), Status::Error);
  EXPECT_EQ(host.log.texts(0),
            (std::vector<std::string>{
                "Exception: Cannot perform 'check', instance is busy with 'check'",
                "Exception: Cannot perform 'setFops', instance is busy with 'check'"}));
  // Jobs that take no slot go on beside the check.
  HostPtr<fp::InputV1> extra(instance->createInput(0));
  EXPECT_NE(extra, nullptr);
  EXPECT_NE(instance->getOptions(), nullptr);

  FakeSdk::instance().releaseChecks();
  EXPECT_EQ(running.get(), Status::Success);
  EXPECT_EQ(checkOnce(*instance, *second), Status::Success);
  EXPECT_EQ(FakeSdk::instance().detections().size(), 2u);

  extra.reset();
  first.reset();
  second.reset();
  instance.reset();
  EXPECT_EQ(checker->unload(), Status::Success);
}

TEST(InstanceJobs, DifferentInstancesCheckAtTheSameTime) {
  PluginHost host;
  auto checker = host.loadedChecker();
  constexpr int kThreads = 4;
  std::vector<HostPtr<fp::InstanceV1>> instances;
  for (int i = 0; i < kThreads; ++i) instances.push_back(host.instance(*checker));
  const char buffer[] = "x";

  // Every thread's check is held inside the SDK until all of them are there:
  // this only completes if no lock in the plug-in serialises them.
  FakeSdk::instance().holdChecks();
  std::vector<std::future<Status>> held;
  for (int i = 0; i < kThreads; ++i) {
    held.push_back(std::async(std::launch::async, [&, i] {
      auto input = readyInput(*instances[i], buffer);
      return checkOnce(*instances[i], *input);
    }));
  }
  EXPECT_TRUE(FakeSdk::instance().waitForHeldChecks(kThreads));
  FakeSdk::instance().releaseChecks();
  for (auto& result : held) EXPECT_EQ(result.get(), Status::Success);

  // Then many checks per thread, with the shared logger and SDK object.
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      auto input = readyInput(*instances[i], buffer);
      for (int n = 0; n < 200; ++n) {
        if (checkOnce(*instances[i], *input) != Status::Success) failures.fetch_add(1);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(FakeSdk::instance().detections().size(), kThreads + kThreads * 200u);

  instances.clear();
  EXPECT_EQ(checker->unload(), Status::Success);
}

TEST(InstanceCount, InstancesMadeAndReleasedOnManyThreadsAreCountedExactly) {
  PluginHost host;
  auto checker = host.loadedChecker();
  constexpr int kThreads = 4;
  constexpr int kRounds = 50;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      for (int n = 0; n < kRounds; ++n) {
        fp::InstanceV1* instance = nullptr;
        if (checker->createInstance(&instance) != Status::Success) {
          failures.fetch_add(1);
          continue;
        }
        instance->release();
      }
    });
  }
  auto kept = host.instance(*checker);
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  host.log.clear();
  EXPECT_EQ(checker->unload(), Status::InUse);
  EXPECT_EQ(host.log.texts(0),
            (std::vector<std::string>{
                "VFPC checker can't be unloaded since there are still '1' instances running"}));
  kept.reset();
  EXPECT_EQ(checker->unload(), Status::Success);
}

TEST(InstanceRelease, DestroysTheSdkInstanceOnceEvenWhenTheSdkComplains) {
  PluginHost host;
  auto checker = host.loadedChecker();
  auto instance = host.instance(*checker);
  FakeSdk::instance().setResult(SdkOp::DestroyInstance, 3);
  FakeSdk::instance().clearEvents();
  host.log.clear();
  instance.reset();
  EXPECT_EQ(FakeSdk::instance().events(), std::vector<std::string>{"destroyFpcInstance"});
  EXPECT_EQ(host.log.lines(),
            (std::vector<LogLine>{
                {3, 5, 0, "Destroying VFPC checker instance"},
                {0, 5, 0, "Failed to destroy VFPC SDK instance: already initialized"}}));
  // The count fell all the same.
  EXPECT_EQ(checker->unload(), Status::Success);
}

TEST(InstanceRelease, UnloadOnAnotherThreadWaitsForTheSdkInstanceToGo) {
  PluginHost host;
  auto checker = host.loadedChecker();
  fp::InstanceV1* instance = nullptr;
  ASSERT_EQ(checker->createInstance(&instance), Status::Success);
  FakeSdk::instance().clearEvents();
  FakeSdk::instance().holdEvent("destroyFpcInstance");
  auto releasing = std::async(std::launch::async, [instance] { instance->release(); });
  ASSERT_TRUE(FakeSdk::instance().waitForHeldEvent());

  // The SDK instance is still being destroyed: the instance still counts.
  host.log.clear();
  EXPECT_EQ(checker->unload(), Status::InUse);
  EXPECT_EQ(host.log.texts(0),
            (std::vector<std::string>{
                "VFPC checker can't be unloaded since there are still '1' instances running"}));

  FakeSdk::instance().releaseEvent();
  releasing.get();
  EXPECT_EQ(checker->unload(), Status::Success);
  // "uninitialize with live instances" would mean a call under a live one.
  EXPECT_EQ(FakeSdk::instance().events(),
            (std::vector<std::string>{"destroyFpcInstance", "uninitialize", "FPCDestroy",
                                      "unload"}));
}

TEST(HostLogCallback, MayCallThePlugInItself) {
  PluginHost host;
  auto checker = host.loadedChecker();
  {
    auto first = host.instance(*checker);
    auto second = host.instance(*checker);
    const char buffer[] = "x";
    auto outer = readyInput(*first, buffer);
    auto inner = readyInput(*second, buffer);
    // The plug-in holds no lock while it logs: a whole check on another
    // instance, from inside a line of this check, neither waits nor fails.
    Status innerStatus = Status::Error;
    host.log.callOnLine("Check for false positive with VFPC checker",
                        [&] { innerStatus = checkOnce(*second, *inner); });
    EXPECT_EQ(checkOnce(*first, *outer), Status::Success);
    EXPECT_EQ(innerStatus, Status::Success);
    EXPECT_EQ(FakeSdk::instance().detections().size(), 2u);
  }
  EXPECT_EQ(checker->unload(), Status::Success);
}

}  // namespace
}  // namespace kesp::test
