// The road of one check, from input to verdict, as a host drives it.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fops/fops_default.h"
#include "foundation/logger.h"
#include "foundation/scope_guard.h"
#include "tests/support/fake_sdk.h"
#include "tests/support/plugin_host.h"
#include "tests/support/test_paths.h"

namespace kesp::test {
namespace {

using fp::Status;
using kesp::plugins::BoolPair;
using kesp::plugins::GenericData;
using kesp::plugins::IntPair;
using kesp::plugins::StrPair;

// A host file-operations factory that records what it is asked and hands out
// file objects that report a scripted size.
class RecordingFops final : public kesp::FopsFactoryV1 {
 public:
  class File final : public kesp::FopsFileV1 {
   public:
    explicit File(RecordingFops& owner) : owner_(owner) {}
    bool access(std::uint32_t) override { return unexpected("access"); }
    bool rename(const char*) override { return unexpected("rename"); }
    bool unlink() override { return unexpected("unlink"); }
    bool open(std::uint32_t, std::uint32_t) override { return unexpected("open"); }
    bool read(void*, std::uint64_t, std::uint64_t*) override { return unexpected("read"); }
    bool write(const void*, std::uint64_t, std::uint64_t*) override { return unexpected("write"); }
    bool tell(std::uint64_t*) override { return unexpected("tell"); }
    bool seek(std::int64_t, std::uint32_t) override { return unexpected("seek"); }
    bool size(std::uint64_t* size) override {
      owner_.calls.push_back("size");
      if (!owner_.sizeWorks) return false;
      *size = owner_.fileSize;
      return true;
    }
    bool flush() override { return unexpected("flush"); }
    bool close() override { return unexpected("close"); }

   private:
    bool unexpected(const char* name) {
      ADD_FAILURE() << "the plug-in called " << name;
      return false;
    }
    RecordingFops& owner_;
  };

  kesp::FopsFileV1* createFopsFile(const char* path, void* context) override {
    calls.push_back(std::string("create ") + path);
    contexts.push_back(context);
    if (!createWorks) return nullptr;
    files.push_back(std::make_unique<File>(*this));
    return files.back().get();
  }
  void releaseFopsFile(kesp::FopsFileV1* file) override {
    calls.push_back("release");
    EXPECT_FALSE(files.empty());
    EXPECT_EQ(file, files.back().get()) << "released a file object it did not get";
    files.pop_back();
  }

  std::vector<std::string> calls;
  std::vector<void*> contexts;
  std::vector<std::unique_ptr<File>> files;
  bool createWorks = true;
  bool sizeWorks = true;
  std::uint64_t fileSize = 0;
};

using Lines = std::vector<std::string>;

class Check : public ::testing::Test {
 protected:
  void SetUp() override {
    checker = host.loadedChecker();
    instance = host.instance(*checker);
  }
  void TearDown() override {
    instance.reset();
    if (checker) {
      EXPECT_EQ(checker->unload(), Status::Success);
    }
  }

