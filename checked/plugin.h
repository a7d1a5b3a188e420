// The checked plug-in object and plug-in information.
#pragma once

#include <cstdint>
#include <memory>

#include "checked/tracked.h"
#include "kesp/plugin.h"

namespace kesp::checked {

// What the checked KESPGetPlugin hands out: a plug-in object made from
// /*in*/ input and kept under watch, or null as the release build's.
plugins::PluginV1* openSession(PluginInput& input, HostLog* hostLog) noexcept;

class CheckedPlugin final : public plugins::PluginV1, public Tracked {
 public:
  explicit CheckedPlugin(std::shared_ptr<Session> session) noexcept
      : Tracked(std::move(session), Kind::Plugin) {}
  void attach(plugins::PluginV1* real) noexcept { real_ = real; }

  void release() override;
  plugins::fpchecker::CheckerV1* getChecker() override;
  plugins::PluginInfoV1* getPluginInfo() override;

 private:
  plugins::PluginV1* real_ = nullptr;
};

// Independent of the plug-in object, as the release build's.
class CheckedPluginInfo final : public plugins::PluginInfoV1, public Tracked {
 public:
  explicit CheckedPluginInfo(std::shared_ptr<Session> session) noexcept
      : Tracked(std::move(session), Kind::PluginInfo) {}
  void attach(plugins::PluginInfoV1* real) noexcept { real_ = real; }

  void release() override;
  std::int32_t getPluginType() override;
  void getApiVersion(std::uint32_t* major, std::uint32_t* minor) override;
  const char* getName() override;
  std::int32_t getPluginId() override;
#if defined(_WIN32) && !defined(_MSC_VER)
  plugins::PluginVersion* getVersion(plugins::PluginVersion* result) override;
#else
  plugins::PluginVersion getVersion() override;
#endif

 private:
  plugins::PluginInfoV1* real_ = nullptr;
};

}  // namespace kesp::checked
