// A host built with MSVC, as far as the tests can build one: compiled by
// clang for x86_64-pc-windows-msvc, freestanding (no C or C++ runtime), from
// the real include/kesp/ headers. Every call on the plug-in's objects below is
// made with the Microsoft ABI, and so is every object the plug-in calls back:
// the plug-in input, the host log and the host file operations.
#include "kesp/kesp.h"
#include "tests/msvc/msvc_host.h"

// The three Win32 calls of a host that loads a plug-in, declared as
// <windows.h> would (the freestanding build has no SDK headers).
extern "C" {
__declspec(dllimport) void* __stdcall LoadLibraryW(const wchar_t* name);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* name);
__declspec(dllimport) int __stdcall FreeLibrary(void* module);
}

// The deleting destructor of FopsFactoryV1's table refers to these. Nobody
// may call them: the plug-in never ends a host's factory.
void operator delete(void*) noexcept { __builtin_trap(); }
void operator delete(void*, decltype(sizeof 0)) noexcept { __builtin_trap(); }

namespace {

namespace fp = kesp::plugins::fpchecker;
using kesp::plugins::GenericData;

bool sameText(const char* left, const char* right) {
  if (left == nullptr || right == nullptr) return left == right;
  while (*left != '\0' && *left == *right) ++left, ++right;
  return *left == *right;
}

void appendText(char* buffer, unsigned capacity, const char* text) {
  unsigned used = 0;
  while (used + 1 < capacity && buffer[used] != '\0') ++used;
  while (used + 1 < capacity && *text != '\0') buffer[used++] = *text++;
  buffer[used] = '\0';
}

std::uint64_t word(const void* pointer) { return reinterpret_cast<std::uint64_t>(pointer); }

// Remembers the first step that went against the contract.
struct Steps {
  const char* failure = nullptr;
  std::uint64_t value = 0;

  bool expect(bool holds, const char* step, std::uint64_t got) {
    if (!holds && failure == nullptr) {
      failure = step;
      value = got;
    }
    return holds;
  }
  bool status(fp::Status got, fp::Status wanted, const char* step) {
    return expect(got == wanted, step, static_cast<std::uint64_t>(got));
  }
};

class Log final : public kesp::HostLog {
 public:
  Log(KespMsvcLogLine line, void* context) : line_(line), context_(context) {}
  bool isEnabled(std::uint32_t, std::uint32_t, std::uint32_t) override { return true; }
  void log(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
           const char* text) override {
    line_(context_, level, module, flags, text);
  }

 private:
  KespMsvcLogLine line_;
  void* context_;
};

class Input final : public kesp::PluginInput {
 public:
  explicit Input(kesp::HostLog* log) : log_(log) {}
  kesp::HostLog* getLog() override { return log_; }
  void getVersion(std::uint32_t* major, std::uint32_t* minor) override { *major = 2, *minor = 0; }
  const kesp::PluginInputData* getData(std::uint32_t id) override {
    return id == kesp::PluginInputHostDataString ? &hostData_ : nullptr;
  }

 private:
  kesp::HostLog* log_;
  kesp::PluginInputData hostData_{0, kesp::PluginInputDataString, word("msvc host data")};
};

// One file object at a time, reporting a size above 4 GiB; the trace says
// what the plug-in asked of it.
class Fops final : public kesp::FopsFactoryV1 {
 public:
  class File final : public kesp::FopsFileV1 {
   public:
    explicit File(Fops& owner) : owner_(owner) {}
    bool access(std::uint32_t) override { return unexpected("access"); }
    bool rename(const char*) override { return unexpected("rename"); }
    bool unlink() override { return unexpected("unlink"); }
    bool open(std::uint32_t, std::uint32_t) override { return unexpected("open"); }
    bool read(void*, std::uint64_t, std::uint64_t*) override { return unexpected("read"); }
    bool write(const void*, std::uint64_t, std::uint64_t*) override { return unexpected("write"); }
    bool tell(std::uint64_t*) override { return unexpected("tell"); }
    bool seek(std::int64_t, std::uint32_t) override { return unexpected("seek"); }
    bool size(std::uint64_t* size) override {
      owner_.trace("size ");
      *size = owner_.size_;
      return true;
    }
    bool flush() override { return unexpected("flush"); }
    bool close() override { return unexpected("close"); }

   private:
    bool unexpected(const char* name) {
      owner_.trace(name);
      owner_.trace(" ");
      return false;
    }
    Fops& owner_;
  };

