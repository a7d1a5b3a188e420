// A minimal host of the Velnor FP Checker plug-in, as a host vendor writes
// one: it sees nothing but the contract in include/kesp/ and loads the
// plug-in library by path with the platform's loader.
//
//   vfpc_host <plug-in library> <checker SDK directory> <file> [<detection>]
//
// It loads the checker SDK from the directory, checks the file and one
// buffer in memory, prints both verdicts and releases everything in order.
// Paths are passed to the plug-in as UTF-8 (this example takes them from the
// command line as they are: keep them ASCII on Windows).
#include <kesp/kesp.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace fp = kesp::plugins::fpchecker;

namespace {

// What each Status means to this host, and what it does about it.
const char* describe(fp::Status status) {
  switch (status) {
    case fp::Status::Success: return "success";
    case fp::Status::Error: return "invalid input or configuration: fix the call (see the log)";
    case fp::Status::OutOfMemory: return "out of memory: retry later";
    case fp::Status::NotInitialized: return "the checker is not loaded: load it first";
    case fp::Status::AlreadyInitialized: return "the checker is already loaded";
    case fp::Status::NotSupported: return "not supported: API version, command or option";
    case fp::Status::InUse: return "instances still exist: release them, then unload";
    case fp::Status::LoadFailed: return "the checker SDK library could not be loaded: "
                                        "check the base directory";
    case fp::Status::TimedOut: return "the cloud timed out: retry";
    case fp::Status::ConnectionError: return "no connection to the cloud: check the "
                                             "network and proxy, retry";
    case fp::Status::CertificateError: return "certificate error: check the certificate path";
    case fp::Status::CloudError: return "the cloud refused the request: report it";
  }
  return "unknown status: treated as an error";
}

bool succeeded(const char* what, fp::Status status) {
  if (status == fp::Status::Success) return true;
  std::fprintf(stderr, "%s failed: status %u, %s\n", what, static_cast<unsigned>(status),
               describe(status));
  return false;
}

// The plug-in's messages: errors and warnings to standard error.
class StderrLog final : public kesp::HostLog {
 public:
  bool isEnabled(std::uint32_t level, std::uint32_t, std::uint32_t) override {
    return level <= kesp::HostLogWarning;
  }
  void log(std::uint32_t level, std::uint32_t, std::uint32_t, const char* text) override {
    std::fprintf(stderr, "[fp checker] %s: %s\n", level == kesp::HostLogError ? "error" : "warning",
                 text);
  }
};

// What KESPGetPlugin reads: the log and the host data string (id 1001).
class HostInput final : public kesp::PluginInput {
 public:
  HostInput(kesp::HostLog& log, const char* hostData) : log_(log) {
    hostData_.type = kesp::PluginInputDataString;
    hostData_.value = reinterpret_cast<std::uint64_t>(hostData);
  }
  kesp::HostLog* getLog() override { return &log_; }
  void getVersion(std::uint32_t* major, std::uint32_t* minor) override {
    *major = 2;
    *minor = 0;
  }
  const kesp::PluginInputData* getData(std::uint32_t id) override {
    return id == kesp::PluginInputHostDataString ? &hostData_ : nullptr;
  }

 private:
  kesp::HostLog& log_;
  kesp::PluginInputData hostData_{};
};

// The plug-in library, loaded by path and freed last of all.
class PluginLibrary {
 public:
  explicit PluginLibrary(const char* path) {
#ifdef _WIN32
    wchar_t wide[MAX_PATH];
    if (MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, MAX_PATH) > 0) {
      handle_ = LoadLibraryW(wide);
    }
    if (handle_ != nullptr) {
      entry_ = reinterpret_cast<KESPGetPluginFunction>(
          reinterpret_cast<void*>(GetProcAddress(handle_, "KESPGetPlugin")));
    }
#else
    handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle_ != nullptr) {
      entry_ = reinterpret_cast<KESPGetPluginFunction>(dlsym(handle_, "KESPGetPlugin"));
    }
#endif
  }
  ~PluginLibrary() {
    if (handle_ == nullptr) return;
#ifdef _WIN32
    FreeLibrary(handle_);
#else
    dlclose(handle_);
#endif
  }
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  KESPGetPluginFunction entry() const { return entry_; }

 private:
#ifdef _WIN32
  HMODULE handle_ = nullptr;
#else
  void* handle_ = nullptr;
#endif
  KESPGetPluginFunction entry_ = nullptr;
};

// Every object the host receives ends with release(), exactly once.
struct Release {
  void operator()(kesp::ReleasableObjectV1* object) const { object->release(); }
};
template <typename T>
using Owned = std::unique_ptr<T, Release>;

// One check: prints the verdict, releases the output.
bool checkAndPrint(fp::InstanceV1& instance, fp::InputV1& input, const std::string& what) {
  fp::OutputV1* output = nullptr;
  if (!succeeded("check", instance.check(&input, &output))) return false;
  const Owned<fp::OutputV1> verdict(output);
  std::printf("%s: %s\n", what.c_str(),
              verdict->isFalsePositive() ? "false positive" : "not a false positive");
  return true;
}

