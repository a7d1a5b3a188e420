// The plug-in entry point and the plug-in objects.
#pragma once

#include <cstdint>

#include "kesp/checker.h"
#include "kesp/host.h"
#include "kesp/releasable.h"

namespace kesp::plugins {

struct PluginVersion {
  std::uint32_t major;
  std::uint32_t minor;
  std::uint32_t patch;
  std::uint32_t build;
};
static_assert(sizeof(PluginVersion) == 16);

// [plug imp] Fixed information about the plug-in, made by
// PluginV1::getPluginInfo and owned by the host; independent of the plug-in
// object once made. No operation fails or logs.
class PluginInfoV1 : public ReleasableObjectV1 {
 public:
  // Slot 1. The plug-in type (4).
  virtual std::int32_t getPluginType() = 0;
  // Slot 2. Writes the host API version the plug-in implements (2.0).
  virtual void getApiVersion(std::uint32_t* major, std::uint32_t* minor) = 0;
  // Slot 3. The plug-in's name, valid while the object lives.
  virtual const char* getName() = 0;
  // Slot 4. The plug-in id (4).
  virtual std::int32_t getPluginId() = 0;
  // Slot 5. The plug-in version (2.1.0.29); read it with versionOf() below.
  //
  // Why two forms: the slot returns a 16-byte record, which both Windows
  // compilers return through a hidden result pointer (MSVC does so for every
  // record a member function returns, whatever its size), but MSVC passes
  // `this` first (RCX) and the result pointer second (RDX), and GCC or clang
  // for mingw-w64 the other way round. The Microsoft form is the contract; mingw
  // builds spell it out as an explicit result pointer after `this`, returning
  // that pointer, which compiles to exactly MSVC's call. MSVC (and clang-cl)
  // and every other platform keep the plain form.
#if defined(_WIN32) && !defined(_MSC_VER)
  virtual PluginVersion* getVersion(PluginVersion* /*out*/ result) = 0;
#else
  virtual PluginVersion getVersion() = 0;
#endif

 protected:
  ~PluginInfoV1() = default;
};

// The version of /*in*/ info, the same call under every compiler.
inline PluginVersion versionOf(PluginInfoV1& info) {
#if defined(_WIN32) && !defined(_MSC_VER)
  PluginVersion version{};
  return *info.getVersion(&version);
#else
  return info.getVersion();
#endif
}

// [plug imp] The plug-in object, from KESPGetPlugin until release(). It must
// outlive every checker obtained from it.
class PluginV1 : public ReleasableObjectV1 {
 public:
  // Slot 1. A new, independent checker owned by the caller, or null.
  virtual fpchecker::CheckerV1* getChecker() = 0;
  // Slot 2. A new information object owned by the caller, or null.
  virtual PluginInfoV1* getPluginInfo() = 0;

 protected:
  ~PluginV1() = default;
};

}  // namespace kesp::plugins

// Only the plug-in's own build exports the entry point; a host sees a plain
// declaration (hosts load the library at run time and resolve the name).
#if !defined(KESP_BUILDING_PLUGIN)
#define KESP_PLUGIN_EXPORT
#elif defined(_WIN32)
#define KESP_PLUGIN_EXPORT __declspec(dllexport)
#else
#define KESP_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

// The library's only export. /*in*/ input must not be null; it is read during
// the call only (the host log it returns must live as long as the plug-in).
// Returns the plug-in object, owned by the host, or null when the input is
// unusable (the reason goes to the host log at level 0).
extern "C" KESP_PLUGIN_EXPORT kesp::plugins::PluginV1* KESPGetPlugin(kesp::PluginInput* input);

// The type a host resolves KESPGetPlugin to.
using KESPGetPluginFunction = kesp::plugins::PluginV1* (*)(kesp::PluginInput*);
