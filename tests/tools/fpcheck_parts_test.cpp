// fpcheck's parts that stand alone, driven directly: the batch's bounded
// queue and reorder ring by scripts of steps (a row each), the naming of a
// caught failure, and the JSON lines byte for byte: the result line it
// writes and what it reads from a request line, whichever way the line is
// read.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "tools/bounded_queue.h"
#include "tools/failure_text.h"
#include "tools/json_lines.h"
#include "tools/reorder_ring.h"

namespace fpcheck {
namespace {

using namespace std::chrono_literals;

constexpr auto kByName = [](const auto& info) { return std::string(info.param.name); };

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

// Runs the steps; run(step) does one and returns what it gave.
void runScript(const std::string& script, const std::function<std::string(const Step&)>& run) {
  static const std::regex kStep(R"((&([1-9]?))?([a-z]+)(:([^=]*))?(=(.*))?)");
  std::future<std::string> waiting;
  Step waitingStep;
  std::istringstream words(script);
  for (std::string word; words >> word;) {
    std::smatch part;
    ASSERT_TRUE(std::regex_match(word, part, kStep)) << word;
    const int waits = part[1].matched ? std::max(1, std::atoi(part[2].str().c_str())) : 0;
    const Step step{waits, part[3], part[5], part[7]};
    SCOPED_TRACE(step.op + ":" + step.argument);
    if (step.waits > 0) {
      waiting = std::async(std::launch::async, run, step);
      waitingStep = step;
      continue;
    }
    if (waiting.valid()) {
      ASSERT_EQ(waiting.wait_for(50ms), std::future_status::timeout) << "did not wait";
    }
    EXPECT_EQ(run(step), step.expected);
    if (waiting.valid() && --waitingStep.waits == 0) {
      EXPECT_EQ(waiting.get(), waitingStep.expected) << "the step that waited";
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

INSTANTIATE_TEST_SUITE_P(Scripts, QueueSteps, ::testing::ValuesIn(std::vector<QueueScript>{
    {"FirstInFirstOut", 3, "push:a=1 push:b=1 pop=a push:c=1 pop=b pop=c"},
    {"CloseLetsTheRestDrain", 3, "push:a=1 push:b=1 close pop=a pop=b pop=- push:c=0"},
    {"StopDropsTheRest", 3, "push:a=1 push:b=1 stop=ab pop=- push:c=0"},
    {"PushWaitsWhileFull", 1, "push:a=1 &push:b=1 pop=a pop=b"},
    {"PopWaitsWhileEmpty", 1, "&pop=a push:a=1"},
    {"CloseEndsAWaitingPop", 1, "&pop=- close"},
    {"StopEndsAWaitingPush", 1, "push:a=1 &push:b=0 stop=a"}}),
    kByName);

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
    if (step.op == "put" || step.op == "urgent")
      ring.put(ticket(step), ticket(step).sequence, step.op == "urgent");
    if (step.op == "abandon") ring.abandon(ticket(step));
    if (step.op == "close") ring.close();
    if (step.op == "drained") return ring.drained() ? "1" : "0";
    if (step.op == "wait") return ring.waitTakeable(Ring::Clock::now() + 10s) ? "1" : "0";
    std::string text;
    if (step.op != "take") return text;
    std::vector<std::size_t> taken;
    ring.take(taken);
    for (const std::size_t value : taken) text += (text.empty() ? "" : ",") + std::to_string(value);
    return text;
  });
}

INSTANTIATE_TEST_SUITE_P(Scripts, RingSteps, ::testing::ValuesIn(std::vector<RingScript>{
    {"InTheOrderReserved", 4, 100, false, "res:1=0 res:1=1 res:1=2 put:2 put:1 take= put:0 take=0,1,2"},
    {"UnorderedAsFinished", 4, 100, true, "res:1=0 res:1=1 res:1=2 put:2 put:0 take=2,0 put:1 take=1"},
    {"UnorderedReusesTheSlotsFreed", 2, 100, true, "res:1=0 res:1=1 put:1 take=1 res:1=2 put:2 put:0 take=2,0"},
    {"AbandonedSkipped", 4, 100, false, "res:1=0 res:1=1 res:1=2 abandon:1 put:2 take= put:0 take=0,2"},
    {"FullWindowGoesOnOnceHalfIsFree", 4, 100, false,
     "res:1=0 res:1=1 res:1=2 res:1=3 put:0 &3res:1=4 take=0 put:1 take=1"},
    {"CostBudgetWaits", 4, 10, false, "res:6=0 put:0 &res:6=1 take=0"},
    {"CostlierThanTheBudgetAlone", 4, 10, false, "res:20=0 put:0 &res:1=1 take=0"},
    {"CloseEndsAWaitingReserve", 1, 100, false, "res:1=0 &res:1=- close drained=0 put:0 take=0 drained=1"},
    {"UrgentResultWakesTheTaker", 4, 100, false, "res:1=0 &wait=1 urgent:0 take=0"},
    {"ThirdResultWakesTheTaker", 4, 100, true, "res:1=0 res:1=1 res:1=2 &3wait=1 put:0 put:1 put:2 take=0,1,2"},
    {"CloseWakesTheTakerOfAnEmptyRing", 4, 100, false, "&wait=1 close drained=1"}}),
    kByName);

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

INSTANTIATE_TEST_SUITE_P(Exceptions, FailureText, ::testing::ValuesIn(std::vector<Caught>{
    {"BadAlloc", [] { throw std::bad_alloc(); }, "out of memory"},
    {"LengthError", [] { throw std::length_error("basic_string::_M_create"); }, "basic_string::_M_create"},
    {"SystemError", [] { throw std::system_error(std::make_error_code(std::errc::bad_file_descriptor), "read"); },
     "read: Bad file descriptor"},
    {"NotStd", [] { throw 42; }, "an exception that is not a std::exception"},
    {"Nothing", [] {}, ""}}),
    kByName);

struct ResultCase {
  const char* name;
  CheckResult result;
  std::optional<std::size_t> line;
  const char* text;
};

CheckResult result(std::string path, bool memory, std::optional<bool> falsePositive,
                   std::string status, std::int64_t code, double milliseconds,
                   std::string error = "") {
  return {std::move(path), "Trojan.X", memory, falsePositive, std::move(status), code, milliseconds,
          std::move(error)};
}

class ResultLine : public ::testing::TestWithParam<ResultCase> {};

TEST_P(ResultLine, IsTheseBytes) {
  EXPECT_EQ(resultLine(GetParam().result, GetParam().line), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Results, ResultLine, ::testing::ValuesIn(std::vector<ResultCase>{
    {"File", result("/tmp/a.txt", false, true, "Success", 0, 12.3456789), std::nullopt,
     R"({"path":"/tmp/a.txt","input":"file","detection":"Trojan.X","falsePositive":true,"status":"Success","statusCode":0,"milliseconds":12.346})"},
    {"MemoryNumbered", result("m.bin", true, false, "Success", 0, 0.0004), 7,
     R"({"line":7,"path":"m.bin","input":"memory","detection":"Trojan.X","falsePositive":false,"status":"Success","statusCode":0,"milliseconds":0.0})"},
    {"FailedWithEscapes",
     result("caf\xc3\xa9\xff\x01", false, std::nullopt, "NotChecked", -1, 1234567.8915,
            "line \"2\":\tbad\\\n"),
     std::nullopt,
     "{\"path\":\"caf\xc3\xa9\xef\xbf\xbd\\u0001\",\"input\":\"file\",\"detection\":"
     "\"Trojan.X\",\"falsePositive\":null,\"status\":\"NotChecked\",\"statusCode\":-1,"
     "\"milliseconds\":1234567.892,\"error\":\"line \\\"2\\\":\\tbad\\\\\\n\"}"},
    {"WithHint", result("a", false, std::nullopt, "TimedOut", 8, 2e-2, "slow"), 1,
     R"({"line":1,"path":"a","input":"file","detection":"Trojan.X","falsePositive":null,"status":"TimedOut","statusCode":8,"milliseconds":0.02,"error":"slow","hint":"the service did not answer in time: raise --data-timeout (or --connection-timeout), or check the service"})"}}),
    kByName);

struct RequestCase {
  const char* name;
  const char* line;
  const char* read;  // what was read, or the reason it was refused
};

std::string readOf(const char* line) {
  CheckRequest request;
  std::string reason;
  const bool ok = parseRequestLine(line, request, reason);
  std::string text =
      (ok ? "" : reason + " / ") + "path=" + request.path + " detection=" + request.detection;
  if (request.hash) text += " hash=" + *request.hash;
  if (request.extra) text += " extra=" + *request.extra;
  if (request.memory) text += " memory";
  if (request.size) text += " size=" + std::to_string(*request.size);
  const std::size_t options = request.bools.size() + request.ints.size() + request.strings.size();
  if (options > 0) text += " options=" + std::to_string(options);
  return text;
}

class RequestLine : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RequestLine, ReadsOrRefuses) { EXPECT_EQ(readOf(GetParam().line), GetParam().read); }

const std::string kNotWhole =
    "\"size\" must be a whole number of bytes, 0 or more / path=p detection=d";

INSTANTIATE_TEST_SUITE_P(Requests, RequestLine, ::testing::ValuesIn(std::vector<RequestCase>{
    {"Plain", R"({"path":"a.txt","detection":"T.X","hash":"AB","extra":"","size":50})",
     "path=a.txt detection=T.X hash=AB extra= size=50"},
    {"Spaced", R"( { "memory" : true , "path" : "m" , "detection" : "D" } )", "path=m detection=D memory"},
    {"Escaped", R"({"path":"a\"b","detection":"D\u0041"})", "path=a\"b detection=DA"},
    {"Options", R"({"path":"p","detection":"d","options":{"k":1,"b":true,"s":"x"}})", "path=p detection=d options=3"},
    {"LargestSize", R"({"path":"p","detection":"d","size":18446744073709551615})",
     "path=p detection=d size=18446744073709551615"},
    {"SizeBeyond64Bits", R"({"path":"p","detection":"d","size":18446744073709551616})", kNotWhole.c_str()},
    {"SizeWithFraction", R"({"path":"p","detection":"d","size":1.0})", kNotWhole.c_str()},
    {"SizeOfMemory", R"({"path":"p","detection":"d","memory":true,"size":1})",
     "\"size\" is for file checks; a memory check's size is the file's length / path=p detection=d memory size=1"},
    {"NoDetection", R"({"path":"p"})", "\"detection\" is missing / path=p detection="},
    {"HashNotText", R"({"path":"p","detection":"d","hash":5})", "\"hash\" must be text / path=p detection=d"},
    {"Unknown", R"({"path":"p","detection":"d","sha":"x"})",
     "unknown field \"sha\" (known: path, detection, hash, extra, memory, size, options) / path=p detection=d"},
    {"TrailingText", R"({"path":"p","detection":"d"} x)", "not a JSON object / path= detection="},
    {"NotAnObject", "[]", "a request must be a JSON object / path= detection="}}),
    kByName);

}  // namespace
}  // namespace fpcheck
