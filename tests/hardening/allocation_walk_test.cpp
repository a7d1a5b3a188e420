// Memory running out at every allocation of a whole host session, one
// allocation at a time: the plug-in, a checker, its configuration, load, an
// instance, inputs of both kinds with custom data, checks, outputs, and the
// release of everything. Whichever allocation fails, the operation that
// made it returns OutOfMemory (or null) without a log line, or succeeds; no
// exception reaches the host; a second try of the failed operation succeeds;
// the session still ends with exactly the results of an undisturbed one; and
// once everything is released, nothing the plug-in allocated is left.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "foundation/dynamic_library.h"
#include "tests/hardening/allocation_host.h"
#include "tests/hardening/failing_allocator.h"
#include "tests/support/test_paths.h"

namespace kesp::test {
namespace {

using fp::Status;
using kesp::plugins::BoolPair;
using kesp::plugins::GenericData;
using kesp::plugins::IntPair;
using kesp::plugins::StrPair;

constexpr char kLoggerError[] = "(Logger error) Failed to construct the log message";
constexpr char kLoadFailed[] = "VFPC checker load failed.";

// A host factory that allocates nothing: one file object, always 4096 bytes.
class SessionFops final : public kesp::FopsFactoryV1 {
 public:
  class File final : public kesp::FopsFileV1 {
   public:
    bool access(std::uint32_t) override { return false; }
    bool rename(const char*) override { return false; }
    bool unlink() override { return false; }
    bool open(std::uint32_t, std::uint32_t) override { return false; }
    bool read(void*, std::uint64_t, std::uint64_t*) override { return false; }
    bool write(const void*, std::uint64_t, std::uint64_t*) override { return false; }
    bool tell(std::uint64_t*) override { return false; }
    bool seek(std::int64_t, std::uint32_t) override { return false; }
    bool size(std::uint64_t* size) override {
      *size = 4096;
      return true;
    }
    bool flush() override { return false; }
    bool close() override { return false; }
  };

  kesp::FopsFileV1* createFopsFile(const char*, void*) override {
    ++open;
    return &file_;
  }
  void releaseFopsFile(kesp::FopsFileV1*) override { --open; }

  int open = 0;

 private:
  File file_;
};

// What a step that makes an object returns when it gets none.
constexpr auto kNull = static_cast<Status>(0xffffu);

// A failure a step gives on purpose when memory runs out inside a part that
// can only say that it failed, not why: its status and its error lines.
struct DesignedFailure {
  Status status;
  std::vector<std::string> errors;
};

struct Step {
  std::string name;
  std::function<Status()> run;
  // A step that ends an object cannot be run a second time.
  bool repeatable = true;
  std::optional<DesignedFailure> designed;
};

// One host session. Everything the host passes in is made before the first
// step, so that the steps themselves run nothing but plug-in operations.
class Session {
 public:
  Session() {
    // Loading the plug-in library is the host's business, not the session's.
    allocationPluginEntry();
    hash_ = std::string(64, 'a');
    const GenericData custom[] = {
        {0, kesp::plugins::GenericDataString, address(hash_.c_str())},
        {10000, kesp::plugins::GenericDataString, address("extra data from the mail scanner")},
        {10001, kesp::plugins::GenericDataCustom, address(&boolPair_)},
        {10002, kesp::plugins::GenericDataCustom, address(&intPair_)},
        {10003, kesp::plugins::GenericDataCustom, address(&strPair_)},
    };
    custom_.assign(std::begin(custom), std::end(custom));
    std::ofstream(std::filesystem::path(plainPath_), std::ios::binary) << std::string(100, 'x');
    buildSteps();
  }

  const std::vector<Step>& steps() const { return steps_; }
  AllocationHostLog& log() { return log_; }

