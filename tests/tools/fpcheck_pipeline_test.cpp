// The batch's parts that stand alone, driven directly: the bounded queue and
// the reorder ring by scripts of steps (a row each), and the naming of a
// caught failure.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "tools/bounded_queue.h"
#include "tools/failure_text.h"
#include "tools/reorder_ring.h"

namespace fpcheck {
namespace {

using namespace std::chrono_literals;

// A step of a script: "op", "op:argument", "op=expected" or
// "op:argument=expected". A step marked "&N" (N 1 to 9, "&" alone for 1)
// must wait: it runs on a thread of its own, must not have returned when
// each of the next N steps starts, and must return what it expects once they
// are done.
struct Step {
  int waits = 0;
  std::string op;
  std::string argument;
  std::string expected;
};

std::vector<Step> stepsOf(const std::string& script) {
  std::vector<Step> steps;
  std::istringstream words(script);
  for (std::string word; words >> word;) {
    Step step;
    if (word.front() == '&') {
      const bool counted = word.size() > 1 && word[1] >= '1' && word[1] <= '9';
      step.waits = counted ? word[1] - '0' : 1;
      word.erase(0, counted ? 2 : 1);
    }
    const std::size_t equals = word.find('=');
    if (equals != std::string::npos) step.expected = word.substr(equals + 1);
    word = word.substr(0, equals);
    const std::size_t colon = word.find(':');
    step.op = word.substr(0, colon);
    if (colon != std::string::npos) step.argument = word.substr(colon + 1);
    steps.push_back(step);
  }
  return steps;
}

// Runs the steps; run(step) does one and returns what it gave.
void runScript(const std::string& script, const std::function<std::string(const Step&)>& run) {
  std::future<std::string> waiting;
  std::string waitingExpected;
  int stepsToWait = 0;
  for (const Step& step : stepsOf(script)) {
    SCOPED_TRACE(step.op + ":" + step.argument);
    if (step.waits > 0) {
      waiting = std::async(std::launch::async, run, step);
      waitingExpected = step.expected;
      stepsToWait = step.waits;
      continue;
    }
    if (waiting.valid()) {
      ASSERT_EQ(waiting.wait_for(50ms), std::future_status::timeout) << "did not wait";
    }
    EXPECT_EQ(run(step), step.expected);
    if (waiting.valid() && --stepsToWait == 0) {
      EXPECT_EQ(waiting.get(), waitingExpected) << "the step that waited";
    }
  }
}

struct QueueScript {
  const char* name;
  std::size_t capacity;
  const char* steps;  // push:item=1|0, pop=item|-, close, stop=dropped items
};

class QueueSteps : public ::testing::TestWithParam<QueueScript> {};

TEST_P(QueueSteps, GiveWhatTheyExpect) {
  BoundedQueue<std::string> queue(GetParam().capacity);
  runScript(GetParam().steps, [&](const Step& step) -> std::string {
    if (step.op == "push") return queue.push(step.argument) ? "1" : "0";
    if (step.op == "pop") return queue.pop().value_or("-");
    if (step.op == "close") queue.close();
    std::string dropped;
    if (step.op == "stop") queue.stop([&](const std::string& item) { dropped += item; });
    return dropped;
  });
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, QueueSteps,
    ::testing::Values(
        QueueScript{"FirstInFirstOut", 3, "push:a=1 push:b=1 pop=a push:c=1 pop=b pop=c"},
        QueueScript{"CloseLetsTheRestDrain", 3, "push:a=1 push:b=1 close pop=a pop=b pop=- push:c=0"},
        QueueScript{"StopDropsTheRest", 3, "push:a=1 push:b=1 stop=ab pop=- push:c=0"},
        QueueScript{"PushWaitsWhileFull", 1, "push:a=1 &push:b=1 pop=a pop=b"},
        QueueScript{"PopWaitsWhileEmpty", 1, "&pop=a push:a=1"},
        QueueScript{"CloseEndsAWaitingPop", 1, "&pop=- close"},
        QueueScript{"StopEndsAWaitingPush", 1, "push:a=1 &push:b=0 stop=a"}),
    [](const auto& info) { return std::string(info.param.name); });

struct RingScript {
  const char* name;
  std::size_t entries;
  std::size_t cost;
  bool unordered;
  // res:cost=sequence|-, put:sequence, urgent:sequence (put, urgent),
  // abandon:sequence, take=values taken (comma-separated), close,
  // drained=1|0, wait=1|0 (waitTakeable for up to 10 s)
  const char* steps;
};

class RingSteps : public ::testing::TestWithParam<RingScript> {};

TEST_P(RingSteps, GiveWhatTheyExpect) {
  using Ring = ReorderRing<std::size_t>;
  // A taker woken only for three results, or for an urgent one.
  Ring ring({GetParam().entries, GetParam().cost, 3, std::chrono::hours(1)}, GetParam().unordered);
  std::map<std::size_t, Ring::Ticket> tickets;
  std::mutex ticketsMutex;
  const auto ticket = [&](const Step& step) {
    std::lock_guard lock(ticketsMutex);
    return tickets.at(std::stoul(step.argument));
  };
  runScript(GetParam().steps, [&](const Step& step) -> std::string {
    if (step.op == "res") {
      const std::optional<Ring::Ticket> reserved = ring.reserve(std::stoul(step.argument));
      if (!reserved) return "-";
      std::lock_guard lock(ticketsMutex);
      tickets[reserved->sequence] = *reserved;
      return std::to_string(reserved->sequence);
    }
    if (step.op == "put" || step.op == "urgent") {
      ring.put(ticket(step), ticket(step).sequence, step.op == "urgent");
    } else if (step.op == "abandon") {
      ring.abandon(ticket(step));
    } else if (step.op == "take") {
      std::vector<std::size_t> taken;
      ring.take(taken);
      std::string text;
      for (const std::size_t value : taken) text += (text.empty() ? "" : ",") + std::to_string(value);
      return text;
    } else if (step.op == "close") {
      ring.close();
    } else if (step.op == "drained") {
      return ring.drained() ? "1" : "0";
    } else if (step.op == "wait") {
      return ring.waitTakeable(Ring::Clock::now() + 10s) ? "1" : "0";
    }
    return "";
  });
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, RingSteps,
    ::testing::Values(
        RingScript{"InTheOrderReserved", 4, 100, false,
                   "res:1=0 res:1=1 res:1=2 put:2 put:1 take= put:0 take=0,1,2"},
        RingScript{"UnorderedAsFinished", 4, 100, true,
                   "res:1=0 res:1=1 res:1=2 put:2 put:0 take=2,0 put:1 take=1"},
        RingScript{"UnorderedReusesTheSlotsFreed", 2, 100, true,
                   "res:1=0 res:1=1 put:1 take=1 res:1=2 put:2 put:0 take=2,0"},
        RingScript{"AbandonedSkipped", 4, 100, false,
                   "res:1=0 res:1=1 res:1=2 abandon:1 put:2 take= put:0 take=0,2"},
        RingScript{"FullWindowGoesOnOnceHalfIsFree", 4, 100, false,
                   "res:1=0 res:1=1 res:1=2 res:1=3 put:0 &3res:1=4 take=0 put:1 take=1"},
        RingScript{"CostBudgetWaits", 4, 10, false, "res:6=0 put:0 &res:6=1 take=0"},
        RingScript{"CostlierThanTheBudgetAlone", 4, 10, false, "res:20=0 put:0 &res:1=1 take=0"},
        RingScript{"CloseEndsAWaitingReserve", 1, 100, false,
                   "res:1=0 &res:1=- close drained=0 put:0 take=0 drained=1"},
        RingScript{"UrgentResultWakesTheTaker", 4, 100, false, "res:1=0 &wait=1 urgent:0 take=0"},
        RingScript{"ThirdResultWakesTheTaker", 4, 100, true,
                   "res:1=0 res:1=1 res:1=2 &3wait=1 put:0 put:1 put:2 take=0,1,2"},
        RingScript{"CloseWakesTheTakerOfAnEmptyRing", 4, 100, false, "&wait=1 close drained=1"}),
    [](const auto& info) { return std::string(info.param.name); });

struct Caught {
  const char* name;
  std::function<void()> thrower;
  const char* text;
};

class FailureText : public ::testing::TestWithParam<Caught> {};

TEST_P(FailureText, NamesWhatWasCaught) {
  std::exception_ptr caught;
  try {
    GetParam().thrower();
  } catch (...) {
    caught = std::current_exception();
  }
  EXPECT_EQ(failureText(caught), GetParam().text);
  std::string noted = "earlier text";
  noteFailure(noted, caught);
  EXPECT_EQ(noted, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Exceptions, FailureText,
    ::testing::Values(
        Caught{"BadAlloc", [] { throw std::bad_alloc(); }, "out of memory"},
        Caught{"LengthError", [] { throw std::length_error("basic_string::_M_create"); },
               "basic_string::_M_create"},
        Caught{"SystemError",
               [] { throw std::system_error(std::make_error_code(std::errc::bad_file_descriptor), "read"); },
               "read: Bad file descriptor"},
        Caught{"NotStd", [] { throw 42; }, "an exception that is not a std::exception"},
        Caught{"Nothing", [] {}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace fpcheck
