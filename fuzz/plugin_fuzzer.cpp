// Fuzz target: reads its input as a sequence of host operations on the
// plug-in library, loaded the way a host loads it, with the scriptable test
// SDK behind it. Configuration with arbitrary ids, types and values, load and
// unload, instances, inputs of both kinds filled with arbitrary names, paths,
// sizes and custom data, checks, host file operations that fail on demand,
// commands, SDK answers and SDK log lines are all chosen by the input.
//
// Every pointer handed to the plug-in points at memory this program owns,
// and every text is freed as soon as the call returns, so that a plug-in
// that kept one would read freed memory. The host's contract is kept
// (a checker outlives its instances, nothing runs concurrently); within it,
// any crash, sanitizer report, leak or escaping exception is a finding, and
// so is a broken rule that the program can tell from outside: a status out
// of range, a status other than the one the host's model predicts, a failure
// without an error line or a success with one, an SDK object, SDK instance,
// library mapping or file object left alive after everything was released.
//
// Input layout: a byte for the host log's level, a byte choosing the plug-in
// input, the host data string (a length byte and its bytes), then one
// operation per byte, each followed by the operands it reads. Past the end
// every value reads as 0 and every text as empty.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "foundation/dynamic_library.h"
#include "foundation/utf8_text.h"
#include "kesp/kesp.h"
#include "fpcsdk/fpcsdk.h"
#include "tests/sdk/test_sdk_control.h"

