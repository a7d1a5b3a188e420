// The checked build against a host that breaks its rules: a row per misuse,
// all in one process, which must survive every row. Each row starts from a
// fresh plug-in object with a loaded checker, an instance and a memory input
// ready to check; it names the answer of the call that broke the rule, and
// the lines of the checked build that the whole row, with the release of
// everything in order at its end, writes: exactly one, or none for what the
// release build already answers soundly.
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "tests/support/fake_sdk.h"
#include "tests/support/plugin_host.h"

namespace kesp::test {
namespace {

using fp::Status;

std::string said(Status status) {
  static const char* const kNames[] = {
      "Success",          "Error",     "OutOfMemory", "NotInitialized", "AlreadyInitialized",
      "NotSupported",     "InUse",     "LoadFailed",  "TimedOut",       "ConnectionError",
      "CertificateError", "CloudError"};
  const auto value = static_cast<std::size_t>(status);
  return value < std::size(kNames) ? kNames[value] : "status " + std::to_string(value);
}
std::string said(const void* object) { return object != nullptr ? "an object" : "null"; }
std::string said(bool verdict) { return verdict ? "true" : "false"; }
const std::string kNothing = "nothing";  // what a call without a result says

const std::string kDirectory = sdkDirectory("good");
const char kBuffer[] = "bytes";
const auto kProxy = textOption(fp::OptionProxy, "proxy.example.net:3128");

class World {
 public:
  World() : host(kCheckedPluginName) {
    host.log.expectViolations();
    testing::internal::CaptureStderr();
    plugin = host.plugin.get();
    checker = host.loadedChecker().release();
    config = checker->getConfig();
    instance = host.instance(*checker).release();
    input = memoryInput(*instance, false);
  }
  ~World() {
    releaseAll();
    if (capturing_) testing::internal::GetCapturedStderr();
  }

  PluginHost host;
  kesp::plugins::PluginV1* plugin;
  fp::CheckerV1* checker;
  fp::GlobalConfigV1* config;
  fp::InstanceV1* instance;
  fp::MemoryFileInputV1* input;

  // Objects a row adds are released at the end, newest first, unless gone.
  template <class T>
  T* keep(T* object) {
    const std::lock_guard lock(mutex_);
    kept_.push_back(object);
    return object;
  }
  fp::MemoryFileInputV1* memoryInput(fp::InstanceV1& on, bool kept = true) {
    auto* made = static_cast<fp::MemoryFileInputV1*>(on.createInput(1));
    EXPECT_EQ(made->setDetectionName("EICAR"), Status::Success);
    EXPECT_EQ(made->setBuffer(kBuffer, sizeof kBuffer), Status::Success);
    return kept ? keep(made) : made;
  }
  fp::InstanceV1* secondInstance() { return keep(host.instance(*checker).release()); }
  std::string check(fp::InputV1* with = nullptr, fp::InstanceV1* on = nullptr) {
    fp::OutputV1* output = nullptr;
    const Status status =
        (on != nullptr ? on : instance)->check(with != nullptr ? with : input, &output);
    if (output != nullptr) keep(output);
    return said(status);
  }
  // A release that breaks a rule: the end leaves the object alone.
  template <class T>
  T* release(T* object) {
    object->release();
    gone_.insert(object);
    return object;
  }
  // A second release of object, which has no result.
  template <class T>
  std::string releaseTwice(T* object) {
    release(object)->release();
    return kNothing;
  }
  // Releases what is left in the host's order, the plug-in object last.
  void releaseAll() {
    end();
    for (auto object = kept_.rbegin(); object != kept_.rend(); ++object) releaseOnce(*object);
    releaseOnce(input);
    releaseOnce(instance);
    if (!gone_.contains(checker)) checker->unload();
    releaseOnce(checker);
    if (!gone_.insert(plugin).second) static_cast<void>(host.plugin.release());
    host.plugin.reset();
  }
  // call, on a thread of its own, until end().
  void start(std::function<std::string()> call) {
    running_.push_back(std::async(std::launch::async, std::move(call)));
  }
  // The same, held in the SDK as it reports event.
  void hold(const char* event, std::function<std::string()> call) {
    FakeSdk::instance().holdEvent(event);
    start(std::move(call));
    ASSERT_TRUE(FakeSdk::instance().waitForHeldEvent());
  }
  // call while a check of with is held in the SDK: its answer, if it gives
  // one, then the check's.
  template <class Call>
  std::string duringCheck(Call call, fp::InputV1* with = nullptr) {
    hold("checkDetection", [this, with] { return check(with); });
    if constexpr (std::is_void_v<decltype(call())>) {
      call();
      return end();
    } else {
      return thenEnd(call());
    }
  }
  // answer (taken before the held calls go on), then theirs.
  std::string thenEnd(const std::string& answer) { return answer + " " + end(); }
  // Lets the held calls go on; their answers.
  std::string end() {
    FakeSdk::instance().releaseEvent();
    FakeSdk::instance().releaseChecks();
    std::string answers;
    for (auto& call : running_) answers += (answers.empty() ? "" : " ") + call.get();
    running_.clear();
    return answers;
  }
  // Every line of the checked build, in the host's log (level 0, module 5)
  // and, marked so, on standard error.
  std::vector<std::string> violations() {
    std::vector<std::string> lines;
    for (const LogLine& line : host.log.lines()) {
      if (line.text.starts_with(kViolationPrefix) && line == LogLine{0, 5, 0, line.text}) {
        lines.push_back(line.text);
      }
    }
    capturing_ = false;
    std::istringstream errors(testing::internal::GetCapturedStderr());
    for (std::string line; std::getline(errors, line);) {
      if (line.starts_with(kViolationPrefix)) lines.push_back("stderr: " + line);
    }
    return lines;
  }

