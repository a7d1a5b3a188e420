#include "tools/conform/clauses.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "foundation/module_pin.h"
#include "foundation/utf8_text.h"
#include "fpcsdk/codes.h"
#include "tools/conform/kit_platform.h"
#include "tools/conform/library_file.h"
#include "tools/conform/sdk_session.h"

namespace conform {

namespace {

// How often the known answers are checked again on every thread.
constexpr int kRounds = 10;
// How many instances the instances clause asks for, at least.
constexpr unsigned kManyInstances = 16;
// The byte a check's verdict holds before the call.
constexpr unsigned char kPoison = 0x5A;

[[noreturn]] void fail(const std::string& reason) { throw ClauseFailure(reason); }

// The first of a list of findings, and how many more there are.
void failOnAny(const std::vector<std::string>& findings) {
  if (findings.empty()) return;
  std::string reason = findings.front();
  if (findings.size() > 1) reason += " (and " + std::to_string(findings.size() - 1) + " more)";
  fail(reason);
}

std::vector<Answer> answersOf(SdkSession& session, fpcsdk::FPCInstance& instance,
                              const std::vector<Case>& cases) {
  std::vector<Answer> answers;
  for (const Case& entry : cases) answers.push_back(session.check(instance, entry));
  return answers;
}

// The answers now, on a new instance and on one that checked before.
void requireSameAnswers(SdkSession& session, fpcsdk::FPCInstance& old,
                        const std::vector<Case>& cases, const std::vector<Answer>& before,
                        const std::string& when) {
  fpcsdk::FPCInstance* fresh = session.newInstance();
  for (fpcsdk::FPCInstance* instance : {fresh, &old}) {
    const std::vector<Answer> now = answersOf(session, *instance, cases);
    for (std::size_t index = 0; index < cases.size(); ++index) {
      if (!sameAnswer(now[index], before[index])) {
        fail(when + ", " + cases[index].name + " gave " + describe(now[index]) + " instead of " +
             describe(before[index]));
      }
    }
  }
  session.endInstance(fresh);
}

// The library loaded and an object made and started, as a host's load.
void beginLoaded(SdkSession& session) {
  session.loadLibrary();
  session.create();
  session.start();
}

// The answers of a new object whose settings the kit keeps, started as a
// host starts it and stopped again.
std::vector<Answer> answersOfAnObject(SdkSession& session, const std::vector<Case>& cases) {
  session.create();
  session.start();
  fpcsdk::FPCInstance* instance = session.newInstance();
  std::vector<Answer> answers = answersOf(session, *instance, cases);
  session.endInstance(instance);
  session.stop();
  return answers;
}

// body on count threads at once, each with an instance of its own made and
// destroyed on that thread, each calling threadCleanup before it ends, as a
// host's scanning threads do.
void onThreads(SdkSession& session, unsigned count,
               const std::function<void(unsigned thread, fpcsdk::FPCInstance&)>& body) {
  runOnThreads(count, [&](unsigned thread) {
    fpcsdk::FPCInstance* instance = session.newInstance();
    body(thread, *instance);
    session.threadCleanup();
    session.endInstance(instance);
  });
}

// The kit's odd but valid inputs: a name beyond ASCII, a hash, options,
// extra data, an empty file.
std::vector<fpcsdk::DetectionInput> unusualInputs(const Settings& settings) {
  std::vector<fpcsdk::DetectionInput> inputs(3);
  inputs[0].detectionName = "Trojan.\xC3\x89t\xC3\xA9.\xE2\x82\xAC \xF0\x9F\x98\x80";
  inputs[0].fileSize = 68;
  inputs[1].detectionName = "fpcsdk-conform.Probe";
  inputs[1].fileSize = 68;
  inputs[1].hash = "not a hash";
  inputs[1].extraData = "{\"extra\": true}";
  inputs[1].customOptions.boolOptions["flag"] = true;
  inputs[1].customOptions.intOptions["number"] = -1;
  inputs[1].customOptions.stringOptions["text"] = "value";
  inputs[2].detectionName = "fpcsdk-conform.Probe";
  inputs[2].filePath = settings.library;
  inputs[2].fileSize = 0;
  return inputs;
}

// Every operation once or more, in the order a host's session makes them,
// with the unusual calls a host may make besides; nothing is required of
// the answers. The codes, no-throw, log-text and output clauses judge it.
void exerciseEveryCall(ClauseContext& context, SdkSession& session) {
  const Settings& settings = context.settings;
  session.loadLibrary();
  session.create();
  session.setProxy("", "");
  session.initialize();
  session.initialize();
  for (const std::string& proxy :
       {settings.proxy, std::string(kWellFormedProxy), std::string(kMalformedProxy), settings.proxy}) {
    session.setProxy(proxy, settings.certificatePath);
  }
  fpcsdk::FPCInstance* instance = nullptr;
  if (session.createInstance(instance) == fpcsdk::Ok && instance != nullptr) {
    answersOf(session, *instance, context.cases);
    for (const fpcsdk::DetectionInput& input : unusualInputs(settings)) {
      session.check(*instance, input);
    }
    session.threadCleanup();
    session.destroyInstance(instance);
  }
  session.uninitialize();
  session.destroy();
}

void exports(ClauseContext& context) {
  context.report.step("reading the library file");
  LibraryFacts facts;
  try {
    facts = readLibraryFile(context.settings.library);
  } catch (const std::exception& error) {
    fail("cannot read " + context.settings.library + ": " + error.what());
  }
  std::string reason;
  for (const std::string& problem : exportProblems(facts)) {
    reason += (reason.empty() ? "" : "; ") + problem;
  }
  if (!reason.empty()) fail(reason);
}

void create(ClauseContext& context) {
  SdkSession session(context.settings, context.report);
  session.loadLibrary();
  for (const bool withLog : {true, false}) {
    session.create(withLog);
    session.destroy();
  }
}

void codes(ClauseContext& context) {
  SdkSession session(context.settings, context.report);
  exerciseEveryCall(context, session);
  failOnAny(session.badCodes());
}

void noThrow(ClauseContext& context) {
  SdkSession session(context.settings, context.report);
  exerciseEveryCall(context, session);
  failOnAny(session.exceptions());
}

void initialize(ClauseContext& context) {
  SdkSession session(context.settings, context.report);
  beginLoaded(session);
  fpcsdk::FPCInstance* instance = session.newInstance();
  const std::vector<Answer> before = answersOf(session, *instance, context.cases);
  session.endInstance(instance);
  SdkSession::require(session.initialize(), fpcsdk::AlreadyInitialized, "a second initialize");
  SdkSession::require(session.uninitialize(), fpcsdk::Ok, "uninitialize");
  SdkSession::require(session.initialize(), fpcsdk::Ok, "initialize after uninitialize");
  SdkSession::require(session.setProxy(context.settings.proxy, context.settings.certificatePath),
                      fpcsdk::Ok, "setProxy after initialize again");
  instance = session.newInstance();
  requireSameAnswers(session, *instance, context.cases, before,
                     "after uninitialize and initialize");
  session.endInstance(instance);
  session.stop();
}

void instances(ClauseContext& context) {
  SdkSession session(context.settings, context.report);
  beginLoaded(session);
  const unsigned threads = context.settings.threads;
  const unsigned each = std::max(1u, kManyInstances / threads + (kManyInstances % threads != 0));
  std::mutex mutex;
  std::vector<fpcsdk::FPCInstance*> made;
  std::optional<std::string> problem;  // the first; empty for an answer with no instance
  std::optional<std::int32_t> refusal;
  runOnThreads(threads, [&](unsigned) {
    for (unsigned index = 0; index < each; ++index) {
      fpcsdk::FPCInstance* instance = nullptr;
      const auto code = session.createInstance(instance);
      const std::lock_guard lock(mutex);
      if (code == fpcsdk::Ok && instance == nullptr && !problem) {
        problem.emplace();
      } else if (code != fpcsdk::Ok && instance != nullptr && !problem) {
        problem = "createFpcInstance " + gave(code) + " and an instance all the same";
      }
      if (code == fpcsdk::Ok && instance != nullptr) {
        made.push_back(instance);
      } else if (!refusal) {
        refusal = code.value_or(-1);
      }
    }
  });
  if (problem && problem->empty()) {
    // Counted once every thread is done: the thread given the last instance
    // may not have recorded it yet when another got the empty answer, and no
    // instance is released before this point.
    problem = "createFpcInstance gave 0 but no instance, with " + std::to_string(made.size()) +
              " instance(s) alive";
  }
  if (problem) fail(*problem);
  if (made.empty()) fail("createFpcInstance refused every instance: " + gave(refusal));
  if (std::set<fpcsdk::FPCInstance*>(made.begin(), made.end()).size() != made.size()) {
    fail("createFpcInstance gave the same instance twice");
  }
  std::atomic<std::size_t> next{0};
  runOnThreads(threads, [&](unsigned) {
    for (std::size_t index = next++; index < made.size(); index = next++) {
      const auto code = session.destroyInstance(made[index]);
      const std::lock_guard lock(mutex);
      if (code != fpcsdk::Ok && !problem) problem = "destroyFpcInstance " + gave(code);
    }
  });
  if (problem) fail(*problem);
  session.stop();
}

void verdictWritten(ClauseContext& context) {
  SdkSession session(context.settings, context.report);
  beginLoaded(session);
  fpcsdk::FPCInstance* instance = session.newInstance();
  bool judged = false;
  for (const Case& entry : context.cases) {
    const Answer answer = session.check(*instance, entry, kPoison);
    if (answer.code != fpcsdk::Ok) continue;
    judged = true;
    if (answer.byte > 1) {
      char byte[8];
      std::snprintf(byte, sizeof byte, "0x%02X", answer.byte);
      fail("checkDetection gave 0 for " + entry.name + " but wrote no verdict: its byte still " +
           "holds " + byte);
    }
  }
  session.endInstance(instance);
  session.stop();
  if (!judged) {
    throw ClauseSkipped("no check gave 0 to judge (give --cases, and --cloud-url if the SDK "
                        "needs its cloud)");
  }
}

void knownAnswers(ClauseContext& context) {
  if (!context.knownAnswers) throw ClauseSkipped("no --cases given");
  SdkSession session(context.settings, context.report);
  beginLoaded(session);
  const auto judge = [&](const Case& entry, const Answer& answer, const std::string& where) {
    if (answer.code != fpcsdk::Ok) fail(entry.name + ": checkDetection " + gave(answer.code) + where);
    if (answer.verdict != *entry.falsePositive) {
      fail(entry.name + ": the verdict is " + (answer.verdict ? "true" : "false") + ", not " +
           (*entry.falsePositive ? "true" : "false") + where);
    }
  };
  fpcsdk::FPCInstance* instance = session.newInstance();
  for (const Case& entry : context.cases) judge(entry, session.check(*instance, entry), "");
  session.endInstance(instance);
  const unsigned threads = context.settings.threads;
  onThreads(session, threads, [&](unsigned thread, fpcsdk::FPCInstance& own) {
    for (int round = 1; round <= kRounds; ++round) {
      for (const Case& entry : context.cases) {
        judge(entry, session.check(own, entry),
              " on thread " + std::to_string(thread + 1) + " of " + std::to_string(threads) +
                  ", round " + std::to_string(round) + " of " + std::to_string(kRounds));
      }
    }
  });
  session.stop();
}

// Settings the kit lets go right after the call that received them: their
// texts are overwritten, the objects destroyed, and their memory holds 0xDD
// bytes until the clause ends. What the SDK kept of them other than copies
// reads that.
template <class T>
class Overwritten {
 public:
  explicit Overwritten(const T& value) : value_(new (memory_) T(value)) {}
  ~Overwritten() { end(); }
  Overwritten(const Overwritten&) = delete;
  Overwritten& operator=(const Overwritten&) = delete;