  // What an undisturbed session leaves with the SDK and the host.
  void expectUndisturbedResults() const {
    const AllocationSdk& sdk = allocationSdk();
    ASSERT_EQ(sdk.detections.size(), 3u);
    const fpcsdk::DetectionInput& file = sdk.detections[0];
    EXPECT_EQ(file.filePath, "/scan/incoming/sample-0001.exe");
    EXPECT_EQ(file.fileSize, 4096u);
    EXPECT_EQ(file.hash, hash_);
    EXPECT_EQ(file.detectionName, "Trojan.Win32.Generic");
    EXPECT_EQ(file.extraData, "extra data from the mail scanner");
    EXPECT_EQ(file.customOptions.boolOptions,
              (std::unordered_map<std::string, bool>{{"isPackedExecutable", true}}));
    EXPECT_EQ(file.customOptions.intOptions,
              (std::unordered_map<std::string, std::int64_t>{{"archiveNestingDepth", -7}}));
    EXPECT_EQ(file.customOptions.stringOptions,
              (std::unordered_map<std::string, std::string>{
                  {"attachmentOrigin", "mail attachment of message 42"}}));
    const fpcsdk::DetectionInput& memory = sdk.detections[1];
    EXPECT_EQ(memory.filePath, "");
    EXPECT_EQ(memory.fileSize, sizeof buffer_);
    EXPECT_EQ(memory.detectionName, "EICAR-Test-File");
    EXPECT_EQ(memory.customOptions.stringOptions,
              (std::unordered_map<std::string, std::string>{
                  {"attachmentOrigin", "mail attachment of message 42"}}));
    const fpcsdk::DetectionInput& plain = sdk.detections[2];
    EXPECT_EQ(plain.filePath, plainPath_);
    EXPECT_EQ(plain.fileSize, 100u);
    EXPECT_EQ(plain.detectionName, "Trojan.Win32.Generic");
    EXPECT_TRUE(fileVerdict_);
    EXPECT_TRUE(memoryVerdict_);

    ASSERT_FALSE(sdk.configs.empty());
    const fpcsdk::FPCConfig& config = sdk.configs.back();
    EXPECT_EQ(config.cloudUrl, "https://fpc.cloud.example.net/api/v2");
    EXPECT_EQ(config.hostDataString, kAllocationHostData);
    EXPECT_EQ(config.pluginVersionText, "2.1.0.29");
    EXPECT_EQ(config.connectionTimeout, 7000u);
    // A refused step never reaches the SDK twice.
    EXPECT_EQ(sdk.proxies,
              (std::vector<std::pair<std::string, std::string>>{
                  {"proxy.example.net:3128", ""},
                  {"proxy.example.net:3128", "/etc/ssl/certs/scanner-ca-bundle.pem"}}));
    EXPECT_EQ(std::count(sdk.events.begin(), sdk.events.end(), "load"),
              std::count(sdk.events.begin(), sdk.events.end(), "unload"));
    EXPECT_EQ(std::count(sdk.events.begin(), sdk.events.end(), "uninitialize with live instances"),
              0);
    EXPECT_EQ(fops.open, 0);
  }

  SessionFops fops;

 private:
  void add(std::string name, std::function<Status()> run, bool repeatable = true,
           std::optional<DesignedFailure> designed = std::nullopt) {
    steps_.push_back(Step{std::move(name), std::move(run), repeatable, std::move(designed)});
  }
  // A step that keeps what how makes in slot; no object is kNull.
  template <class T, class Make>
  void make(std::string name, HostPtr<T>& slot, Make how) {
    add(std::move(name), [&slot, how] {
      slot.reset(how());
      return slot ? Status::Success : kNull;
    });
  }
  Status option(std::uint32_t id, std::uint32_t type, std::uint64_t value) {
    const GenericData data{id, type, value};
    return checker_->getConfig()->setCustomOption(&data);
  }
  Status createInstance(HostPtr<fp::InstanceV1>& instance) {
    fp::InstanceV1* made = nullptr;
    const Status status = checker_->createInstance(&made);
    instance.reset(made);
    return status;
  }
  static Status check(fp::InstanceV1& instance, fp::InputV1& input, HostPtr<fp::OutputV1>& output) {
    fp::OutputV1* made = nullptr;
    const Status status = instance.check(&input, &made);
    output.reset(made);
    return status;
  }