  // A file input; with a path, also named and given that path.
  HostPtr<fp::FileInputV1> fileInput(const char* path = nullptr, const char* name = "EICAR") {
    HostPtr<fp::FileInputV1> input(static_cast<fp::FileInputV1*>(instance->createInput(0)));
    if (path != nullptr && input != nullptr) {
      EXPECT_EQ(input->setDetectionName(name), Status::Success);
      EXPECT_EQ(input->setPath(path), Status::Success);
    }
    return input;
  }
  // A memory input, named and given size bytes of buffer.
  HostPtr<fp::MemoryFileInputV1> memoryInput(std::uint64_t size = 1, const char* name = "N") {
    HostPtr<fp::MemoryFileInputV1> input(
        static_cast<fp::MemoryFileInputV1*>(instance->createInput(1)));
    EXPECT_EQ(input->setDetectionName(name), Status::Success);
    EXPECT_EQ(input->setBuffer(buffer, size), Status::Success);
    return input;
  }
  // Runs a check; returns the status and, on success, the verdict.
  Status check(fp::InputV1& input, bool* verdict = nullptr) {
    fp::OutputV1* output = nullptr;
    const Status status = instance->check(&input, &output);
    if (status == Status::Success) {
      EXPECT_NE(output, nullptr);
      if (verdict != nullptr) *verdict = output->isFalsePositive();
      output->release();
    } else {
      EXPECT_EQ(output, nullptr) << "an output was handed out on failure";
    }
    return status;
  }
  // Runs a check that must end in status; returns the error lines it wrote.
  Lines failedCheck(fp::InputV1& input, Status status = Status::Error) {
    host.log.clear();
    EXPECT_EQ(check(input), status);
    return host.log.texts(0);
  }
  // A file check of a path the default file operations cannot open fails,
  // with their two lines and the plug-in's, and reaches no SDK.
  void expectTheDefaultFileOperationsCannotOpen(const std::string& path) {
    EXPECT_EQ(failedCheck(*fileInput(path.c_str())),
              (Lines{"(Default FOPS) Error in 'open' function (filename '" + path +
                         "', access '0', flags '0')",
                     "(Default FOPS) Error in 'size' function (filename '" + path +
                         "'), cannot open handle",
                     "FP checker error: Failed to get the size of " + path}));
    EXPECT_TRUE(FakeSdk::instance().detections().empty());
  }

