// A host, as the tests play it: loads the built plug-in library by path,
// resolves KESPGetPlugin and drives it only through the host interfaces.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "foundation/dynamic_library.h"
#include "kesp/kesp.h"
#include "tests/support/recording_log.h"

namespace kesp::test {

namespace fp = kesp::plugins::fpchecker;

// The host's plug-in input: a log object (or none) and typed data records.
class FakePluginInput final : public kesp::PluginInput {
 public:
  explicit FakePluginInput(kesp::HostLog* log) : log_(log) {}

  // Stores a string record (type 4) under id; the text is kept alive here.
  void setString(std::uint32_t id, const char* text);
  void setRecord(std::uint32_t id, const kesp::PluginInputData& record);
  void remove(std::uint32_t id);

  kesp::HostLog* getLog() override { return log_; }
  void getVersion(std::uint32_t* major, std::uint32_t* minor) override;
  const kesp::PluginInputData* getData(std::uint32_t id) override;

 private:
  kesp::HostLog* log_;
  std::map<std::uint32_t, kesp::PluginInputData> records_;
  std::map<std::uint32_t, std::string> texts_;
};

// The plug-in library a host test drives: "vfpcchecker", or the name in
// the environment variable KESP_TEST_PLUGIN ("vfpcchecker_checked": ctest
// runs every host test program once against each library).
std::string testedPluginName();
inline constexpr char kCheckedPluginName[] = "vfpcchecker_checked";
// The path of a plug-in library beside the test program.
std::string pluginPath(const std::string& name = testedPluginName());

// The entry point of a plug-in library, loaded once per test program.
KESPGetPluginFunction getPluginFunction(const std::string& name = testedPluginName());

// The base directory of a checker SDK stand-in: "good", "without-destroy",
// "not-a-library" or "empty".
std::string sdkDirectory(const std::string& variant);

inline constexpr char kHostDataString[] = "host-data: scanner 11.2";

// Owners that release host objects the way a host does.
struct Releaser {
  void operator()(kesp::ReleasableObjectV1* object) const { object->release(); }
};
template <class T>
using HostPtr = std::unique_ptr<T, Releaser>;

// One plug-in object with its host log and input, and helpers for the usual
// steps. Every log line the plug-in writes is recorded in log.
class PluginHost {
 public:
  explicit PluginHost(const std::string& library = testedPluginName());
  ~PluginHost();

  RecordingHostLog log;
  FakePluginInput input{&log};
  HostPtr<kesp::plugins::PluginV1> plugin;

  HostPtr<fp::CheckerV1> checker();
  // A checker configured with API 2.0 and the stand-in's base directory.
  HostPtr<fp::CheckerV1> configuredChecker(const std::string& variant = "good");
  // A configured and loaded checker; fails the test if load does not succeed.
  HostPtr<fp::CheckerV1> loadedChecker();
  HostPtr<fp::InstanceV1> instance(fp::CheckerV1& checker);
};

// GenericData builders.
kesp::plugins::GenericData textOption(std::uint32_t id, const char* text);
kesp::plugins::GenericData numberOption(std::uint32_t id, std::uint64_t value,
                                        std::uint32_t type = kesp::plugins::GenericDataInt1);
kesp::plugins::GenericData pointerData(std::uint32_t id, std::uint32_t type, const void* pointer);

}  // namespace kesp::test
