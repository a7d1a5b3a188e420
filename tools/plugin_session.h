// The plug-in as a host drives it: the library loaded by path, KESPGetPlugin,
// then only the interfaces of include/kesp/.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "kesp/kesp.h"
#include "tools/console_log.h"
#include "tools/host_fops.h"
#include "tools/host_platform.h"

namespace fpcheck {

namespace fp = kesp::plugins::fpchecker;

// The name of each Status, "Success" to "CloudError"; "Unknown" otherwise.
std::string statusName(fp::Status status);

struct Releaser {
  void operator()(kesp::ReleasableObjectV1* object) const noexcept { object->release(); }
};
template <class T>
using HostPtr = std::unique_ptr<T, Releaser>;

// "2.1.0.29".
std::string versionText(const kesp::plugins::PluginVersion& version);

struct PluginInformation {
  std::string name;
  std::int32_t type = 0;
  std::int32_t id = 0;
  kesp::plugins::PluginVersion version{};
  std::uint32_t apiMajor = 0;
  std::uint32_t apiMinor = 0;
};

// One custom option of the global configuration, with the command-line flag
// it came from (for messages).
struct TextSetting {
  fp::GlobalOptionId id;
  std::string flag;
  std::string text;
  bool secret = false;  // never shown (an API key)
};
struct NumberSetting {
  fp::GlobalOptionId id;
  std::string flag;
  std::uint64_t number;
};

// What the checker's global configuration receives before load.
struct CheckerSettings {
  std::string sdkDirectory;
  // Leave the plug-in's default file operations on the instances instead of
  // installing fpcheck's own.
  bool pluginFops = false;
  std::vector<TextSetting> texts;
  std::vector<NumberSetting> numbers;
};

class PluginSession {
 public:
  // Loads the plug-in library and gets the plug-in object. Throws ToolError,
  // which carries the plug-in's error lines when log is a ConsoleLog.
  PluginSession(const std::string& pluginPath, kesp::HostLog& log, const std::string& hostData);
  // Unloads a loaded checker (its instances must be gone), then releases the
  // checker, the plug-in object and the library, in that order.
  ~PluginSession();
  PluginSession(const PluginSession&) = delete;
  PluginSession& operator=(const PluginSession&) = delete;

  PluginInformation information() const;

  // Gets a checker, configures it (API 2.0) and loads the checker SDK from
  // the settings' directory. Throws ToolError with the plug-in's reasons.
  void loadChecker(const CheckerSettings& settings);
  // A new instance of the loaded checker, with fpcheck's file operations
  // installed unless the settings said otherwise. Throws ToolError.
  HostPtr<fp::InstanceV1> createInstance();
  // The "thread cleanup" command for the calling thread; commands of several
  // threads are sent one at a time.
  void threadCleanup();
  // Unloads the loaded checker (its instances must be gone); the status of
  // the plug-in's unload.
  fp::Status unloadChecker();

 private:
  class Input final : public kesp::PluginInput {
   public:
    Input(kesp::HostLog& log, const std::string& hostData);
    kesp::HostLog* getLog() override { return &log_; }
    void getVersion(std::uint32_t* major, std::uint32_t* minor) override;
    const kesp::PluginInputData* getData(std::uint32_t id) override;

   private:
    kesp::HostLog& log_;
    std::string hostData_;
    kesp::PluginInputData record_{};
  };

  class Library {
   public:
    explicit Library(const std::string& path);
    KESPGetPluginFunction entry() const { return entry_; }

   private:
    LibraryHandle handle_;
    KESPGetPluginFunction entry_ = nullptr;
  };

  // Declared in the order they are made; destroyed the other way round.
  Library library_;
  Input input_;
  HostPtr<kesp::plugins::PluginV1> plugin_;
  // Before the checker: it must outlive every instance it is installed on.
  HostFopsFactory fops_;
  HostPtr<fp::CheckerV1> checker_;
  bool loaded_ = false;
  bool pluginFops_ = false;
  std::mutex commands_;
};

}  // namespace fpcheck
