// A name lookup that hangs (a resolver that never answers) through the real
// plug-in and the reference SDK. This program defines getaddrinfo itself,
// and exports it, so that libcurl's lookups come here: the service's one
// name hangs until the test lets it go, every other name is looked up by the
// system.
#include <dlfcn.h>
#include <netdb.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "tests/network/cloud_host.h"

namespace {

constexpr char kHangingName[] = "hanging-lookup.test";

std::mutex lookupMutex;
std::condition_variable lookupChanged;
int lookupsHanging = 0;
int lookupsReturned = 0;
bool lookupsReleased = false;
pid_t lookupThread = 0;

}  // namespace

extern "C" __attribute__((visibility("default"))) int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** result) {
  if (node != nullptr && std::strcmp(node, kHangingName) == 0) {
    std::unique_lock lock(lookupMutex);
    ++lookupsHanging;
    lookupThread = ::gettid();
    lookupChanged.notify_all();
    // Bounded, so that a broken SDK fails the test instead of hanging it.
    lookupChanged.wait_for(lock, std::chrono::seconds(10), [] { return lookupsReleased; });
    ++lookupsReturned;
    lookupChanged.notify_all();
    return EAI_AGAIN;
  }
  using Lookup = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
  static const auto system = reinterpret_cast<Lookup>(::dlsym(RTLD_NEXT, "getaddrinfo"));
  return system(node, service, hints, result);
}

namespace kesp::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool threadRuns(pid_t thread) {
  return std::filesystem::exists("/proc/self/task/" + std::to_string(thread));
}

// The lookup runs on a thread of libcurl's own. The check must end at its
// connect time-out rather than wait for the lookup, and the lookup's thread,
// which outlives the check, must still find libcurl's code mapped when it
// returns after the SDK (and the libraries it brought) has been unloaded.
TEST(NameLookup, AHangingLookupEndsTheCheckAtTheConnectTimeOutAndOutlivesTheSdk) {
  {
    CloudSettings settings;
    settings.url = std::string("https://") + kHangingName + "/v1/check";
    settings.connectMs = 300;
    CloudHost cloud(settings);
    ASSERT_EQ(cloud.loadStatus, fp::Status::Success) << ::testing::PrintToString(cloud.errors());

    const auto started = Clock::now();
    EXPECT_EQ(cloud.check("Adware.Toolbar.Search").status, fp::Status::TimedOut);
    // Its bound: connect plus data time-out; the slack is for sanitizers.
    EXPECT_LT(Clock::now() - started, 300ms + 200ms + 1s);
    const auto errors = cloud.errors();
    ASSERT_EQ(errors.size(), 2u) << ::testing::PrintToString(errors);
    // curl names the milliseconds it waited: 300, or a few more.
    EXPECT_EQ(errors[0].rfind("[fpcsdk] Check 'Adware.Toolbar.Search' size 8 failed after 1 "
                              "attempt(s): connect time-out: Resolving timed out after 3",
                              0),
              0u)
        << errors[0];
    EXPECT_EQ(errors[1], "Failed to check detection: timed out");
  }
  std::unique_lock lock(lookupMutex);
  EXPECT_EQ(lookupsHanging, 1);
  lookupsReleased = true;
  lookupChanged.notify_all();
  ASSERT_TRUE(lookupChanged.wait_for(lock, 10s, [] { return lookupsReturned == lookupsHanging; }));
  const pid_t thread = lookupThread;
  lock.unlock();
  // The lookup's thread goes back into libcurl and ends there; had libcurl
  // been unmapped, the program would have died on the way.
  const auto deadline = Clock::now() + 10s;
  while (threadRuns(thread) && Clock::now() < deadline) std::this_thread::sleep_for(2ms);
  EXPECT_FALSE(threadRuns(thread));
}

}  // namespace
}  // namespace kesp::test