 private:
  void releaseOnce(kesp::ReleasableObjectV1* object) {
    if (gone_.insert(object).second) object->release();
  }

  std::mutex mutex_;
  std::vector<kesp::ReleasableObjectV1*> kept_;
  std::set<const void*> gone_;
  std::vector<std::future<std::string>> running_;
  bool capturing_ = true;
};

// What the row's call answers, the one line the row writes (none: ""), and
// the row's calls.
struct Row {
  const char* name;
  std::string answer;
  std::string line;
  std::string (*calls)(World&);
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

#define VIOLATION "Contract violation: "

const Row kRows[] = {
    // A call on a released object, of every kind: refused and named.
    {"PluginUsedAfterRelease", "null",
     "stderr: " VIOLATION
     "'getChecker' called on the plug-in object that was already released [use-after-release]",
     [](World& w) {
       w.releaseAll();
       return said(w.plugin->getChecker());
     }},
    {"PluginInfoUsedAfterRelease", "null",
     VIOLATION "'getName' called on a plug-in information object that was already released "
               "[use-after-release]",
     [](World& w) { return said(w.release(w.plugin->getPluginInfo())->getName()); }},
    {"CheckerUsedAfterRelease", "Error",
     VIOLATION "'load' called on a checker that was already released [use-after-release]",
     [](World& w) {
       w.release(w.instance);
       w.checker->unload();
       return said(w.release(w.checker)->load());
     }},
    {"ConfigurationUsedAfterRelease", "Error",
     VIOLATION "'setBaseDirectory' called on the configuration of a checker that was already "
               "released [use-after-release]",
     [](World& w) {
       w.release(w.instance);
       w.release(w.checker);
       return said(w.config->setBaseDirectory(kDirectory.c_str()));
     }},
    {"InstanceUsedAfterRelease", "Error",
     VIOLATION "'check' called on an instance that was already released [use-after-release]",
     [](World& w) { return w.check(w.input, w.release(w.instance)); }},
    {"OptionsUsedAfterRelease", "Error",
     VIOLATION "'setCustomOption' called on the options of an instance that was already released "
               "[use-after-release]",
     [](World& w) {
       fp::OptionsV1* options = w.instance->getOptions();
       w.release(w.instance);
       const auto option = numberOption(1, 1);
       return said(options->setCustomOption(&option));
     }},
    {"InputUsedAfterRelease", "Error",
     VIOLATION "'setPath' called on an input that was already released [use-after-release]",
     [](World& w) { return said(w.release(w.input)->setPath("/tmp/x")); }},
    {"InputUsedAfter65535FurtherReleases", "Error",
     VIOLATION "'setPath' called on an input that was already released [use-after-release]",
     [](World& w) {
       w.host.log.setMaxLevel(0);
       w.release(w.input);
       for (int i = 0; i < 65535; ++i) w.instance->createInput(1)->release();
       return said(w.input->setPath("/tmp/x"));
     }},
    {"ReleasedInputChecked", "Error",
     VIOLATION "'check' called with an input that was already released [use-after-release]",
     [](World& w) { return w.check(w.release(w.input)); }},
    {"OutputUsedAfterRelease", "false",
     VIOLATION
     "'isFalsePositive' called on an output that was already released [use-after-release]",
     [](World& w) {
       fp::OutputV1* output = nullptr;
       w.instance->check(w.input, &output);
       return said(w.release(output)->isFalsePositive());
     }},

    // A second release, of every kind: nothing is freed twice.
    {"PluginReleasedTwice", kNothing,
     "stderr: " VIOLATION
     "'release' called on the plug-in object that was already released [double-release]",
     [](World& w) {
       w.releaseAll();
       w.plugin->release();
       return kNothing;
     }},
    {"PluginInfoReleasedTwice", kNothing,
     VIOLATION "'release' called on a plug-in information object that was already released "
               "[double-release]",
     [](World& w) { return w.releaseTwice(w.plugin->getPluginInfo()); }},
    {"CheckerReleasedTwice", kNothing,
     VIOLATION "'release' called on a checker that was already released [double-release]",
     [](World& w) {
       w.release(w.instance);
       return w.releaseTwice(w.checker);
     }},
    {"InstanceReleasedTwice", kNothing,
     VIOLATION "'release' called on an instance that was already released [double-release]",
     [](World& w) { return w.releaseTwice(w.instance); }},
    {"InputReleasedTwice", kNothing,
     VIOLATION "'release' called on an input that was already released [double-release]",
     [](World& w) { return w.releaseTwice(w.input); }},
    {"OutputReleasedTwice", kNothing,
     VIOLATION "'release' called on an output that was already released [double-release]",
     [](World& w) {
       fp::OutputV1* output = nullptr;
       w.instance->check(w.input, &output);
       return w.releaseTwice(output);
     }},

    // Lifetimes that do not nest: what is still used stays, and still works.
    {"CheckerReleasedBeforeItsInstance", "Success",
     VIOLATION "'release' called on a checker that still has 1 instance; it is kept alive for "
               "them [release-out-of-order]",
     [](World& w) {
       w.release(w.checker);
       return w.check();
     }},
    {"PluginReleasedBeforeWhatItMade", "Success",
     VIOLATION "'release' called on the plug-in object with 1 checker, 1 instance, 4 inputs, 1 "
               "output not released (checker #1; instance #1; inputs #1, #2, #3 and 1 more; "
               "output #1); they stay alive [not-released]",
     [](World& w) {
       for (int i = 0; i < 3; ++i) w.memoryInput(*w.instance);
       w.check();
       w.release(w.plugin);
       return w.check();
     }},

    // A release while a call runs: refused, and the object goes on working.
    {"InstanceReleasedDuringCheck", "Success Success",
     VIOLATION "'release' called on an instance while 'check' runs on it; it stays alive "
               "[release-during-call]",
     [](World& w) {
       const std::string held = w.duringCheck([&] { w.instance->release(); });
       return held + " " + w.check();
     }},
    {"CheckerReleasedDuringCheck", "Success",
     VIOLATION "'release' called on a checker while 'check' runs on one of its instances; it "
               "stays alive [release-during-call]",
     [](World& w) { return w.duringCheck([&] { w.checker->release(); }); }},
    {"PluginReleasedDuringCheck", "Success",
     VIOLATION "'release' called on the plug-in object while 'check' runs on an instance; it "
               "stays alive [release-during-call]",
     [](World& w) { return w.duringCheck([&] { w.plugin->release(); }); }},
    {"InputReleasedDuringCheck", "Success Success",
     VIOLATION
     "'release' called on an input while 'check' reads it; it stays alive [release-during-call]",
     [](World& w) {
       const std::string held = w.duringCheck([&] { w.input->release(); });
       return held + " " + w.check();
     }},

    // Calls that must not overlap: the second is refused, the first goes on.
    {"ResetDuringCheck", "Success",
     VIOLATION "'reset' called on the configuration of a checker while 'check' runs on one of its "
               "instances [overlapping-calls]",
     [](World& w) { return w.duringCheck([&] { w.config->reset(); }); }},
    {"BaseDirectoryDuringCheck", "Error Success",
     VIOLATION "'setBaseDirectory' called on the configuration of a checker while 'check' runs on "
               "one of its instances [overlapping-calls]",
     [](World& w) {
       return w.duringCheck([&] { return said(w.config->setBaseDirectory("/tmp")); });
     }},
    {"OptionDuringCheck", "Error Success",
     VIOLATION "'setCustomOption' called on the configuration of a checker while 'check' runs on "
               "one of its instances [overlapping-calls]",
     [](World& w) {
       const auto option = numberOption(fp::OptionDataTimeout, 100);
       return w.duringCheck([&] { return said(w.config->setCustomOption(&option)); });
     }},
    {"CheckDuringConfiguration", "Error",
     VIOLATION "'check' called on an instance while 'setBaseDirectory' runs on its checker "
               "[overlapping-calls]",
     [](World& w) {
       std::string answer;
       w.host.log.callOnLine("Invalid configuration: base directory is null or empty",
                             [&] { answer = w.check(); });
       w.config->setBaseDirectory(nullptr);
       return answer;
     }},
    {"ConfigurationDuringLoad", "Error Success",
     VIOLATION "'setBaseDirectory' called on the configuration of a checker while 'load' runs on "
               "its checker [overlapping-calls]",
     [](World& w) {
       fp::CheckerV1* other = w.keep(w.host.configuredChecker().release());
       w.hold("initialize", [other] { return said(other->load()); });
       return w.thenEnd(said(other->getConfig()->setBaseDirectory(kDirectory.c_str())));
     }},
    {"CreateInstanceDuringUnload", "Error Success",
     VIOLATION "'createInstance' called on a checker while 'unload' runs on it [overlapping-calls]",
     [](World& w) {
       w.release(w.instance);
       w.hold("uninitialize", [&w] { return said(w.checker->unload()); });
       fp::InstanceV1* made = nullptr;
       return w.thenEnd(said(w.checker->createInstance(&made)));
     }},
    {"ProxyDuringProxy", "Error Success",
     VIOLATION "'setCustomOption' called on the configuration of a checker while "
               "'setCustomOption' runs on its checker [overlapping-calls]",
     [](World& w) {
       w.hold("setProxy", [&w] { return said(w.config->setCustomOption(&kProxy)); });
       return w.thenEnd(said(w.config->setCustomOption(&kProxy)));
     }},
    {"InputChangedDuringChange", "Error",
     VIOLATION
     "'setDetectionName' called on an input while 'setPath' changes it [overlapping-calls]",
     [](World& w) {
       std::string answer;
       w.host.log.callOnLine("Invalid input: path is null or empty",
                             [&] { answer = said(w.input->setDetectionName("X")); });
       w.input->setPath(nullptr);
       return answer;
     }},

    // An input changed while a check reads it, by each change.
    {"CheckDuringInputChange", "Error",
     VIOLATION
     "'check' called with an input while 'setPath' changes it [input-changed-during-check]",
     [](World& w) {
       std::string answer;
       w.host.log.callOnLine("Invalid input: path is null or empty", [&] { answer = w.check(); });
       w.input->setPath(nullptr);
       return answer;
     }},
    {"PathSetDuringCheck", "Error Success",
     VIOLATION "'setPath' called on an input while 'check' reads it [input-changed-during-check]",
     [](World& w) { return w.duringCheck([&] { return said(w.input->setPath("/tmp/x")); }); }},
    {"BufferSetDuringCheck", "Error Success",
     VIOLATION "'setBuffer' called on an input while 'check' reads it [input-changed-during-check]",
     [](World& w) { return w.duringCheck([&] { return said(w.input->setBuffer(kBuffer, 1)); }); }},
    {"DetectionNameSetDuringCheck", "Error Success",
     VIOLATION
     "'setDetectionName' called on an input while 'check' reads it [input-changed-during-check]",
     [](World& w) { return w.duringCheck([&] { return said(w.input->setDetectionName("X")); }); }},
    {"CustomDataAddedDuringCheck", "Error Success",
     VIOLATION
     "'addCustomData' called on an input while 'check' reads it [input-changed-during-check]",
     [](World& w) {
       const auto hash = textOption(fp::CustomDataHash, "00ff");
       return w.duringCheck([&] { return said(w.input->addCustomData(&hash)); });
     }},
    {"FopsContextSetDuringCheck", "Success",
     VIOLATION
     "'setFopsContext' called on an input while 'check' reads it [input-changed-during-check]",
     [](World& w) { return w.duringCheck([&] { w.input->setFopsContext(&w); }); }},
    {"FileSizeSetDuringCheck", "Success",
     VIOLATION
     "'setFileSize' called on an input while 'check' reads it [input-changed-during-check]",
     [](World& w) {
       auto* file = w.keep(static_cast<fp::FileInputV1*>(w.instance->createInput(0)));
       file->setDetectionName("EICAR");
       file->setPath("/no/such/file");
       file->setFileSize(10);
       return w.duringCheck([file] { file->setFileSize(20); }, file);
     }},

    // What the release build answers soundly stays silent, with its answer.
    {"UnloadWithLiveInstances", "InUse", "", [](World& w) { return said(w.checker->unload()); }},
    {"SecondLoad", "AlreadyInitialized", "", [](World& w) { return said(w.checker->load()); }},
    {"UnloadDuringCheck", "InUse Success", "",
     [](World& w) { return w.duringCheck([&] { return said(w.checker->unload()); }); }},
    {"LoadedCheckerReleasedWithoutInstances", kNothing, "",
     [](World& w) {
       w.release(w.instance);
       w.release(w.checker);
       return kNothing;
     }},
    {"InputOutlivesItsInstance", "Success", "",
     [](World& w) {
       w.release(w.instance);
       return w.check(w.input, w.secondInstance());
     }},
    {"InputCheckedByAnotherInstance", "Success", "",
     [](World& w) { return w.check(w.input, w.secondInstance()); }},
    {"ProxyChangedDuringCheck", "Success Success", "",
     [](World& w) {
       return w.duringCheck([&] { return said(w.config->setCustomOption(&kProxy)); });
     }},
    {"ChecksOnTwoInstancesAtOnce", "Success Success", "",
     [](World& w) {
       fp::InstanceV1* other = w.secondInstance();
       FakeSdk::instance().holdChecks();
       w.start([&w] { return w.check(); });
       w.start([&w, other] { return w.check(w.input, other); });
       EXPECT_TRUE(FakeSdk::instance().waitForHeldChecks(2));
       return w.end();
     }},
    {"InputsAndOptionsBesideACheck", "an object an object Success", "",
     [](World& w) {
       return w.duringCheck([&] {
         return said(w.keep(w.instance->createInput(1))) + " " + said(w.instance->getOptions());
       });
     }},
    {"SecondJobOnABusyInstance", "Error Success", "",
     [](World& w) { return w.duringCheck([&] { return w.check(w.memoryInput(*w.instance)); }); }},
    {"NullArguments", "Error Error Error Error Error Error Error", "",
     [](World& w) {
       fp::OutputV1* output = nullptr;
       const Status answers[] = {
           w.instance->check(nullptr, &output), w.instance->check(w.input, nullptr),
           w.checker->createInstance(nullptr),  w.input->setPath(nullptr),
           w.input->addCustomData(nullptr),     w.config->setCustomOption(nullptr),
           w.checker->sendCommand(nullptr)};
       std::string said;
       for (const Status answer : answers)
         said += (said.empty() ? "" : " ") + kesp::test::said(answer);
       return said;
     }},
    {"PluginInfoOutlivesThePluginObject", "Velnor FP Checker", "",
     [](World& w) {
       auto* info = w.keep(w.plugin->getPluginInfo());
       w.release(w.input);
       w.release(w.instance);
       w.release(w.checker);
       w.release(w.plugin);
       return std::string(info->getName());
     }},
    {"EverythingReleasedInOrder", kNothing, "",
     [](World& w) {
       w.check();
       w.releaseAll();
       return kNothing;
     }},
};

#undef VIOLATION

class Misuse : public testing::TestWithParam<Row> {};

TEST_P(Misuse, AnswersAndIsNamedAsTheTableSays) {
  const Row& row = GetParam();
  World world;
  EXPECT_EQ(row.calls(world), row.answer);
  world.releaseAll();
  EXPECT_EQ(world.violations(),
            row.line.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.line});
}

INSTANTIATE_TEST_SUITE_P(EveryRule, Misuse, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
}  // namespace kesp::test
