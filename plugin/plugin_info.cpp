#include "plugin/plugin_info.h"

#include <memory>

namespace kesp::plugins {

void PluginInfoImpl::release() { std::unique_ptr<PluginInfoImpl> self(this); }

void PluginInfoImpl::getApiVersion(std::uint32_t* major, std::uint32_t* minor) {
  // Null out-pointers are skipped rather than written through.
  if (major != nullptr) *major = kApiVersionMajor;
  if (minor != nullptr) *minor = kApiVersionMinor;
}

}  // namespace kesp::plugins
