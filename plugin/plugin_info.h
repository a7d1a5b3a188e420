// The plug-in's fixed identity, as the host reads it.
#pragma once

#include <cstdint>

#include "kesp/plugin.h"
#include "vfpc_version.h"

namespace kesp::plugins {

inline constexpr PluginVersion kPluginVersion{VFPC_VERSION_MAJOR, VFPC_VERSION_MINOR,
                                              VFPC_VERSION_PATCH, VFPC_VERSION_BUILD};
inline constexpr std::int32_t kPluginType = 4;
inline constexpr std::int32_t kPluginId = 4;
inline constexpr char kPluginName[] = "Velnor FP Checker";
// The host interface version the checker implements and accepts on load.
inline constexpr std::uint32_t kApiVersionMajor = 2;
inline constexpr std::uint32_t kApiVersionMinor = 0;

class PluginInfoImpl final : public PluginInfoV1 {
 public:
  void release() override;
  std::int32_t getPluginType() override { return kPluginType; }
  void getApiVersion(std::uint32_t* major, std::uint32_t* minor) override;
  const char* getName() override { return kPluginName; }
  std::int32_t getPluginId() override { return kPluginId; }
#if defined(_WIN32) && !defined(_MSC_VER)
  PluginVersion* getVersion(PluginVersion* result) override;
#else
  PluginVersion getVersion() override { return kPluginVersion; }
#endif
};

}  // namespace kesp::plugins
