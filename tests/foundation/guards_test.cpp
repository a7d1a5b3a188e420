// The small owners and guards that the rest of the plug-in builds on: the
// undo guard, the handle owner and the boundary that stops exceptions.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "foundation/boundary.h"
#include "foundation/exceptions.h"
#include "foundation/scope_guard.h"
#include "foundation/unique_resource.h"
#include "tests/support/recording_log.h"

namespace {

using kesp::test::LogLine;
using kesp::test::RecordingLogInterface;

TEST(ScopeGuard, RunsItsActionOnceUnlessDismissed) {
  int runs = 0;
  {
    const plx::ScopeGuard guard([&] { ++runs; });
  }
  EXPECT_EQ(runs, 1);
  {
    plx::ScopeGuard guard([&] { ++runs; });
    guard.dismiss();
  }
  EXPECT_EQ(runs, 1);
}

TEST(ScopeGuard, MoveHandsOverTheAction) {
  std::vector<int> runs;
  {
    plx::ScopeGuard target;
    {
      plx::ScopeGuard source([&] { runs.push_back(1); });
      target = std::move(source);
    }
    EXPECT_TRUE(runs.empty());
    // A guard that is assigned over runs the action it held: dropping it
    // would skip an undo step.
    target = plx::ScopeGuard([&] { runs.push_back(2); });
    EXPECT_EQ(runs, std::vector<int>{1});
    plx::ScopeGuard moved(std::move(target));
  }
  EXPECT_EQ(runs, (std::vector<int>{1, 2}));
}

TEST(ScopeGuard, ActionThatThrowsIsSwallowed) {
  // Escaping the destructor would terminate the test program.
  int runs = 0;
  {
    const plx::ScopeGuard guard([&] {
      ++runs;
      throw std::runtime_error("undo failed");
    });
  }
  EXPECT_EQ(runs, 1);
}

// A handle kind whose invalid value is -1, so that 0 is a live handle, as a
// file descriptor is.
struct CountingTraits {
  using Handle = int;
  static Handle invalid() noexcept { return -1; }
  static void close(Handle handle) noexcept { closed.push_back(handle); }
  static inline std::vector<int> closed;
};
using CountingResource = plx::UniqueResource<CountingTraits>;

class UniqueResource : public testing::Test {
 protected:
  void SetUp() override { CountingTraits::closed.clear(); }
};

TEST_F(UniqueResource, FreesALiveHandleOnceEvenWhenItIsZero) {
  { const CountingResource resource(0); }
  { const CountingResource empty; }
  {
    CountingResource released(5);
    EXPECT_EQ(released.release(), 5);
  }
  EXPECT_EQ(CountingTraits::closed, std::vector<int>{0});
}

TEST_F(UniqueResource, MovesFreeTheHandleThatIsReplacedAndNothingElse) {
  {
    CountingResource target(1);
    CountingResource source(2);
    target = std::move(source);
    EXPECT_EQ(CountingTraits::closed, std::vector<int>{1});
    CountingResource& alias = target;
    target = std::move(alias);
    EXPECT_EQ(CountingTraits::closed, std::vector<int>{1});
    const CountingResource last(std::move(target));
    EXPECT_EQ(last.get(), 2);
    EXPECT_FALSE(source.valid());
    EXPECT_FALSE(target.valid());
  }
  EXPECT_EQ(CountingTraits::closed, (std::vector<int>{1, 2}));
}

constexpr int kError = 1;
constexpr int kOutOfMemory = 2;

class CallGuarded : public testing::Test {
 protected:
  RecordingLogInterface sink;
  const plx::Logger logger{&sink};
  const plx::LogChannel log{logger, 5, 0};
};

TEST_F(CallGuarded, ResultPassesThroughAndMemoryExhaustionIsNotLogged) {
  EXPECT_EQ(plx::callGuarded(log, kError, kOutOfMemory, [] { return 7; }), 7);
  EXPECT_EQ(plx::callGuarded(log, kError, kOutOfMemory, []() -> int { throw std::bad_alloc(); }),
            kOutOfMemory);
  plx::callGuarded(log, [] { throw std::bad_alloc(); });
  EXPECT_TRUE(sink.lines().empty());
}

TEST_F(CallGuarded, StandardExceptionIsLoggedWithItsTextAsAnError) {
  // The text goes through "%s", so printf conversions in it stay as they are.
  EXPECT_EQ(plx::callGuarded(log, kError, kOutOfMemory,
                             []() -> int { throw std::runtime_error("disk 100% full, %s %d"); }),
            kError);
  plx::callGuarded(log, [] { throw kesp::InternalException("no SDK object"); });
  EXPECT_EQ(sink.lines(), (std::vector<LogLine>{{0, 5, 0, "disk 100% full, %s %d"},
                                                {0, 5, 0, "Internal error: no SDK object"}}));
}

TEST_F(CallGuarded, AnythingElseIsLoggedAsUnknown) {
  EXPECT_EQ(plx::callGuarded(log, kError, kOutOfMemory, []() -> int { throw 42; }), kError);
  plx::callGuarded(log, [] { throw "text"; });
  EXPECT_EQ(sink.lines(),
            (std::vector<LogLine>{{0, 5, 0, "Unknown exception"}, {0, 5, 0, "Unknown exception"}}));
}

}  // namespace