  const T& get() const { return *value_; }
  void end() {
    if (value_ == nullptr) return;
    overwriteTexts(*value_);
    std::destroy_at(value_);
    value_ = nullptr;
    std::memset(memory_, 0xDD, sizeof memory_);
  }

 private:
  static void overwriteTexts(std::string& text) { std::fill(text.begin(), text.end(), '\xDD'); }
  static void overwriteTexts(fpcsdk::FPCConfig& config) {
    for (std::string* text : {&config.cloudUrl, &config.sdkText1, &config.hostDataString,
                              &config.pluginVersionText, &config.sdkText7, &config.sdkText4}) {
      overwriteTexts(*text);
    }
  }

  alignas(T) unsigned char memory_[sizeof(T)];
  T* value_;
};

void configLifetime(ClauseContext& context) {
  const Settings& settings = context.settings;
  SdkSession session(settings, context.report);
  session.loadLibrary();
  // The answers of an object whose settings the kit keeps are those of one whose settings are gone right after each call, a
  // later setProxy (a host's proxy change) included.
  std::vector<std::unique_ptr<Overwritten<std::string>>> texts;
  const auto setProxy = [&](const char* call) {
    texts.push_back(std::make_unique<Overwritten<std::string>>(settings.proxy));
    texts.push_back(std::make_unique<Overwritten<std::string>>(settings.certificatePath));
    const auto code = session.setProxy(texts[texts.size() - 2]->get(), texts.back()->get());
    texts[texts.size() - 2]->end();
    texts.back()->end();
    SdkSession::require(code, fpcsdk::Ok, call);
  };
  const std::vector<Answer> kept = answersOfAnObject(session, context.cases);
  session.create();
  const auto config = std::make_unique<Overwritten<fpcsdk::FPCConfig>>(settings.config());
  SdkSession::require(session.initialize(config->get()), fpcsdk::Ok, "initialize");
  config->end();
  setProxy("setProxy");
  fpcsdk::FPCInstance* instance = session.newInstance();
  requireSameAnswers(session, *instance, context.cases, kept,
                     "with the FPCConfig and the setProxy texts overwritten after the calls");
  setProxy("a second setProxy");
  requireSameAnswers(session, *instance, context.cases, kept,
                     "after a second setProxy with its texts overwritten after the call");
  session.endInstance(instance);
  session.stop();
}

void proxy(ClauseContext& context) {
  const Settings& settings = context.settings;
  SdkSession session(settings, context.report);
  session.loadLibrary();
  // The answers of an object that was never refused a proxy are those of one
  // given every kind of proxy, before initialize too.
  const std::vector<Answer> before = answersOfAnObject(session, context.cases);
  session.create();
  for (const char* early : {"", kWellFormedProxy, kMalformedProxy}) session.setProxy(early, "");
  if (const auto code = session.initialize(); code != fpcsdk::Ok) {
    fail("initialize " + gave(code) + " after setProxy calls before it");
  }
  SdkSession::require(session.setProxy(settings.proxy, settings.certificatePath), fpcsdk::Ok,
                      "setProxy with --proxy and --certificate-path");
  fpcsdk::FPCInstance* instance = session.newInstance();
  requireSameAnswers(session, *instance, context.cases, before,
                     "after setProxy calls before initialize");
  for (const std::string& proxy : {std::string(kMalformedProxy), std::string(kWellFormedProxy),
                                   std::string()}) {
    const auto code = session.setProxy(proxy, settings.certificatePath);
    const std::string shown = "setProxy(\"" + proxy + "\")";
    if (code != fpcsdk::Ok) {
      requireSameAnswers(session, *instance, context.cases, before,
                         "after " + shown + " was refused with " +
                             (code ? describeCode(*code) : std::string("an exception")));
      continue;
    }
    SdkSession::require(session.setProxy(settings.proxy, settings.certificatePath), fpcsdk::Ok,
                        "setProxy back to --proxy after " + shown);
    requireSameAnswers(session, *instance, context.cases, before, "after " + shown + " and back");
  }
  session.endInstance(instance);
  session.stop();
}

void threadCleanup(ClauseContext& context) {
  SdkSession session(context.settings, context.report);
  beginLoaded(session);
  const auto require = [](const std::optional<std::int32_t>& code, const char* where) {
    if (!code) fail(std::string("threadCleanup on ") + where + " threw an exception");
  };
  std::optional<std::int32_t> onFreshThread;
  std::jthread([&] { onFreshThread = session.threadCleanup(); }).join();
  require(onFreshThread, "a thread that never checked");
  onThreads(session, context.settings.threads, [&](unsigned, fpcsdk::FPCInstance& own) {
    answersOf(session, own, context.cases);
  });
  require(session.threadCleanup(), "the main thread, which never checked");
  failOnAny(session.exceptions());
  session.stop();
}

void time(ClauseContext& context) {
  SdkSession session(context.settings, context.report);
  beginLoaded(session);
  fpcsdk::FPCInstance* instance = session.newInstance();
  answersOf(session, *instance, context.cases);
  session.endInstance(instance);
  session.stop();
  failOnAny(session.slowCalls());
}

// A session as a host's: checks on every thread, then the unload order.
void hostSession(ClauseContext& context, SdkSession& session) {
  session.create();
  session.start();
  onThreads(session, context.settings.threads, [&](unsigned, fpcsdk::FPCInstance& own) {
    answersOf(session, own, context.cases);
  });
  session.stop();
}

void logAfterDestroy(ClauseContext& context) {
  SdkSession session(context.settings, context.report);
  session.loadLibrary();
  hostSession(context, session);
  // The library stays mapped through the grace period, so that a late call
  // from a thread is recorded rather than a crash; its own clean-up runs as
  // it is freed.
  context.report.step("the grace period after FPCDestroy");
  std::this_thread::sleep_for(kGracePeriod);
  session.freeLibrary();
  const std::vector<std::string> late = KitLog::instance().lateCalls();
  if (late.empty()) return;
  std::string calls;
  for (std::size_t index = 0; index < late.size() && index < 3; ++index) {
    calls += (index == 0 ? "" : ", ") + late[index];
  }
  fail(std::to_string(late.size()) + " call(s) reached the LogInterface after FPCDestroy returned: " +
       calls + (late.size() > 3 ? ", ..." : ""));
}

// The threads that run now and did not before, the system's own workers
// aside.
std::vector<ThreadSeen> newThreads(const std::vector<ThreadSeen>& before) {
  std::vector<ThreadSeen> found;
  for (const ThreadSeen& thread : threadsNow()) {
    const bool old = std::any_of(before.begin(), before.end(),
                                 [&](const ThreadSeen& seen) { return seen.id == thread.id; });
    if (!old && !thread.systemWorker) found.push_back(thread);
  }
  return found;
}

void threads(ClauseContext& context) {
  SdkSession session(context.settings, context.report);
  session.loadLibrary();
  // A first thread of the kit's own, so that what a runtime starts with the
  // first thread (a sanitizer's helper) is there before the count.
  std::jthread([] {}).join();
  const std::vector<ThreadSeen> before = threadsNow();
  hostSession(context, session);
  context.report.step("the grace period after FPCDestroy");
  const auto deadline = std::chrono::steady_clock::now() + kGracePeriod;
  std::vector<ThreadSeen> left = newThreads(before);
  while (!left.empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    left = newThreads(before);
  }
  if (left.empty()) return;
  std::string named;
  for (const ThreadSeen& thread : left) {
    named += (named.empty() ? "" : ", ") + std::to_string(thread.id) +
             (thread.origin.empty() ? "" : " (" + printable(thread.origin, 40) + ")");
  }
  fail(std::to_string(left.size()) + " thread(s) started since FPCCreate still run " +
       std::to_string(kGracePeriod.count()) + " ms after FPCDestroy: " + named);
}

void unload(ClauseContext& context) {
  SdkSession session(context.settings, context.report);
  session.loadLibrary();
  const void* library = session.libraryAddress();
  hostSession(context, session);
  session.freeLibrary();
  context.report.step("the grace period after the library was freed");
  std::this_thread::sleep_for(kGracePeriod);
  if (plx::moduleHoldsAddress(library)) {
    fail("the library is still loaded after FPCDestroy and its release: something keeps it (a "
         "GNU-unique symbol, RTLD_NODELETE, a reference the library holds to itself, or a "
         "thread of its own)");
  }
}

void logText(ClauseContext& context) {
  SdkSession session(context.settings, context.report);
  exerciseEveryCall(context, session);
  for (const KitLog::Line& line : KitLog::instance().lines()) {
    const std::string shown = "\"" + printable(line.text, 80) + "\"";
    if (line.level < 0 || line.level > 3) {
      fail("a line at level " + std::to_string(line.level) + ", not 0 to 3: " + shown);
    }
    if (const std::size_t nul = line.text.find('\0'); nul != std::string::npos) {
      fail("a line holds a NUL byte at offset " + std::to_string(nul) + ": " + shown);
    }
    if (const std::size_t bad = plx::firstInvalidUtf8(line.text); bad != std::string::npos) {
      char byte[8];
      std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(line.text[bad]));
      fail("a line is not UTF-8 (byte " + std::string(byte) + " at offset " +
           std::to_string(bad) + "): " + shown);
    }
  }
}

void output(ClauseContext& context) {
  SdkSession session(context.settings, context.report);
  exerciseEveryCall(context, session);
}

constexpr Clause kClauses[] = {
    {"exports", "FPCCreate and FPCDestroy are exported; no GNU-unique symbol; no other C++ "
                "standard library than the plug-in's", exports},
    {"create", "FPCCreate gives 0 and an object, with a log interface or none; FPCDestroy of "
               "an object never initialized returns", create},
    {"codes", "every call returns a code from 0 to 12", codes},
    {"no-throw", "no exception leaves any call", noThrow},
    {"initialize", "initialize gives 0, a second one 3; after uninitialize it works again",
     initialize},
    {"instances", "createFpcInstance gives 0 and an instance or a code and none, on many "
                  "threads; destroyFpcInstance of each gives 0", instances},
    {"verdict-written", "a check that gives 0 has written the verdict", verdictWritten},
    {"known-answers", "the --cases give their verdicts on one instance, then on --threads "
                      "instances at once, repeated", knownAnswers},
    {"config-lifetime", "the answers stay the same when the FPCConfig and the setProxy texts "
                        "are overwritten right after the calls", configLifetime},
    {"proxy", "setProxy before and after initialize, empty, well-formed or malformed, returns "
              "a code and a refusal changes nothing", proxy},
    {"thread-cleanup", "threadCleanup returns on a thread that never checked and on every "
                       "checking thread", threadCleanup},
    {"time", "initialize, each check and uninitialize return within the time budget", time},
    {"log-after-destroy", "no call reaches the log interface after FPCDestroy has returned",
     logAfterDestroy},
    {"threads", "no thread started since FPCCreate runs after FPCDestroy and a grace period "
                "(the system's own workers aside)", threads},
    {"unload", "after FPCDestroy the library is freed and gone, and the process runs on",
     unload},
    {"log-text", "every log line is UTF-8 without NUL bytes, at a level from 0 to 3", logText},
    {"output", "the SDK writes nothing to standard output or standard error", output, true},
    {"plugin", "the answers through the plug-in, as a host meets them: every status Success",
     checkThroughThePlugin},
};

}  // namespace

void runOnThreads(unsigned count, const std::function<void(unsigned thread)>& body) {
  std::vector<std::optional<std::string>> failures(count);
  {
    std::vector<std::jthread> threads;
    for (unsigned thread = 0; thread < count; ++thread) {
      threads.emplace_back([&, thread] {
        try {
          body(thread);
        } catch (const std::exception& error) {
          failures[thread] = error.what();
        }
      });
    }
  }
  for (const std::optional<std::string>& failure : failures) {
    if (failure) throw ClauseFailure(*failure);
  }
}

std::span<const Clause> clauses() { return kClauses; }

const Clause* findClause(std::string_view id) {
  for (const Clause& clause : kClauses) {
    if (id == clause.id) return &clause;
  }
  return nullptr;
}

}  // namespace conform