bool checkFile(fp::InstanceV1& instance, const char* path, const char* detection) {
  // The host knows the size from its own scan. Giving it spares the plug-in
  // an exclusive open of the file just to learn it.
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) {
    std::fprintf(stderr, "cannot read the size of '%s': %s\n", path, error.message().c_str());
    return false;
  }
  const Owned<fp::InputV1> input(instance.createInput(static_cast<std::uint32_t>(fp::InputType::File)));
  if (!input) return succeeded("createInput (file)", fp::Status::Error);
  auto* file = static_cast<fp::FileInputV1*>(input.get());  // the type asked for
  if (!succeeded("setDetectionName", file->setDetectionName(detection)) ||
      !succeeded("setPath", file->setPath(path))) {
    return false;
  }
  file->setFileSize(size);
  return checkAndPrint(instance, *file,
                       "file " + std::string(path) + " (" + std::to_string(size) + " bytes), " +
                           detection);
}

bool checkBuffer(fp::InstanceV1& instance, const void* buffer, std::uint64_t size,
                 const char* detection) {
  const Owned<fp::InputV1> input(
      instance.createInput(static_cast<std::uint32_t>(fp::InputType::MemoryFile)));
  if (!input) return succeeded("createInput (memory)", fp::Status::Error);
  auto* memory = static_cast<fp::MemoryFileInputV1*>(input.get());
  if (!succeeded("setDetectionName", memory->setDetectionName(detection)) ||
      !succeeded("setBuffer", memory->setBuffer(buffer, size))) {
    return false;
  }
  return checkAndPrint(instance, *memory,
                       "memory buffer (" + std::to_string(size) + " bytes), " + detection);
}

bool setText(fp::GlobalConfigV1& config, std::uint32_t id, const char* text) {
  const kesp::plugins::GenericData option{id, kesp::plugins::GenericDataString,
                                          reinterpret_cast<std::uint64_t>(text)};
  return succeeded("setCustomOption", config.setCustomOption(&option));
}

bool setNumber(fp::GlobalConfigV1& config, std::uint32_t id, std::uint64_t value) {
  const kesp::plugins::GenericData option{id, kesp::plugins::GenericDataInt1, value};
  return succeeded("setCustomOption", config.setCustomOption(&option));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr, "usage: %s <plug-in library> <checker SDK directory> <file> [<detection>]\n",
                 argv[0]);
    return 2;
  }
  const char* sdkDirectory = argv[2];
  const char* filePath = argv[3];
  const char* detection = argc == 5 ? argv[4] : "Adware.Toolbar.Search";

  // 1. Load the library and resolve its only export.
  const PluginLibrary library(argv[1]);
  if (library.entry() == nullptr) {
    std::fprintf(stderr, "'%s' is not a loadable FP checker plug-in\n", argv[1]);
    return 1;
  }

  // 2. The plug-in object. The log must outlive it; the input is read only
  //    during this call.
  StderrLog log;
  HostInput pluginInput(log, "vfpc-host-example/2.1");
  const Owned<kesp::plugins::PluginV1> plugin(library.entry()(&pluginInput));
  if (!plugin) {
    std::fprintf(stderr, "KESPGetPlugin returned no plug-in object (see the log)\n");
    return 1;
  }

  // 3. A checker, configured: API version 2.0, the SDK's directory, options.
  const Owned<fp::CheckerV1> checker(plugin->getChecker());
  if (!checker) return 1;
  fp::GlobalConfigV1& config = *checker->getConfig();
  config.setApiVersion(2, 0);
  // The reference SDK decides offline from the rules file beside it when
  // the cloud URL says file:; a real SDK is given its service's URL.
  if (!succeeded("setBaseDirectory", config.setBaseDirectory(sdkDirectory)) ||
      !setText(config, fp::OptionCloudUrl, "file:vfpcsdk.rules") ||
      !setNumber(config, fp::OptionConnectionTimeout, 3000) ||
      !setNumber(config, fp::OptionConnectionRetries, 2)) {
    return 1;
  }

  // 4. Load the checker SDK.
  if (!succeeded("load", checker->load())) return 1;

  // 5. One instance per scanning thread; here one thread checks a file and a
  //    buffer. The instance is released before the checker is unloaded.
  bool checked = false;
  {
    fp::InstanceV1* created = nullptr;
    if (succeeded("createInstance", checker->createInstance(&created))) {
      const Owned<fp::InstanceV1> instance(created);
      static const char kBuffer[] = "a buffer the scanner found in memory";
      const bool fileChecked = checkFile(*instance, filePath, detection);
      const bool bufferChecked =
          checkBuffer(*instance, kBuffer, sizeof kBuffer - 1, "Trojan.Script.Phish");
      checked = fileChecked && bufferChecked;
    }
  }

  // 6. Each thread that checked lets the SDK free its per-thread data.
  const fp::CheckerCommand cleanup{fp::CommandThreadCleanup};
  succeeded("thread cleanup", checker->sendCommand(&cleanup));

  // 7. Unload; then the checker, the plug-in object and the library end in
  //    that order as the holders above go out of scope.
  if (!succeeded("unload", checker->unload())) return 1;
  return checked ? 0 : 1;
}