  Fops(KespMsvcSession& session, Steps& steps, void* context)
      : session_(session), steps_(steps), context_(context), size_(session.fileSize) {}
  ~Fops() override = default;

  kesp::FopsFileV1* createFopsFile(const char* path, void* context) override {
    trace("create ");
    steps_.expect(sameText(path, session_.filePath), "createFopsFile: the input's path", 0);
    steps_.expect(context == context_, "createFopsFile: the input's context", word(context));
    if (inUse_) return nullptr;
    inUse_ = true;
    return &file_;
  }
  void releaseFopsFile(kesp::FopsFileV1* file) override {
    trace("release");
    steps_.expect(file == &file_ && inUse_, "releaseFopsFile: the object made", word(file));
    inUse_ = false;
  }

 private:
  void trace(const char* text) { appendText(session_.fopsTrace, sizeof session_.fopsTrace, text); }

  KespMsvcSession& session_;
  Steps& steps_;
  void* context_;
  std::uint64_t size_;
  File file_{*this};
  bool inUse_ = false;
};

KESPGetPluginFunction resolve(void* module) {
  return reinterpret_cast<KESPGetPluginFunction>(GetProcAddress(module, "KESPGetPlugin"));
}

// Configure, load, one instance with the host's file operations, a file and
// a memory check with custom data, the foreign inputs, releases, unload.
void runChecker(fp::CheckerV1& checker, KespMsvcSession& session, Steps& steps) {
  fp::GlobalConfigV1* config = checker.getConfig();
  if (!steps.expect(config != nullptr, "getConfig", 0)) return;
  config->setApiVersion(2, 0);
  steps.status(config->setBaseDirectory(session.sdkDirectory), fp::Status::Success,
               "setBaseDirectory");
  const GenericData timeout{fp::OptionConnectionTimeout, kesp::plugins::GenericDataInt1,
                            session.connectionTimeout};
  steps.status(config->setCustomOption(&timeout), fp::Status::Success, "setCustomOption number");
  const GenericData url{fp::OptionCloudUrl, kesp::plugins::GenericDataString,
                        word("https://cloud.example/msvc")};
  steps.status(config->setCustomOption(&url), fp::Status::Success, "setCustomOption text");
  if (!steps.status(checker.load(), fp::Status::Success, "load")) return;
  steps.expect(checker.getInfo() != nullptr, "getInfo", 0);
  const fp::CheckerCommand cleanup{fp::CommandThreadCleanup};
  steps.status(checker.sendCommand(&cleanup), fp::Status::Success, "sendCommand cleanup");
  const fp::CheckerCommand connection{fp::CommandCheckConnection};
  steps.status(checker.sendCommand(&connection), fp::Status::NotSupported,
               "sendCommand connection");

  fp::InstanceV1* instance = nullptr;
  if (!steps.status(checker.createInstance(&instance), fp::Status::Success, "createInstance")) {
    return;
  }
  steps.status(instance->getOptions()->setCustomOption(&timeout), fp::Status::NotSupported,
               "instance setCustomOption");
  int context = 0;
  Fops fops(session, steps, &context);
  steps.status(instance->setFops(&fops), fp::Status::Success, "setFops");

  if (auto* file = static_cast<fp::FileInputV1*>(instance->createInput(0))) {
    steps.expect(file->getType() == 0, "file getType", file->getType());
    steps.status(file->setDetectionName("HEUR:Trojan.Win32.Msvc"), fp::Status::Success,
                 "file setDetectionName");
    steps.status(file->setPath(session.filePath), fp::Status::Success, "file setPath");
    file->setFopsContext(&context);
    const kesp::plugins::BoolPair flag{"deep", true};
    const kesp::plugins::IntPair limit{"limit", 0x123456789LL};
    const kesp::plugins::StrPair zone{"zone", "dmz"};
    const GenericData data[] = {
        {fp::CustomDataHash, kesp::plugins::GenericDataString, word("0123abcd")},
        {fp::CustomDataBoolPair, kesp::plugins::GenericDataCustom, word(&flag)},
        {fp::CustomDataIntPair, kesp::plugins::GenericDataCustom, word(&limit)},
        {fp::CustomDataStrPair, kesp::plugins::GenericDataCustom, word(&zone)},
        {fp::CustomDataExtraData, kesp::plugins::GenericDataString, word("extra from msvc")},
    };
    for (const GenericData& entry : data) {
      steps.status(file->addCustomData(&entry), fp::Status::Success, "file addCustomData");
    }
    fp::OutputV1* output = nullptr;
    if (steps.status(instance->check(file, &output), fp::Status::Success, "file check")) {
      session.fileVerdict = output->isFalsePositive() ? 1 : 0;
      output->release();
    }
    file->release();
  } else {
    steps.expect(false, "createInput file", 0);
  }

  if (auto* memory = static_cast<fp::MemoryFileInputV1*>(instance->createInput(1))) {
    static const char bytes[4096] = {'M', 'Z'};
    steps.expect(memory->getType() == 1, "memory getType", memory->getType());
    steps.status(memory->setDetectionName("EICAR-Test-File"), fp::Status::Success,
                 "memory setDetectionName");
    steps.status(memory->setBuffer(bytes, sizeof bytes), fp::Status::Success, "setBuffer");
    fp::OutputV1* output = nullptr;
    if (steps.status(instance->check(memory, &output), fp::Status::Success, "memory check")) {
      session.memoryVerdict = output->isFalsePositive() ? 1 : 0;
      output->release();
    }
    memory->release();
  } else {
    steps.expect(false, "createInput memory", 0);
  }

  for (std::uint32_t type = 0; type < 2; ++type) {
    kespMsvcCheckForeignWithRtti(instance, type, &session.foreign[type]);
    kespMsvcCheckForeignWithoutRtti(instance, type, &session.foreign[2 + type]);
  }

  instance->release();
  steps.status(checker.unload(), fp::Status::Success, "unload");
}

}  // namespace