namespace {

namespace fp = kesp::plugins::fpchecker;
using fp::Status;
using kesp::plugins::GenericData;
using kesp::test::SdkOp;

// A broken rule: reported like a crash, with the reason.
[[noreturn]] void finding(const char* what, const std::string& detail = {}) {
  std::fprintf(stderr, "FINDING: %s %s\n", what, detail.c_str());
  std::abort();
}

void require(bool holds, const char* what, const std::string& detail = {}) {
  if (!holds) finding(what, detail);
}

std::string statusText(Status status) { return std::to_string(static_cast<std::uint32_t>(status)); }

void requireStatus(Status got, Status expected, const char* operation) {
  if (got != expected) {
    finding("unexpected status", std::string(operation) + ": got " + statusText(got) +
                                     ", expected " + statusText(expected));
  }
}

// The fuzz input, read front to back.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool done() const { return position_ >= size_; }
  std::uint8_t byte() { return done() ? 0 : data_[position_++]; }
  bool flag() { return (byte() & 1u) != 0; }
  // A choice among count alternatives.
  std::uint32_t pick(std::uint32_t count) { return byte() % count; }
  std::uint32_t u32() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(byte()) << (8 * i);
    return value;
  }
  std::uint64_t u64() { return u32() | (static_cast<std::uint64_t>(u32()) << 32); }
  // Up to 255 arbitrary bytes, NULs included.
  std::string text() {
    const std::size_t length = byte();
    std::string result;
    while (result.size() < length && !done()) result.push_back(static_cast<char>(byte()));
    return result;
  }
  // A text that may exceed the largest log line: a byte repeated up to
  // 65535 times behind an ordinary text.
  std::string longText() {
    std::string result = text();
    const std::size_t repeat = (static_cast<std::size_t>(byte()) << 8) | byte();
    result.append(repeat, static_cast<char>(byte()));
    return result;
  }
  // One byte: half of the values say 0; the rest spread evenly over the
  // codes 1 to 12, two unknown codes and an arbitrary one.
  std::int32_t sdkCode() {
    const std::uint32_t value = byte();
    if (value < 128) return 0;
    const std::uint32_t choice = value % 16;
    if (choice < 12) return static_cast<std::int32_t>(choice + 1);
    if (choice == 12) return 13;
    if (choice == 13) return -1;
    if (choice == 14) return INT32_MIN;
    return static_cast<std::int32_t>(u32());
  }
  std::uint64_t number() {
    static const std::uint64_t kEdges[] = {0,
                                           1,
                                           5000,
                                           4294967295ull,
                                           4294967296ull,
                                           9223372036854775807ull,
                                           9223372036854775808ull,
                                           18446744073709551615ull};
    return flag() ? kEdges[pick(8)] : u64();
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

// What the SDK maps a code to; nullopt for a code it does not know.
std::optional<Status> mappedStatus(std::int32_t code) {
  static const Status kStatuses[] = {
      Status::Success,         Status::Error,
      Status::NotInitialized,  Status::AlreadyInitialized,
      Status::OutOfMemory,     Status::CloudError,
      Status::TimedOut,        Status::CertificateError,
      Status::ConnectionError, Status::CloudError,
      Status::CloudError,      Status::ConnectionError,
      Status::CloudError,
  };
  if (static_cast<std::uint32_t>(code) > 12) return std::nullopt;
  return kStatuses[code];
}
// The status an operation returns for an SDK code: unknown codes are errors.
Status statusOfCode(std::int32_t code) { return mappedStatus(code).value_or(Status::Error); }

// The host log. Level 0 lines are counted per operation; the last line of
// any level is kept for the SDK log bridge's oracle.
class FuzzLog final : public kesp::HostLog {
 public:
  void setMaxLevel(std::uint32_t level) { maxLevel_ = level; }
  std::uint32_t maxLevel() const { return maxLevel_; }

  bool isEnabled(std::uint32_t level, std::uint32_t module, std::uint32_t flags) override {
    require(module == 5 && flags == 0 && level <= 3, "bad isEnabled parameters");
    return level <= maxLevel_;
  }
  void log(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
           const char* text) override {
    require(text != nullptr, "null log text");
    require(module == 5 && level <= maxLevel_ && (flags & ~1u) == 0, "bad log parameters",
            std::to_string(level) + "/" + std::to_string(module) + "/" + std::to_string(flags));
    lastLevel = level;
    lastFlags = flags;
    lastText = text;
    if (level == 0) ++errors;
    ++lines;
  }

  int errors = 0;
  int lines = 0;
  std::uint32_t lastLevel = 0;
  std::uint32_t lastFlags = 0;
  std::string lastText;

 private:
  std::uint32_t maxLevel_ = 3;
};

class HostInput final : public kesp::PluginInput {
 public:
  kesp::HostLog* log = nullptr;
  std::optional<kesp::PluginInputData> record;

  kesp::HostLog* getLog() override { return log; }
  void getVersion(std::uint32_t*, std::uint32_t*) override { finding("getVersion called"); }
  const kesp::PluginInputData* getData(std::uint32_t id) override {
    require(id == kesp::PluginInputHostDataString, "unexpected plug-in input id");
    return record ? &*record : nullptr;
  }
};

// The test SDK's script, and its ledger of what is alive.
class FuzzSdk final : public kesp::test::TestSdkControl {
 public:
  std::int32_t codes[static_cast<int>(SdkOp::Count)] = {};
  bool verdictValue = false;
  int liveFpc = 0;
  int liveInstances = 0;
  int mappings = 0;
  fpcsdk::LogInterface* lastLog = nullptr;

  void resetScript() {
    for (std::int32_t& code : codes) code = 0;
  }

  std::int32_t resultOf(SdkOp op) override {
    const std::int32_t code = codes[static_cast<int>(op)];
    // The test SDK makes an object exactly when it answers 0.
    if (code == 0 && op == SdkOp::Create) ++liveFpc;
    if (code == 0 && op == SdkOp::CreateInstance) ++liveInstances;
    return code;
  }
  std::optional<bool> verdict() override { return verdictValue; }
  const char* lineAtUnload() override { return nullptr; }
  void onEvent(const char* event) override {
    const std::string name = event;
    if (name == "load") ++mappings;
    if (name == "unload") --mappings;
    if (name == "FPCDestroy") --liveFpc;
    if (name == "destroyFpcInstance") --liveInstances;
    require(name != "uninitialize with live instances", "SDK shut down under live instances");
  }
  void onCreate(fpcsdk::LogInterface* log) override { lastLog = log; }
  void onInitialize(const fpcsdk::FPCConfig&) override {}
  void onSetProxy(const std::string&, const std::string&) override {}
  void onCheck(const fpcsdk::DetectionInput& input) override {
    require(!input.detectionName.empty(), "empty detection name reached the SDK");
  }
};

FuzzSdk& fuzzSdk() {
  static FuzzSdk sdk;
  return sdk;
}

// A host file-operations factory whose failures the input chooses.
class FuzzFops final : public kesp::FopsFactoryV1 {
 public:
  class File final : public kesp::FopsFileV1 {
   public:
    explicit File(FuzzFops& owner) : owner_(owner) {}
    bool access(std::uint32_t) override { return refuse(); }
    bool rename(const char*) override { return refuse(); }
    bool unlink() override { return refuse(); }
    bool open(std::uint32_t, std::uint32_t) override { return refuse(); }
    bool read(void*, std::uint64_t, std::uint64_t*) override { return refuse(); }
    bool write(const void*, std::uint64_t, std::uint64_t*) override { return refuse(); }
    bool tell(std::uint64_t*) override { return refuse(); }
    bool seek(std::int64_t, std::uint32_t) override { return refuse(); }
    bool size(std::uint64_t* size) override {
      if (!owner_.sizeWorks) return false;
      *size = owner_.fileSize;
      return true;
    }
    bool flush() override { return refuse(); }
    bool close() override { return refuse(); }

   private:
    static bool refuse() { finding("the plug-in used a file operation other than size"); }
    FuzzFops& owner_;
  };

  kesp::FopsFileV1* createFopsFile(const char* path, void*) override {
    require(path != nullptr, "null path to createFopsFile");
    if (!createWorks) return nullptr;
    ++live;
    return new File(*this);
  }
  void releaseFopsFile(kesp::FopsFileV1* file) override {
    require(file != nullptr, "null file released");
    --live;
    delete static_cast<File*>(file);
  }

  bool createWorks = true;
  bool sizeWorks = true;
  std::uint64_t fileSize = 0;
  int live = 0;
};

// A host's own input object, which the plug-in must refuse to check.
class ForeignInput final : public fp::FileInputV1 {
 public:
  std::uint32_t type = 0;
  void release() override {}
  std::uint32_t getType() override { return type; }
  Status setDetectionName(const char*) override { return Status::Success; }
  Status addCustomData(const GenericData*) override { return Status::Success; }
  void setFopsContext(void*) override {}
  Status setPath(const char*) override { return Status::Success; }
  void setFileSize(std::uint64_t) override {}
};

std::string executableDirectory() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

KESPGetPluginFunction pluginEntry() {
  static const plx::DynamicLibrary library(
      plx::joinPath({executableDirectory(), plx::sharedLibraryFileName("vfpcchecker")}));
  static const auto function = library.getFunction<KESPGetPluginFunction>("KESPGetPlugin");
  return function;
}

// Files the default file operations may open: a fresh directory of this
// process, never anything outside it.
struct ScratchDirectory {
  ScratchDirectory() {
    char pattern[] = "/tmp/kesp-fuzz-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) finding("no scratch directory");
    path = pattern;
    std::ofstream(path + "/empty.bin", std::ios::binary);
    std::ofstream(path + "/sample.bin", std::ios::binary) << std::string(1234, 'x');
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string path;
};

const ScratchDirectory& scratch() {
  static const ScratchDirectory directory;
  return directory;
}

// A name that stays inside its directory: behind a fixed first character and
// without separators it can be neither "." nor "..".
std::string withoutSlashes(std::string name) {
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return name;
}

std::string sdkDirectory() { return plx::joinPath({executableDirectory(), "fuzz-sdk"}); }

// What the host knows of the stored value of a number option.
struct NumberOptions {
  std::optional<std::uint64_t> connectionTimeout, dataTimeout, retries;
};

struct CheckerSlot {
  fp::CheckerV1* checker = nullptr;
  fp::GlobalConfigV1* config = nullptr;
  bool loaded = false;
  const fp::CheckerInfo* info = nullptr;
  std::uint32_t apiMajor = 0;
  std::uint32_t apiMinor = 0;
  // 0 none, 1 the test SDK, 2 a directory without the library
  int baseDirectory = 0;
  NumberOptions numbers;
  fpcsdk::LogInterface* sdkLog = nullptr;
  int instances = 0;
};

// What the plug-in will make of an input's custom data at check time.
struct InputSlot {
  fp::InputV1* input = nullptr;
  std::uint32_t type = 0;
  bool named = false;
  bool pathSet = false;
  int pathKind = 0;  // see setPath
  bool sizeSet = false;
  bool bufferSet = false;
  std::uint64_t bufferSize = 0;
  bool customDataValid = true;
};

struct InstanceSlot {
  fp::InstanceV1* instance = nullptr;
  int checker = 0;
  // 0 default, 1 and 2 the host factories, 3 none
  int factory = 0;
};

struct OutputSlot {
  fp::OutputV1* output = nullptr;
  bool verdict = false;
};

class Session {
 public:
  explicit Session(Reader& in) : in_(in), sdk_(fuzzSdk()) {
    sdk_.resetScript();
    log_.setMaxLevel(in_.pick(4));
    input_.log = &log_;
    makePlugin();
  }

  void run() {
    while (!in_.done()) step();
  }

  // Releases everything in the host's order and checks that nothing is left.
  void finish() {
    for (OutputSlot& slot : outputs_) releaseOutput(slot);
    for (InputSlot& slot : inputs_) releaseInput(slot);
    for (InstanceSlot& slot : instances_) releaseInstance(slot);
    sdk_.resetScript();
    for (CheckerSlot& slot : checkers_) {
      if (slot.loaded) requireStatus(slot.checker->unload(), Status::Success, "final unload");
      if (slot.checker != nullptr) slot.checker->release();
    }
    plugin_->release();
    require(sdk_.liveFpc == 0, "an SDK object outlived its checker");
    require(sdk_.liveInstances == 0, "an SDK instance outlived its instance");
    require(sdk_.mappings == 0, "the SDK library stayed mapped");
    require(fops_[0].live == 0 && fops_[1].live == 0, "a file object was not released");
  }

 private:
  bool logged() const { return input_.log != nullptr; }

  // Runs an operation; the count of error lines it wrote.
  template <class Operation>
  int errorsOf(Operation&& operation) {
    const int before = log_.errors;
    operation();
    return log_.errors - before;
  }

  // A failure writes at least one error line, a success none; quiet marks
  // the failures that are reported by their status alone.
  void requireLines(Status status, int errors, const char* operation, bool quiet = false) {
    require(static_cast<std::uint32_t>(status) <= 11, "status out of range", operation);
    if (!logged()) return;
    if (status == Status::Success) {
      require(errors == 0, "a success wrote an error line", operation);
    } else if (!quiet) {
      require(errors > 0, "a failure wrote no error line", operation);
    }
  }

  void makePlugin() {
    static const char kHostData[] = "host-data: fuzzing";
    switch (in_.pick(8)) {
      case 4:
        input_.record.reset();
        refusedPlugin("Exception: Plugin input returned null for ID '1001'");
        break;
      case 5: {
        const std::uint32_t type = in_.u32() | 1u;  // never 4
        input_.record = kesp::PluginInputData{0, type, reinterpret_cast<std::uint64_t>(kHostData)};
        refusedPlugin("Exception: Plugin input data type mismatch for ID '1001'. Got '" +
                      std::to_string(type) + "', expected '4'.");
        break;
      }
      case 6:
        input_.record =
            kesp::PluginInputData{0, 4, in_.flag() ? 0 : reinterpret_cast<std::uint64_t>("")};
        refusedPlugin(
            "Exception: Plugin input data with ID '1001': string value is null or "
            "empty");
        break;
      case 7: input_.log = nullptr; break;
      default: break;
    }
    hostData_ = in_.text();
    if (hostData_.find('\0') != std::string::npos || hostData_.empty()) hostData_ = kHostData;
    input_.record = kesp::PluginInputData{0, 4, reinterpret_cast<std::uint64_t>(hostData_.c_str())};
    plugin_ = pluginEntry()(&input_);
    require(plugin_ != nullptr, "no plug-in object");
  }

  void refusedPlugin(const std::string& line) {
    log_.lastText.clear();
    const int errors = errorsOf(
        [&] { require(pluginEntry()(&input_) == nullptr, "a faulty plug-in input was accepted"); });
    require(errors == 1 && log_.lastText == line, "wrong refusal of the plug-in input",
            log_.lastText);
  }

  void step() {
    switch (in_.pick(32)) {
      case 0: getChecker(); break;
      case 1: releaseChecker(); break;
      case 2: setApiVersion(); break;
      case 3: setBaseDirectory(); break;
      case 4: setGlobalOption(); break;
      case 5: resetConfig(); break;
      case 6: load(); break;
      case 7: unload(); break;
      case 8:
      case 9: getInfo(); break;
      case 10: createInstance(); break;
      case 11:
        if (InstanceSlot* slot = liveInstance()) {
          script(SdkOp::DestroyInstance);
          releaseInstance(*slot);
        }
        break;
      case 12: setInstanceOption(); break;
      case 13: setFops(); break;
      case 14: createInput(); break;
      case 15:
        if (InputSlot* slot = liveInput()) releaseInput(*slot);
        break;
      case 16: setDetectionName(); break;
      case 17: setPath(); break;
      case 18: addCustomData(); break;
      case 19: setFopsContext(); break;
      case 20: setFileSize(); break;
      case 21: setBuffer(); break;
      case 22:
      case 23: check(); break;
      case 24:
        if (OutputSlot* slot = liveOutput()) releaseOutput(*slot);
        break;
      case 25: readOutput(); break;
      case 26: sendCommand(); break;
      case 27: sdk_.verdictValue = in_.flag(); break;
      case 28: sdkLog(); break;
      case 29: readyChecker(); break;
      case 30: readyInput(); break;
      default: pluginInfo(); break;
    }
  }

  // One of the live objects of a kind, or null when there is none.
  template <class Slot, std::size_t Count>
  Slot* liveSlot(Slot (&slots)[Count], bool (*alive)(const Slot&)) {
    Slot* found[Count];
    std::uint32_t count = 0;
    for (Slot& slot : slots) {
      if (alive(slot)) found[count++] = &slot;
    }
    return count == 0 ? nullptr : found[in_.pick(count)];
  }
  // A free slot, or null when all are taken.
  template <class Slot, std::size_t Count>
  static Slot* freeSlot(Slot (&slots)[Count], bool (*alive)(const Slot&)) {
    for (Slot& slot : slots) {
      if (!alive(slot)) return &slot;
    }
    return nullptr;
  }
  static bool alive(const CheckerSlot& slot) { return slot.checker != nullptr; }
  static bool alive(const InstanceSlot& slot) { return slot.instance != nullptr; }
  static bool alive(const InputSlot& slot) { return slot.input != nullptr; }
  static bool alive(const OutputSlot& slot) { return slot.output != nullptr; }

  CheckerSlot* liveChecker() { return liveSlot(checkers_, alive); }

  // The SDK's answer to op in the coming host operation.
  void script(SdkOp op) { sdk_.codes[static_cast<int>(op)] = in_.sdkCode(); }
  InstanceSlot* liveInstance() { return liveSlot(instances_, alive); }
  InputSlot* liveInput() { return liveSlot(inputs_, alive); }
  OutputSlot* liveOutput() { return liveSlot(outputs_, alive); }

  CheckerSlot* getChecker() {
    CheckerSlot* slot = freeSlot(checkers_, alive);
    if (slot == nullptr) return nullptr;
    *slot = CheckerSlot{};
    slot->checker = plugin_->getChecker();
    require(slot->checker != nullptr, "no checker");
    slot->config = slot->checker->getConfig();
    require(slot->config != nullptr, "no configuration");
    return slot;
  }

  // The usual start of a host: a checker configured for the test SDK,
  // loaded, with an instance.
  void readyChecker() {
    CheckerSlot* slot = getChecker();
    if (slot == nullptr) return;
    slot->apiMajor = 2;
    slot->apiMinor = 0;
    slot->config->setApiVersion(2, 0);
    requireStatus(slot->config->setBaseDirectory(sdkDirectory().c_str()), Status::Success,
                  "setBaseDirectory");
    slot->baseDirectory = 1;
    sdk_.resetScript();
    load(*slot);
    if (slot->loaded) createInstance(*slot);
  }

  void releaseChecker() {
    CheckerSlot* slot = liveChecker();
    if (slot == nullptr || slot->instances > 0) return;
    // A checker released while loaded shuts the SDK down; an SDK that refused
    // would be kept alive on purpose, which is no leak of the plug-in's.
    sdk_.codes[static_cast<int>(SdkOp::Uninitialize)] = 0;
    slot->checker->release();
    *slot = CheckerSlot{};
  }

  void setApiVersion() {
    CheckerSlot* slot = liveChecker();
    if (slot == nullptr) return;
    const bool usual = in_.flag();
    slot->apiMajor = usual ? 2 : in_.u32();
    slot->apiMinor = usual ? 0 : in_.u32();
    slot->config->setApiVersion(slot->apiMajor, slot->apiMinor);
  }

  void setBaseDirectory() {
    CheckerSlot* slot = liveChecker();
    if (slot == nullptr) return;
    const std::uint32_t kind = in_.pick(5);
    std::string directory;
    switch (kind) {
      case 0: directory = sdkDirectory(); break;
      case 1: directory = sdkDirectory() + "/"; break;
      case 2: directory = scratch().path; break;
      case 3: directory = scratch().path + "/x" + withoutSlashes(in_.text()); break;
      default: break;
    }
    const bool null = kind == 4 && in_.flag();
    Status status = Status::Success;
    const int errors = errorsOf(
        [&] { status = slot->config->setBaseDirectory(null ? nullptr : directory.c_str()); });
    const bool empty = null || std::strlen(directory.c_str()) == 0;
    requireStatus(status, empty ? Status::Error : Status::Success, "setBaseDirectory");
    requireLines(status, errors, "setBaseDirectory");
    if (!empty) slot->baseDirectory = kind <= 1 ? 1 : 2;
  }

  // An option value: numbers of any kind, text from the input (or null), or
  // raw custom data; the text lives only during the call.
  struct Value {
    std::uint32_t type = 0;
    std::uint64_t value = 0;
    std::string text;
    bool nullText = false;
  };
  Value value() {
    Value result;
    const std::uint32_t kind = in_.pick(8);
    result.type = kind < 7 ? kind : in_.u32();
    if (result.type == kesp::plugins::GenericDataString) {
      result.nullText = in_.pick(6) == 0;
      result.text = in_.text();
    } else if (result.type == kesp::plugins::GenericDataCustom) {
      result.nullText = in_.pick(4) == 0;
      result.text = in_.text();
    } else {
      result.value = in_.number();
    }
    return result;
  }
  static GenericData asData(std::uint32_t id, const Value& value) {
    const bool pointer = value.type == kesp::plugins::GenericDataString ||
                         value.type == kesp::plugins::GenericDataCustom;
    const std::uint64_t bits =
        !pointer ? value.value
                 : (value.nullText ? 0 : reinterpret_cast<std::uint64_t>(value.text.c_str()));
    return GenericData{id, value.type, bits};
  }

  void setGlobalOption() {
    CheckerSlot* slot = liveChecker();
    if (slot == nullptr) return;
    const std::uint32_t id = in_.pick(4) == 0 ? in_.u32() : in_.pick(10);
    const Value option = value();
    script(SdkOp::SetProxy);
    const GenericData data = asData(id, option);
    const bool null = in_.pick(16) == 0;
    Status status = Status::Success;
    const int errors =
        errorsOf([&] { status = slot->config->setCustomOption(null ? nullptr : &data); });
    requireStatus(status, expectedOption(*slot, id, option, null), "setCustomOption");
    requireLines(status, errors, "setCustomOption");
    if (status == Status::Success) {
      if (id == 5) slot->numbers.connectionTimeout = data.value;
      if (id == 6) slot->numbers.dataTimeout = data.value;
      if (id == 8) slot->numbers.retries = data.value;
    }
  }

  Status expectedOption(const CheckerSlot& slot, std::uint32_t id, const Value& option,
                        bool null) const {
    if (null || id > 8) return Status::Error;
    const bool text = id != 5 && id != 6 && id != 8;
    const std::uint32_t type = option.type;
    if (type >= kesp::plugins::GenericDataCustom) return Status::Error;
    if (text && type != kesp::plugins::GenericDataString) return Status::Error;
    if (!text && (type < 1 || type > 3)) return Status::Error;
    const bool proxyPair = id == 2 || id == 3;
    if (text && option.nullText && !proxyPair) return Status::Error;
    if (proxyPair && slot.loaded)
      return statusOfCode(sdk_.codes[static_cast<int>(SdkOp::SetProxy)]);
    return Status::Success;
  }

  void resetConfig() {
    CheckerSlot* slot = liveChecker();
    if (slot == nullptr) return;
    slot->config->reset();
    slot->apiMajor = slot->apiMinor = 0;
    slot->baseDirectory = 0;
    slot->numbers = NumberOptions{};
  }

  Status expectedLoad(const CheckerSlot& slot) const {
    if (slot.loaded) return Status::AlreadyInitialized;
    if (slot.apiMajor != 2 || slot.apiMinor != 0) return Status::NotSupported;
    if (slot.baseDirectory == 0) return Status::Error;
    if (slot.baseDirectory == 2) return Status::LoadFailed;
    const auto code = [&](SdkOp op) { return sdk_.codes[static_cast<int>(op)]; };
    if (code(SdkOp::Create) != 0) return statusOfCode(code(SdkOp::Create));
    const NumberOptions& numbers = slot.numbers;
    constexpr std::uint64_t kMaxTimeout = 9223372036854775807ull;
    if (numbers.connectionTimeout.value_or(0) > kMaxTimeout ||
        numbers.dataTimeout.value_or(0) > kMaxTimeout ||
        numbers.retries.value_or(0) > 4294967295ull) {
      return Status::Error;
    }
    if (code(SdkOp::Initialize) != 0) return statusOfCode(code(SdkOp::Initialize));
    return statusOfCode(code(SdkOp::SetProxy));
  }

  void load() {
    CheckerSlot* slot = liveChecker();
    if (slot == nullptr) return;
    script(SdkOp::Create);
    script(SdkOp::Initialize);
    script(SdkOp::SetProxy);
    load(*slot);
  }
  void load(CheckerSlot& checker) {
    CheckerSlot* slot = &checker;
    const Status expected = expectedLoad(*slot);
    sdk_.lastLog = nullptr;
    Status status = Status::Success;
    const int errors = errorsOf([&] { status = slot->checker->load(); });
    requireStatus(status, expected, "load");
    requireLines(status, errors, "load");
    if (status == Status::Success) {
      slot->loaded = true;
      slot->sdkLog = sdk_.lastLog;
    }
  }

  void unload() {
    CheckerSlot* slot = liveChecker();
    if (slot == nullptr) return;
    script(SdkOp::Uninitialize);
    const std::int32_t code = sdk_.codes[static_cast<int>(SdkOp::Uninitialize)];
    const Status expected = !slot->loaded         ? Status::NotInitialized
                            : slot->instances > 0 ? Status::InUse
                                                  : statusOfCode(code);
    Status status = Status::Success;
    const int errors = errorsOf([&] { status = slot->checker->unload(); });
    requireStatus(status, expected, "unload");
    // The SDK's refusal by a known code is reported by the status alone.
    requireLines(
        status, errors, "unload",
        slot->loaded && slot->instances == 0 && code != 0 && mappedStatus(code).has_value());
    if (status == Status::Success) {
      slot->loaded = false;
      slot->info = nullptr;
      // The SDK object's log interface ended with its library.
      slot->sdkLog = nullptr;
    }
  }

  void getInfo() {
    CheckerSlot* slot = liveChecker();
    if (slot == nullptr) return;
    const fp::CheckerInfo* info = slot->checker->getInfo();
    require((info != nullptr) == slot->loaded,
            "information while not loaded, or none while loaded");
    if (info != nullptr && slot->info != nullptr) require(info == slot->info, "information moved");
    slot->info = info;
  }

  void sendCommand() {
    CheckerSlot* slot = liveChecker();
    if (slot == nullptr) return;
    const fp::CheckerCommand command{in_.pick(4) == 0 ? in_.u32() : in_.pick(3)};
    const bool null = in_.pick(16) == 0;
    const Status expected = null              ? Status::Error
                            : command.id == 0 ? Status::NotSupported
                            : command.id == 1
                                ? (slot->loaded ? Status::Success : Status::NotInitialized)
                                : Status::Error;
    Status status = Status::Success;
    const int errors =
        errorsOf([&] { status = slot->checker->sendCommand(null ? nullptr : &command); });
    requireStatus(status, expected, "sendCommand");
    requireLines(status, errors, "sendCommand", !null && command.id == 0);
  }

  void createInstance() {
    CheckerSlot* slot = liveChecker();
    if (slot == nullptr) return;
    script(SdkOp::CreateInstance);
    createInstance(*slot);
  }
  void createInstance(CheckerSlot& checker) {
    CheckerSlot* slot = &checker;
    InstanceSlot* free = freeSlot(instances_, alive);
    if (free == nullptr) return;
    InstanceSlot& target = *free;
    const bool null = in_.pick(16) == 0;
    const Status expected = !slot->loaded ? Status::NotInitialized
                            : null
                                ? Status::Error
                                : statusOfCode(sdk_.codes[static_cast<int>(SdkOp::CreateInstance)]);
    fp::InstanceV1* const untouched = reinterpret_cast<fp::InstanceV1*>(&target);
    fp::InstanceV1* made = untouched;
    Status status = Status::Success;
    const int errors =
        errorsOf([&] { status = slot->checker->createInstance(null ? nullptr : &made); });
    requireStatus(status, expected, "createInstance");
    requireLines(status, errors, "createInstance");
    if (status != Status::Success) {
      require(made == untouched, "a failed createInstance wrote the instance pointer");
      return;
    }
    require(made != untouched && made != nullptr, "createInstance gave no instance");
    require(made->getOptions() != nullptr, "no options");
    target.instance = made;
    target.checker = static_cast<int>(slot - checkers_);
    target.factory = 0;
    ++slot->instances;
  }

  void releaseInstance(InstanceSlot& slot) {
    if (slot.instance == nullptr) return;
    slot.instance->release();
    slot.instance = nullptr;
    --checkers_[slot.checker].instances;
  }

  void setInstanceOption() {
    InstanceSlot* slot = liveInstance();
    if (slot == nullptr) return;
    const Value option = value();
    const GenericData data = asData(in_.u32(), option);
    Status status = Status::Success;
    const int errors = errorsOf([&] {
      status = slot->instance->getOptions()->setCustomOption(in_.flag() ? nullptr : &data);
    });
    requireStatus(status, Status::NotSupported, "instance setCustomOption");
    requireLines(status, errors, "instance setCustomOption");
  }

  void setFops() {
    InstanceSlot* slot = liveInstance();
    if (slot == nullptr) return;
    const std::uint32_t choice = 1 + in_.pick(3);
    if (choice < 3) {
      FuzzFops& fops = fops_[choice - 1];
      fops.createWorks = in_.pick(4) != 0;
      fops.sizeWorks = in_.pick(4) != 0;
      fops.fileSize = in_.number();
    }
    Status status = Status::Success;
    const int errors = errorsOf(
        [&] { status = slot->instance->setFops(choice < 3 ? &fops_[choice - 1] : nullptr); });
    requireStatus(status, Status::Success, "setFops");
    requireLines(status, errors, "setFops");
    slot->factory = static_cast<int>(choice);
  }

  InputSlot* createInput() {
    InstanceSlot* slot = liveInstance();
    InputSlot* free = freeSlot(inputs_, alive);
    if (slot == nullptr || free == nullptr) return nullptr;
    InputSlot& target = *free;
    const std::uint32_t type = in_.pick(8) == 0 ? in_.u32() : in_.pick(2);
    fp::InputV1* made = nullptr;
    const int errors = errorsOf([&] { made = slot->instance->createInput(type); });
    if (type > 1) {
      require(made == nullptr && (!logged() || errors == 1), "an input of an unknown type");
      return nullptr;
    }
    require(made != nullptr && errors == 0, "no input");
    require(made->getType() == type, "wrong input type");
    target = InputSlot{};
    target.input = made;
    target.type = type;
    return &target;
  }

  // The usual input: named, with a path (and maybe a size) or a buffer.
  void readyInput() {
    InputSlot* slot = createInput();
    if (slot == nullptr) return;
    requireStatus(slot->input->setDetectionName("Trojan.Fuzz.Generic"), Status::Success,
                  "setDetectionName");
    slot->named = true;
    if (slot->type == 0) {
      const int kind = in_.flag() ? 1 : 2;
      const std::string path = scratch().path + (kind == 1 ? "/sample.bin" : "/missing.bin");
      requireStatus(slot->input->setPath(path.c_str()), Status::Success, "setPath");
      slot->pathSet = true;
      slot->pathKind = kind;
    } else {
      requireStatus(static_cast<fp::MemoryFileInputV1*>(slot->input)->setBuffer(buffer_, 1),
                    Status::Success, "setBuffer");
      slot->bufferSet = true;
      slot->bufferSize = 1;
    }
  }

  void releaseInput(InputSlot& slot) {
    if (slot.input == nullptr) return;
    slot.input->release();
    slot.input = nullptr;
  }

  void setDetectionName() {
    InputSlot* slot = liveInput();
    if (slot == nullptr) return;
    const bool null = in_.pick(8) == 0;
    const std::string name = in_.longText();
    Status status = Status::Success;
    const int errors =
        errorsOf([&] { status = slot->input->setDetectionName(null ? nullptr : name.c_str()); });
    const bool empty = null || name.c_str()[0] == '\0';
    requireStatus(status, empty ? Status::Error : Status::Success, "setDetectionName");
    requireLines(status, errors, "setDetectionName");
    slot->named = slot->named || !empty;
  }

  // Paths name the scratch directory's files, or arbitrary names inside it:
  // the default file operations open what they are given.
  void setPath() {
    InputSlot* slot = liveInput();
    if (slot == nullptr) return;
    const int kind = static_cast<int>(in_.pick(6));
    std::string path;
    switch (kind) {
      case 0: path = scratch().path + "/empty.bin"; break;
      case 1: path = scratch().path + "/sample.bin"; break;
      case 2: path = scratch().path + "/missing.bin"; break;
      case 3: path = scratch().path + "/x" + withoutSlashes(in_.text()); break;
      default: break;
    }
    const bool null = kind == 5;
    Status status = Status::Success;
    const int errors =
        errorsOf([&] { status = slot->input->setPath(null ? nullptr : path.c_str()); });
    requireStatus(status, path.empty() ? Status::Error : Status::Success, "setPath");
    requireLines(status, errors, "setPath");
    if (!path.empty()) {
      slot->pathSet = true;
      slot->pathKind = kind;
    }
  }

  void addCustomData() {
    InputSlot* slot = liveInput();
    if (slot == nullptr) return;
    static const std::uint32_t kIds[] = {0, 10000, 10001, 10002, 10003};
    const std::uint32_t id = in_.pick(6) == 0 ? in_.u32() : kIds[in_.pick(5)];
    const Value data = value();
    // Custom data is a pair of the id's layout, its texts from the input.
    const std::string key = in_.text();
    const std::string text = in_.text();
    const bool nullKey = in_.pick(6) == 0;
    const bool nullValue = in_.pick(6) == 0;
    const kesp::plugins::BoolPair boolPair{nullKey ? nullptr : key.c_str(), in_.flag()};
    const kesp::plugins::IntPair intPair{nullKey ? nullptr : key.c_str(),
                                         static_cast<std::int64_t>(in_.u64())};
    const kesp::plugins::StrPair strPair{nullKey ? nullptr : key.c_str(),
                                         nullValue ? nullptr : text.c_str()};
    GenericData generic = asData(id, data);
    bool pairValid = false;
    if (data.type == kesp::plugins::GenericDataCustom && !data.nullText) {
      const void* pair = &strPair;
      if (id == 10001) pair = &boolPair;
      if (id == 10002) pair = &intPair;
      generic.value = reinterpret_cast<std::uint64_t>(pair);
      pairValid = id >= 10001 && id <= 10003 && !nullKey && (id != 10003 || !nullValue);
    }
    const bool knownId = id == 0 || (id >= 10000 && id <= 10003);
    Status expected = Status::Success;
    if (!knownId || data.type > kesp::plugins::GenericDataCustom) expected = Status::Error;
    if (data.type == kesp::plugins::GenericDataString && data.nullText) expected = Status::Error;
    if (data.type == kesp::plugins::GenericDataCustom && !pairValid) expected = Status::Error;

    const bool null = in_.pick(16) == 0;
    Status status = Status::Success;
    const int errors =
        errorsOf([&] { status = slot->input->addCustomData(null ? nullptr : &generic); });
    requireStatus(status, null ? Status::Error : expected, "addCustomData");
    requireLines(status, errors, "addCustomData");
    if (status == Status::Success) {
      const bool textId = id == 0 || id == 10000;
      const bool valid = textId ? data.type == kesp::plugins::GenericDataString
                                : data.type == kesp::plugins::GenericDataCustom;
      slot->customDataValid = slot->customDataValid && valid;
    }
  }

  void setFopsContext() {
    InputSlot* slot = liveInput();
    if (slot != nullptr) slot->input->setFopsContext(in_.flag() ? nullptr : &fops_[0]);
  }

  void setFileSize() {
    InputSlot* slot = liveInput();
    if (slot == nullptr || slot->type != 0) return;
    static_cast<fp::FileInputV1*>(slot->input)->setFileSize(in_.number());
    slot->sizeSet = true;
  }

  void setBuffer() {
    InputSlot* slot = liveInput();
    if (slot == nullptr || slot->type != 1) return;
    const bool null = in_.pick(6) == 0;
    // The plug-in never reads the bytes, so any size goes with them.
    const std::uint64_t size =
        in_.flag() ? in_.pick(static_cast<std::uint32_t>(sizeof buffer_) + 1) : in_.number();
    Status status = Status::Success;
    const int errors = errorsOf([&] {
      status = static_cast<fp::MemoryFileInputV1*>(slot->input)
                   ->setBuffer(null ? nullptr : buffer_, size);
    });
    requireStatus(status, null ? Status::Error : Status::Success, "setBuffer");
    requireLines(status, errors, "setBuffer");
    if (!null) {
      slot->bufferSet = true;
      slot->bufferSize = size;
    }
  }

  // The status a check should give, when the host can tell it; the default
  // file operations on names the program does not control may fail in more
  // than one way, so those give nullopt.
  std::optional<Status> expectedCheck(const InstanceSlot& instance, const InputSlot& input) const {
    if (!input.named || !input.customDataValid) return Status::Error;
    if (input.type == 1) {
      if (!input.bufferSet || input.bufferSize == 0) return Status::Error;
    } else {
      if (!input.pathSet) return Status::Error;
      switch (instance.factory) {
        case 3: return Status::Error;
        case 0:
          if (input.pathKind == 3) return std::nullopt;
          if (!input.sizeSet && input.pathKind == 2) return Status::Error;
          break;
        default: {
          const FuzzFops& fops = fops_[instance.factory - 1];
          if (!fops.createWorks) return Status::OutOfMemory;
          if (!input.sizeSet && !fops.sizeWorks) return Status::Error;
        }
      }
    }
    return statusOfCode(sdk_.codes[static_cast<int>(SdkOp::CheckDetection)]);
  }

  void check() {
    InstanceSlot* instance = liveInstance();
    if (instance == nullptr) return;
    OutputSlot& target = outputs_[in_.pick(4)];  // a live output there is released first
    const std::uint32_t kind = in_.pick(8);
    InputSlot* input = kind < 6 ? liveInput() : nullptr;
    if (kind < 6 && input == nullptr) return;
    const bool nullOutput = in_.pick(16) == 0;
    script(SdkOp::CheckDetection);
    ForeignInput foreign;
    foreign.type = in_.pick(3);
    fp::InputV1* argument = kind < 6 ? input->input : kind == 6 ? &foreign : nullptr;

    std::optional<Status> expected = Status::Error;
    if (kind < 6 && !nullOutput) expected = expectedCheck(*instance, *input);
    releaseOutput(target);
    fp::OutputV1* const untouched = reinterpret_cast<fp::OutputV1*>(&target);
    fp::OutputV1* made = untouched;
    Status status = Status::Success;
    const int errors = errorsOf(
        [&] { status = instance->instance->check(argument, nullOutput ? nullptr : &made); });
    if (expected) requireStatus(status, *expected, "check");
    requireLines(status, errors, "check");
    if (status != Status::Success) {
      require(made == untouched, "a failed check wrote the output pointer");
      return;
    }
    require(made != nullptr && made != untouched, "a check gave no output");
    target.output = made;
    target.verdict = sdk_.verdictValue;
  }

  void releaseOutput(OutputSlot& slot) {
    if (slot.output == nullptr) return;
    slot.output->release();
    slot.output = nullptr;
  }

  void readOutput() {
    if (OutputSlot* slot = liveOutput()) {
      require(slot->output->isFalsePositive() == slot->verdict, "the verdict changed");
    }
  }

  // The SDK writes a line of its own through the checker's log bridge.
  void sdkLog() {
    CheckerSlot* slot = liveChecker();
    if (slot == nullptr || slot->sdkLog == nullptr) return;
    const auto level = static_cast<std::int32_t>(in_.u32() % 8) - 2;
    const std::string message = in_.longText();
    const std::uint32_t hostLevel =
        level >= 1 && level <= 3 ? static_cast<std::uint32_t>(level) : 0;
    const bool wanted = logged() && hostLevel <= log_.maxLevel();
    require(slot->sdkLog->filter(level) == wanted, "the SDK log filter is wrong");
    const int before = log_.lines;
    slot->sdkLog->log(level, static_cast<std::int32_t>(in_.u32()), message);
    if (!wanted) {
      require(log_.lines == before, "an unwanted SDK line arrived");
      return;
    }
    // What is not UTF-8 arrives mended (the rule itself has a table test).
    std::string expected = "[fpcsdk] " + plx::replaceInvalidUtf8(message.c_str());
    const bool truncated = expected.size() > 16383;
    if (truncated) {
      // Cut after 16383 bytes, or earlier by the bytes of a UTF-8 character
      // that the limit splits: a lead byte whose character reaches past it.
      const std::size_t kept = log_.lastText.size();
      const auto lead = static_cast<unsigned char>(expected[std::min<std::size_t>(kept, 16383)]);
      const std::size_t length = lead >= 0xF0 && lead < 0xF8 ? 4
                                 : lead >= 0xE0 && lead < 0xF0 ? 3
                                 : lead >= 0xC0 && lead < 0xE0 ? 2
                                                              : 1;
      const bool split =
          kept < 16383 && kept + 3 >= 16383 && kept + length > 16383 &&
          std::all_of(expected.begin() + static_cast<std::ptrdiff_t>(kept) + 1,
                      expected.begin() + 16384,
                      [](char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; });
      expected.resize(split ? kept : 16383);
    }
    require(log_.lines == before + 1 && log_.lastText == expected && log_.lastLevel == hostLevel &&
                log_.lastFlags == (truncated ? 1u : 0u),
            "the SDK line arrived changed");
  }

  void pluginInfo() {
    kesp::plugins::PluginInfoV1* info = plugin_->getPluginInfo();
    require(info != nullptr, "no plug-in information");
    const kesp::plugins::PluginVersion version = kesp::plugins::versionOf(*info);
    require(version.major == 2 && version.minor == 1 && version.patch == 0 && version.build == 29,
            "wrong version");
    require(std::strcmp(info->getName(), "Velnor FP Checker") == 0, "wrong name");
    info->release();
  }

  Reader& in_;
  FuzzSdk& sdk_;
  FuzzLog log_;
  HostInput input_;
  std::string hostData_;
  kesp::plugins::PluginV1* plugin_ = nullptr;
  FuzzFops fops_[2];
  CheckerSlot checkers_[2];
  InstanceSlot instances_[4];
  InputSlot inputs_[4];
  OutputSlot outputs_[4];
  const char buffer_[32] = "MZ memory buffer of the fuzzer.";
};

}  // namespace

// The test SDK finds its script among this program's exports.
extern "C" __attribute__((visibility("default"))) kesp::test::TestSdkControl* kespTestSdkControl() {
  return &fuzzSdk();
}

// The plug-in library is loaded once, before the first input, so that
// libFuzzer registers its coverage at start-up; it is never unloaded.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pluginEntry();
  scratch();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in(data, size);
  Session session(in);
  session.run();
  session.finish();
  return 0;
}