  void buildSteps() {
    make("KESPGetPlugin", plugin_, [this] { return allocationPluginEntry()(&input_); });
    make("getChecker", checker_, [this] { return plugin_->getChecker(); });
    add("setApiVersion", [this] {
      checker_->getConfig()->setApiVersion(2, 0);
      return Status::Success;
    });
    add("setBaseDirectory",
        [this] { return checker_->getConfig()->setBaseDirectory(sdkDirectory_.c_str()); });
    add("setCustomOption cloud URL", [this] {
      return option(0, kesp::plugins::GenericDataString,
                    address("https://fpc.cloud.example.net/api/v2"));
    });
    add("setCustomOption connection timeout",
        [this] { return option(5, kesp::plugins::GenericDataInt1, 7000); });
    add("setCustomOption proxy", [this] {
      return option(2, kesp::plugins::GenericDataString, address("proxy.example.net:3128"));
    });
    // Memory running out while the SDK library itself is loaded is a
    // failure to load it, like any other failure of that step.
    add(
        "load", [this] { return checker_->load(); }, true,
        DesignedFailure{
            Status::LoadFailed,
            {"Failed to load VFPC SDK library '" + sdkLibraryPath_ + "'. std::bad_alloc",
             kLoadFailed}});
    add("setCustomOption certificate path while loaded", [this] {
      return option(3, kesp::plugins::GenericDataString,
                    address("/etc/ssl/certs/scanner-ca-bundle.pem"));
    });
    add("sendCommand thread cleanup", [this] {
      const fp::CheckerCommand command{fp::CommandThreadCleanup};
      return checker_->sendCommand(&command);
    });
    add("createInstance", [this] { return createInstance(instance_); });
    add("setFops", [this] { return instance_->setFops(&fops); });
    make("createInput file", file_,
         [this] { return static_cast<fp::FileInputV1*>(instance_->createInput(0)); });
    add("setDetectionName file",
        [this] { return file_->setDetectionName("Trojan.Win32.Generic"); });
    add("setPath", [this] { return file_->setPath("/scan/incoming/sample-0001.exe"); });
    for (std::size_t i = 0; i < custom_.size(); ++i) {
      add("addCustomData " + std::to_string(custom_[i].id),
          [this, i] { return file_->addCustomData(&custom_[i]); });
    }
    add("check file", [this] { return check(*instance_, *file_, fileOutput_); });
    add("isFalsePositive file", [this] {
      fileVerdict_ = fileOutput_->isFalsePositive();
      return Status::Success;
    });
    make("createInput memory", memory_,
         [this] { return static_cast<fp::MemoryFileInputV1*>(instance_->createInput(1)); });
    add("setDetectionName memory", [this] { return memory_->setDetectionName("EICAR-Test-File"); });
    add("setBuffer", [this] { return memory_->setBuffer(buffer_, sizeof buffer_); });
    add("addCustomData memory", [this] { return memory_->addCustomData(&custom_[4]); });
    add("check memory", [this] { return check(*instance_, *memory_, memoryOutput_); });
    add("isFalsePositive memory", [this] {
      memoryVerdict_ = memoryOutput_->isFalsePositive();
      return Status::Success;
    });
    add("createInstance keeping the default file operations",
        [this] { return createInstance(plainInstance_); });
    make("createInput default file", plainFile_,
         [this] { return static_cast<fp::FileInputV1*>(plainInstance_->createInput(0)); });
    add("setDetectionName default file",
        [this] { return plainFile_->setDetectionName("Trojan.Win32.Generic"); });
    add("setPath default file", [this] { return plainFile_->setPath(plainPath_.c_str()); });
    // The default factory cannot say why it made no file object; the check
    // reports that as the OutOfMemory of a failed file object, with its line.
    add(
        "check through the default file operations",
        [this] { return check(*plainInstance_, *plainFile_, plainOutput_); }, true,
        DesignedFailure{
            Status::OutOfMemory,
            {"FP checker error: Fops file object cannot be created for file: " + plainPath_}});
    const auto end = [this](const char* name, auto& object) {
      add(
          name,
          [&object] {
            object.reset();
            return Status::Success;
          },
          false);
    };
    end("release file output", fileOutput_);
    end("release memory output", memoryOutput_);
    end("release default file output", plainOutput_);
    end("release file input", file_);
    end("release memory input", memory_);
    end("release default file input", plainFile_);
    end("release instance", instance_);
    end("release instance with the default file operations", plainInstance_);
    add("unload", [this] { return checker_->unload(); });
    end("release checker", checker_);
    make("getPluginInfo", info_, [this] { return plugin_->getPluginInfo(); });
    end("release plugin info", info_);
    end("release plugin", plugin_);
  }

  AllocationHostLog log_;
  AllocationHostInput input_{&log_};
  const std::string sdkDirectory_ = goodSdkDirectory();
  const std::string sdkLibraryPath_ =
      plx::joinPath({sdkDirectory_, plx::sharedLibraryFileName("vfpcsdk")});
  std::string hash_;
  const BoolPair boolPair_{"isPackedExecutable", true};
  const IntPair intPair_{"archiveNestingDepth", -7};
  const StrPair strPair_{"attachmentOrigin", "mail attachment of message 42"};
  std::vector<GenericData> custom_;
  const char buffer_[16] = "MZ memory image";
  TempDir scratch_;
  const std::string plainPath_ = scratch_.file("scanned-by-the-default-file-operations.bin");
  std::vector<Step> steps_;