extern "C" const char* kespMsvcReadPluginInfo(const wchar_t* libraryPath, KespMsvcLogLine logLine,
                                              void* logContext, KespMsvcPluginInfo* info) {
  void* module = LoadLibraryW(libraryPath);
  if (module == nullptr) return "LoadLibraryW";
  const char* failure = nullptr;
  Log log(logLine, logContext);
  Input input(&log);
  if (const KESPGetPluginFunction getPlugin = resolve(module); getPlugin == nullptr) {
    failure = "GetProcAddress KESPGetPlugin";
  } else if (kesp::plugins::PluginV1* plugin = getPlugin(&input); plugin == nullptr) {
    failure = "KESPGetPlugin";
  } else {
    if (kesp::plugins::PluginInfoV1* about = plugin->getPluginInfo(); about == nullptr) {
      failure = "getPluginInfo";
    } else {
      info->pluginType = about->getPluginType();
      about->getApiVersion(&info->apiMajor, &info->apiMinor);
      info->name[0] = '\0';
      appendText(info->name, sizeof info->name, about->getName());
      info->pluginId = about->getPluginId();
      // Written over first, so that a slot that leaves the result alone shows.
      kesp::plugins::PluginVersion version{0xeeee, 0xeeee, 0xeeee, 0xeeee};
      version = about->getVersion();
      info->version[0] = version.major;
      info->version[1] = version.minor;
      info->version[2] = version.patch;
      info->version[3] = version.build;
      // The object must still be whole: a slot that wrote past it breaks this.
      info->pluginType = info->pluginType == about->getPluginType() ? info->pluginType : -1;
      about->release();
    }
    plugin->release();
  }
  FreeLibrary(module);
  return failure;
}

extern "C" void kespMsvcRunSession(KespMsvcSession* session) {
  Steps steps;
  session->fopsTrace[0] = '\0';
  session->fileVerdict = session->memoryVerdict = -1;
  if (void* module = LoadLibraryW(session->libraryPath); module == nullptr) {
    steps.expect(false, "LoadLibraryW", 0);
  } else {
    Log log(session->logLine, session->logContext);
    Input input(&log);
    const KESPGetPluginFunction getPlugin = resolve(module);
    if (steps.expect(getPlugin != nullptr, "GetProcAddress KESPGetPlugin", 0)) {
      kesp::plugins::PluginV1* plugin = getPlugin(&input);
      if (steps.expect(plugin != nullptr, "KESPGetPlugin", 0)) {
        if (fp::CheckerV1* checker = plugin->getChecker();
            steps.expect(checker != nullptr, "getChecker", 0)) {
          runChecker(*checker, *session, steps);
          checker->release();
        }
        plugin->release();
      }
    }
    FreeLibrary(module);
  }
  session->failure = steps.failure;
  session->value = steps.value;
}
