// The checker's global configuration, filled by the host before a load.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/logger.h"
#include "kesp/checker.h"
#include "foundation/generic_data_entry.h"

namespace kesp::plugins::fpchecker {

class VfpcSdkLoader;

using OptionList = std::vector<GenericDataEntry>;

// Values are only stored, and read at the next load; the proxy and the
// certificate path (options 2 and 3) also reach a loaded SDK at once. Takes
// no lock: not to be used concurrently with itself or a load or unload.
class VFPCCheckerConfig final : public GlobalConfigV1 {
 public:
  // Both are borrowed and outlive the configuration.
  VFPCCheckerConfig(const plx::Logger& logger, VfpcSdkLoader& loader) noexcept;

  void setApiVersion(std::uint32_t major, std::uint32_t minor) override;
  Status setBaseDirectory(const char* directory) override;
  Status setCustomOption(const GenericData* option) override;
  void reset() override;

  // Mirrors the checker's loaded state; only the checker calls it, after
  // the loader's load or unload. A load seeds the remembered proxy pair with
  // what it sent to the SDK; an unload forgets the pair.
  void setLoaded(bool loaded) noexcept;

  std::uint32_t apiMajor() const noexcept { return apiMajor_; }
  std::uint32_t apiMinor() const noexcept { return apiMinor_; }
  const std::string& baseDirectory() const noexcept { return baseDirectory_; }
  // In the order set; the last entry of an id wins.
  const OptionList& options() const noexcept { return options_; }

 private:
  // option is the plug-in's own copy of the host's record.
  Status storeOption(const GenericData& option);

  std::uint32_t apiMajor_ = 0;
  std::uint32_t apiMinor_ = 0;
  std::string baseDirectory_;
  OptionList options_;
  plx::LogChannel log_;
  NonCustomDataFactory factory_;
  VfpcSdkLoader* loader_;
  bool loaded_ = false;
  // The proxy pair the loaded SDK has: sent by the load, or accepted later
  // through this object. Empty while not loaded.
  std::string onTheFlyProxy_;
  std::string onTheFlyCertificatePath_;
};

// Whether an option id holds text (ids 0 to 4 and 7) rather than a number.
bool isTextOption(std::uint32_t id) noexcept;

inline constexpr std::uint32_t kMaxGlobalOptionId = OptionConnectionRetries;

}  // namespace kesp::plugins::fpchecker
