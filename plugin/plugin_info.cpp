#include "plugin/plugin_info.h"

#include <memory>

namespace kesp::plugins {

void PluginInfoImpl::release() { std::unique_ptr<PluginInfoImpl> self(this); }

void PluginInfoImpl::getApiVersion(std::uint32_t* major, std::uint32_t* minor) {
  // Null out-pointers are skipped rather than written through.
  if (major != nullptr) *major = kApiVersionMajor;
  if (minor != nullptr) *minor = kApiVersionMinor;
}

#if defined(_WIN32) && !defined(_MSC_VER)
// The explicit form of the Microsoft call (see PluginInfoV1::getVersion).
PluginVersion* PluginInfoImpl::getVersion(PluginVersion* result) {
  *result = kPluginVersion;
  return result;
}
#endif

}  // namespace kesp::plugins