  PluginHost host;
  HostPtr<fp::CheckerV1> checker;
  HostPtr<fp::InstanceV1> instance;
  const char buffer[16] = "MZ buffer bytes";
};

TEST_F(Check, TheWholeRoadWithEveryKindOfCustomData) {
  RecordingFops fops;
  fops.fileSize = 4096;
  ASSERT_EQ(instance->setFops(&fops), Status::Success);
  auto input = fileInput("C:/scan/sample.exe", "Trojan.Win32.Generic.abcdefghijklmnopqrst");
  ASSERT_NE(input, nullptr);
  EXPECT_EQ(input->getType(), 0u);
  int context = 0;
  input->setFopsContext(&context);
  {
    // The host frees its own data as soon as each call returns.
    std::string hash(64, 'a');
    std::string extra = "extra data";
    std::string key = "isPacked";
    std::string strValue = "value one";
    const BoolPair boolPair{key.c_str(), true};
    const IntPair intPair{"depth", -7};
    const StrPair strPair{"origin", strValue.c_str()};
    const GenericData data[] = {
        textOption(0, hash.c_str()),        textOption(0, "second hash"),
        textOption(10000, extra.c_str()),   pointerData(10001, 5, &boolPair),
        pointerData(10002, 5, &intPair),    pointerData(10003, 5, &strPair),
    };
    for (const GenericData& item : data) ASSERT_EQ(input->addCustomData(&item), Status::Success);
    hash.assign(64, 'z');
    key = "changed";
    strValue = "changed";
  }
  FakeSdk::instance().setVerdict(true);
  bool verdict = false;
  ASSERT_EQ(check(*input, &verdict), Status::Success);
  EXPECT_TRUE(verdict);

  const auto detections = FakeSdk::instance().detections();
  ASSERT_EQ(detections.size(), 1u);
  const fpcsdk::DetectionInput& record = detections[0];
  EXPECT_EQ(record.filePath, "C:/scan/sample.exe");
  EXPECT_EQ(record.fileSize, 4096u);
  EXPECT_EQ(record.hash, std::string(64, 'a'));
  EXPECT_EQ(record.detectionName, "Trojan.Win32.Generic.abcdefghijklmnopqrst");
  EXPECT_EQ(record.extraData, "extra data");
  EXPECT_EQ(record.customOptions.boolOptions,
            (std::unordered_map<std::string, bool>{{"isPacked", true}}));
  EXPECT_EQ(record.customOptions.intOptions,
            (std::unordered_map<std::string, std::int64_t>{{"depth", -7}}));
  EXPECT_EQ(record.customOptions.stringOptions,
            (std::unordered_map<std::string, std::string>{{"origin", "value one"}}));
  EXPECT_EQ(fops.calls, (Lines{"create C:/scan/sample.exe", "size", "release"}));
  EXPECT_EQ(fops.contexts, std::vector<void*>{&context});
}

TEST_F(Check, FirstEntryWinsForHashExtraDataAndKeys) {
  auto input = memoryInput(sizeof buffer, "EICAR");
  const StrPair first{"key", "first"};
  const StrPair second{"key", "second"};
  const BoolPair sameKey{"key", false};
  const GenericData data[] = {
      textOption(10000, "extra 1"), textOption(10000, "extra 2"), pointerData(10003, 5, &first),
      pointerData(10003, 5, &second), pointerData(10001, 5, &sameKey),
  };
  for (const GenericData& item : data) ASSERT_EQ(input->addCustomData(&item), Status::Success);
  ASSERT_EQ(check(*input), Status::Success);
  const fpcsdk::DetectionInput record = FakeSdk::instance().detections().at(0);
  EXPECT_EQ(record.extraData, "extra 1");
  EXPECT_EQ(record.customOptions.stringOptions,
            (std::unordered_map<std::string, std::string>{{"key", "first"}}));
  EXPECT_EQ(record.customOptions.boolOptions,
            (std::unordered_map<std::string, bool>{{"key", false}}));
}

TEST_F(Check, AMemoryInputSendsItsSizeAndNeverTouchesFiles) {
  RecordingFops fops;
  ASSERT_EQ(instance->setFops(&fops), Status::Success);
  auto input = memoryInput(sizeof buffer, "EICAR");
  EXPECT_EQ(input->getType(), 1u);
  ASSERT_EQ(check(*input), Status::Success);
  const fpcsdk::DetectionInput record = FakeSdk::instance().detections().at(0);
  EXPECT_EQ(record.filePath, "");
  EXPECT_EQ(record.fileSize, sizeof buffer);
  EXPECT_EQ(record.hash, "");
  EXPECT_EQ(record.extraData, "");
  EXPECT_TRUE(record.customOptions.boolOptions.empty());
  EXPECT_TRUE(record.customOptions.intOptions.empty());
  EXPECT_TRUE(record.customOptions.stringOptions.empty());
  EXPECT_EQ(fops.calls, Lines{});
}

TEST_F(Check, AHostSetSizeIsUsedButTheFileObjectIsStillMadeAndReleased) {
  RecordingFops fops;
  fops.fileSize = 77;
  ASSERT_EQ(instance->setFops(&fops), Status::Success);
  auto input = fileInput("/scan/a");
  input->setFileSize(0);
  ASSERT_EQ(check(*input), Status::Success);
  EXPECT_EQ(FakeSdk::instance().detections().at(0).fileSize, 0u);
  EXPECT_EQ(fops.calls, (Lines{"create /scan/a", "release"}));
}

TEST_F(Check, TheDefaultFileOperationsMeasureTheRealFile) {
  TempDir directory;
  const std::string path = directory.file("sample.bin");
  std::ofstream(std::filesystem::path(path), std::ios::binary) << std::string(12345, 'x');
  auto input = fileInput(path.c_str());
  ASSERT_EQ(check(*input), Status::Success);
  EXPECT_EQ(FakeSdk::instance().detections().at(0).fileSize, 12345u);
  // The file is closed again: it can be removed.
  input.reset();
  EXPECT_TRUE(std::filesystem::remove(std::filesystem::path(path)));
}

TEST_F(Check, AMissingFileFailsThroughTheDefaultFileOperations) {
  TempDir directory;
  expectTheDefaultFileOperationsCannotOpen(directory.file("missing.bin"));
}

TEST_F(Check, AFileHeldOpenElsewhereFailsThroughTheDefaultFileOperations) {
  TempDir directory;
  const std::string path = directory.file("held.bin");
  std::ofstream(std::filesystem::path(path), std::ios::binary) << "held";
  // Another holder of the file, with the same exclusive open as the
  // plug-in's own (a lock on Linux, share mode 0 on Windows).
  const plx::Logger silent(nullptr);
  kesp::FopsFactoryDefault others(silent, 5, 0);
  kesp::FopsFileV1* holder = others.createFopsFile(path.c_str(), nullptr);
  ASSERT_NE(holder, nullptr);
  const plx::ScopeGuard releaseHolder([&] { others.releaseFopsFile(holder); });
  ASSERT_TRUE(holder->open(kesp::FopsOpenRead, 0));
  expectTheDefaultFileOperationsCannotOpen(path);
}

TEST_F(Check, ASizeGivenForAFileThatDoesNotExistGivesAVerdict) {
  // The default file operations open nothing when the size is known, so
  // nothing finds out that the path names no file.
  TempDir directory;
  auto input = fileInput(directory.file("missing.bin").c_str());
  input->setFileSize(512);
  FakeSdk::instance().setVerdict(true);
  host.log.clear();
  bool verdict = false;
  EXPECT_EQ(check(*input, &verdict), Status::Success);
  EXPECT_TRUE(verdict);
  EXPECT_EQ(FakeSdk::instance().detections().at(0).fileSize, 512u);
  EXPECT_EQ(host.log.texts(0), Lines{});
}

TEST_F(Check, HostFileOperationFailuresBecomeStatuses) {
  RecordingFops fops;
  ASSERT_EQ(instance->setFops(&fops), Status::Success);
  auto input = fileInput("/scan/a");
  fops.createWorks = false;
  EXPECT_EQ(failedCheck(*input, Status::OutOfMemory),
            Lines{"FP checker error: Fops file object cannot be created for file: /scan/a"});
  input->setFileSize(5);  // the file object is needed even then
  EXPECT_EQ(check(*input), Status::OutOfMemory);

  fops.createWorks = true;
  auto unsized = fileInput("/scan/b");
  fops.sizeWorks = false;
  fops.calls.clear();
  EXPECT_EQ(failedCheck(*unsized),
            Lines{"FP checker error: Failed to get the size of /scan/b"});
  EXPECT_EQ(fops.calls, (Lines{"create /scan/b", "size", "release"}));
  EXPECT_TRUE(fops.files.empty());
  EXPECT_TRUE(FakeSdk::instance().detections().empty());
}

TEST_F(Check, WithoutAnyFactoryFileInputsFailAndMemoryInputsStillCheck) {
  ASSERT_EQ(instance->setFops(nullptr), Status::Success);
  EXPECT_EQ(failedCheck(*fileInput("/scan/a")),
            Lines{"FP checker error: No file operations factory is installed to get the size of "
                  "/scan/a"});
  EXPECT_EQ(check(*memoryInput(1, "EICAR")), Status::Success);
}

TEST_F(Check, InvalidInputsAreRefusedBeforeTheSdkIsCalled) {
  static const char kText[] = "text";
  struct Case {
    bool memory;
    const char* name;
    const char* path;
    std::vector<GenericData> data;
    std::string message;
  };
  const BoolPair boolPair{"k", true};
  const std::vector<Case> cases = {
      {false, nullptr, "/p", {}, "Invalid input: detection name not set"},
      {false, "N", nullptr, {}, "Invalid input: file path not set"},
      {true, "N", nullptr, {}, "Invalid input: memory file buffer not set"},
      {false, "N", "/p", {numberOption(0, 1)},
       "Invalid input: hash custom data is not set as a string"},
      {false, "N", "/p", {numberOption(10000, 1, 0)},
       "Invalid input: extra data custom data is not set as a string"},
      // Custom data rules come before the path rule.
      {false, "N", nullptr, {textOption(10001, kText)},
       "Invalid input: bool pair is not set as custom data"},
      {false, "N", "/p", {textOption(10002, kText)},
       "Invalid input: int pair is not set as custom data"},
      {false, "N", "/p", {pointerData(10001, 5, &boolPair), numberOption(10003, 3)},
       "Invalid input: str pair is not set as custom data"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    HostPtr<fp::InputV1> input(instance->createInput(c.memory ? 1 : 0));
    if (c.name != nullptr) {
      ASSERT_EQ(input->setDetectionName(c.name), Status::Success);
    }
    if (c.path != nullptr) {
      ASSERT_EQ(input->setPath(c.path), Status::Success);
    }
    for (const GenericData& item : c.data) ASSERT_EQ(input->addCustomData(&item), Status::Success);
    EXPECT_EQ(failedCheck(*input), Lines{"FP checker error: " + c.message});
  }
  EXPECT_EQ(failedCheck(*memoryInput(0)),
            Lines{"FP checker error: Invalid input: memory file buffer size not set"});
  EXPECT_TRUE(FakeSdk::instance().detections().empty());
}

// What a check says of an input object the plug-in did not make, by the
// type the object claims.
const std::pair<std::uint32_t, const char*> kNotOursByType[] = {
    {0, "FP checker error: Invalid input: object is not a FileInput type"},
    {1, "FP checker error: Invalid input: object is not a MemoryFileInput type"},
    {2, "FP checker error: Invalid input: type is invalid"},
};

TEST_F(Check, ForeignInputObjectsAreRefused) {
  // A host's own input object claiming to be one of ours.
  class ForeignInput final : public fp::FileInputV1 {
   public:
    void release() override {}
    std::uint32_t getType() override { return type; }
    Status setDetectionName(const char*) override { return Status::Success; }
    Status addCustomData(const GenericData*) override { return Status::Success; }
    void setFopsContext(void*) override {}
    Status setPath(const char*) override { return Status::Success; }
    void setFileSize(std::uint64_t) override {}
    std::uint32_t type = 0;
  } foreign;
  for (const auto& [type, message] : kNotOursByType) {
    foreign.type = type;
    EXPECT_EQ(failedCheck(foreign), Lines{message});
  }
}

// A host input object as another compiler lays it out: a table of plain
// functions, and in the word before it, where GCC and clang keep the type
// information, whatever that compiler put there (null without RTTI). Only its
// table pointer and getType may be read.
struct HandMadeInput {
  const std::uintptr_t* table;
  std::uint32_t type;
  int otherCalls;
};
std::uint32_t handMadeGetType(HandMadeInput* self) { return self->type; }
void handMadeOther(HandMadeInput* self) { ++self->otherCalls; }

TEST_F(Check, InputsWithAForeignTableAreRefusedWithoutReadingTypeInformation) {
  static const char junk[64] = "junk where type information would be: JJJJJJJJJJJJJJJJJJJJJJJ";
  const auto other = reinterpret_cast<std::uintptr_t>(&handMadeOther);
  for (const std::uintptr_t typeWord : {std::uintptr_t{0}, reinterpret_cast<std::uintptr_t>(junk)}) {
    // release, getType, then the five set operations.
    const std::uintptr_t words[] = {typeWord, other, reinterpret_cast<std::uintptr_t>(&handMadeGetType),
                                    other, other, other, other, other};
    for (const auto& [type, message] : kNotOursByType) {
      HandMadeInput foreign{&words[1], type, 0};
      EXPECT_EQ(failedCheck(*static_cast<fp::InputV1*>(static_cast<void*>(&foreign))),
                Lines{message});
      EXPECT_EQ(foreign.otherCalls, 0) << "an operation other than getType was called";
    }
  }
  EXPECT_TRUE(FakeSdk::instance().detections().empty());
}

TEST_F(Check, NullInputOrOutputSlotIsRefused) {
  auto input = memoryInput();
  fp::OutputV1* output = nullptr;
  host.log.clear();
  EXPECT_EQ(instance->check(nullptr, &output), Status::Error);
  EXPECT_EQ(instance->check(input.get(), nullptr), Status::Error);
  EXPECT_EQ(host.log.texts(0), (Lines{"Invalid check input: pointer is null",
                                      "Invalid check output: pointer is null"}));
  EXPECT_TRUE(FakeSdk::instance().detections().empty());
  EXPECT_EQ(check(*input), Status::Success) << "the instance stayed busy";
}

// Every failure of the SDK's check, its answer or its exception, hands out no
// output and leaves the instance free for the next check.
TEST_F(Check, SdkFailuresAndExceptionsAreMappedAndHandOutNoOutput) {
  auto input = memoryInput();
  const std::tuple<std::int32_t, Status, std::string> cases[] = {
      {6, Status::TimedOut, "Failed to check detection: timed out"},
      {8, Status::ConnectionError, "Failed to check detection: endpoint not found"},
      {7, Status::CertificateError, "Failed to check detection: SSL certificate error"},
      {5, Status::CloudError, "Failed to check detection: unauthorized"},
      {99, Status::Error,
       "Internal error: VFPC SDK error '99' is not yet mapped to a string description"},
      {kThrowStandardException, Status::Error,
       "VFPC SDK threw an exception from checkDetection: test SDK failure"},
      {kThrowUnknownException, Status::Error,
       "VFPC SDK threw an exception from checkDetection that is not a standard exception"},
  };
  for (const auto& [code, status, line] : cases) {
    FakeSdk::instance().setResult(SdkOp::CheckDetection, code);
    host.log.clear();
    fp::OutputV1* untouched = reinterpret_cast<fp::OutputV1*>(0x42);
    fp::OutputV1* output = untouched;
    EXPECT_EQ(instance->check(input.get(), &output), status);
    EXPECT_EQ(output, untouched);
    EXPECT_EQ(host.log.texts(0), Lines{line});
  }
  FakeSdk::instance().setResult(SdkOp::CheckDetection, 0);
  bool verdict = true;
  EXPECT_EQ(check(*input, &verdict), Status::Success) << "a failed check left the instance busy";
  EXPECT_FALSE(verdict);
}

// The plug-in hands the SDK a verdict of false: a check that succeeds
// without writing one leaves the detection standing.
TEST_F(Check, ASuccessWithoutAWrittenVerdictLeavesTheDetectionStanding) {
  auto input = memoryInput();
  FakeSdk::instance().setVerdict(std::nullopt);
  bool verdict = true;
  EXPECT_EQ(check(*input, &verdict), Status::Success);
  EXPECT_FALSE(verdict);
}

TEST_F(Check, AnExceptionFromCreateFpcInstanceIsAnError) {
  FakeSdk::instance().setResult(SdkOp::CreateInstance, kThrowStandardException);
  fp::InstanceV1* untouched = nullptr;
  host.log.clear();
  EXPECT_EQ(checker->createInstance(&untouched), Status::Error);
  EXPECT_EQ(untouched, nullptr);
  EXPECT_EQ(host.log.texts(0),
            Lines{"VFPC SDK threw an exception from createFpcInstance: test SDK failure"});
}

TEST_F(Check, AnInputIsNotBoundToTheInstanceThatMadeIt) {
  auto other = host.instance(*checker);
  RecordingFops fops;
  fops.fileSize = 9;
  ASSERT_EQ(other->setFops(&fops), Status::Success);
  auto input = fileInput("/scan/x", "N");  // made by the first instance
  fp::OutputV1* output = nullptr;
  ASSERT_EQ(other->check(input.get(), &output), Status::Success);
  output->release();
  EXPECT_EQ(fops.calls, (Lines{"create /scan/x", "size", "release"}));
  other.reset();
}

TEST_F(Check, ReleasingObjectsTracesThem) {
  auto input = memoryInput();
  fp::OutputV1* output = nullptr;
  ASSERT_EQ(instance->check(input.get(), &output), Status::Success);
  host.log.clear();
  output->release();
  input.reset();
  fileInput().reset();
  instance.reset();
  EXPECT_EQ(host.log.texts(3),
            (Lines{"Releasing VFPC checker output", "Releasing VFPC checker memory file input",
                   "Creating VFPC checker Input object", "Releasing VFPC checker file input",
                   "Destroying VFPC checker instance"}));
}

}  // namespace
}  // namespace kesp::test