  // Declared in the order a host releases them if a step leaves early.
  HostPtr<kesp::plugins::PluginV1> plugin_;
  HostPtr<kesp::plugins::PluginInfoV1> info_;
  HostPtr<fp::CheckerV1> checker_;
  HostPtr<fp::InstanceV1> instance_;
  HostPtr<fp::FileInputV1> file_;
  HostPtr<fp::MemoryFileInputV1> memory_;
  HostPtr<fp::InstanceV1> plainInstance_;
  HostPtr<fp::FileInputV1> plainFile_;
  HostPtr<fp::OutputV1> fileOutput_;
  HostPtr<fp::OutputV1> memoryOutput_;
  HostPtr<fp::OutputV1> plainOutput_;
  bool fileVerdict_ = false;
  bool memoryVerdict_ = false;
};

// Runs one step with injection; false when an exception left it.
bool runInjected(const Step& step, Status& status) {
  try {
    const allocation::Injected injected;
    status = step.run();
    return true;
  } catch (...) {
    return false;
  }
}

bool isOutOfMemory(Status status) { return status == Status::OutOfMemory || status == kNull; }

// Whether the outcome of a step whose allocation failed is one the host may
// see. Only one allocation fails, so only one way out is allowed: a clean
// OutOfMemory, a success, a success whose formatted log line could not be
// made (the logger then says so), or the step's designed failure.
bool acceptableOnce(const Step& step, Status status, const std::vector<std::string>& errors) {
  if (step.designed && status == step.designed->status && errors == step.designed->errors) {
    return true;
  }
  if (isOutOfMemory(status)) return errors.empty();
  return status == Status::Success &&
         (errors.empty() || errors == std::vector<std::string>{kLoggerError});
}

// With every allocation failing from one on, handlers that format a line
// fail as well; what they fall back to is the logger's own line.
bool acceptableFromThenOn(const Step& step, Status status, const std::vector<std::string>& errors) {
  const bool statusFits = isOutOfMemory(status) || status == Status::Success ||
                          (step.designed && status == step.designed->status);
  return statusFits && std::all_of(errors.begin(), errors.end(), [&](const std::string& line) {
           return line == kLoggerError ||
                  (step.designed && std::count(step.designed->errors.begin(),
                                               step.designed->errors.end(), line) > 0);
         });
}

// Runs a whole session with the failAt-th allocation failing. Returns
// whether the failure struck at all.
bool runSession(std::uint64_t failAt, allocation::Mode mode) {
  SCOPED_TRACE("allocation " + std::to_string(failAt));
  allocationSdk().clear();
  const std::int64_t liveBefore = allocation::liveBlocks();
  {
    Session session;
    allocation::arm(failAt, mode);
    bool struckBefore = false;
    for (const Step& step : session.steps()) {
      SCOPED_TRACE("step '" + step.name + "'");
      Status status = Status::Success;
      if (!runInjected(step, status)) {
        ADD_FAILURE() << "an exception left the plug-in";
        return true;
      }
      std::vector<std::string> errors = session.log().take();
      const bool struckHere = allocation::struck() && !struckBefore;
      struckBefore = allocation::struck();
      if (!struckHere) {
        EXPECT_EQ(status, Status::Success);
        EXPECT_EQ(errors, std::vector<std::string>{});
        continue;
      }
      const bool acceptable = mode == allocation::Mode::Once
                                  ? acceptableOnce(step, status, errors)
                                  : acceptableFromThenOn(step, status, errors);
      EXPECT_TRUE(acceptable) << "status " << static_cast<std::uint32_t>(status) << ", lines "
                              << ::testing::PrintToString(errors);
      allocation::disarm();
      if (status != Status::Success && step.repeatable) {
        if (!runInjected(step, status)) {
          ADD_FAILURE() << "an exception left the plug-in on the second try";
          return true;
        }
        EXPECT_EQ(status, Status::Success) << "the second try failed";
        EXPECT_EQ(session.log().take(), std::vector<std::string>{});
      }
    }
    session.expectUndisturbedResults();
  }
  EXPECT_EQ(allocation::liveBlocks(), liveBefore) << "blocks leaked";
  allocation::disarm();
  return allocation::struck();
}

void walk(allocation::Mode mode) {
  // The first session makes whatever the process makes only once.
  runSession(0, mode);
  ASSERT_FALSE(::testing::Test::HasFailure()) << "an undisturbed session failed";
  const std::uint64_t allocations = allocation::numbered();
  ASSERT_GT(allocations, 50u) << "the plug-in's allocations are not seen";

  std::uint64_t failAt = 1;
  while (runSession(failAt, mode)) {
    if (::testing::Test::HasFailure()) return;
    ++failAt;
    ASSERT_LE(failAt, 2 * allocations) << "the session never ends";
  }
  // The walk ended because the session made fewer allocations, not early.
  EXPECT_EQ(failAt, allocation::numbered() + 1);
}

TEST(AllocationFailure, EachAllocationOfASessionFailingOnce) { walk(allocation::Mode::Once); }

TEST(AllocationFailure, AllAllocationsFailingFromEachOneOn) { walk(allocation::Mode::FromThenOn); }

}  // namespace
}  // namespace kesp::test
