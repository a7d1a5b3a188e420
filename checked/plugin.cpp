#include "checked/plugin.h"

#include "checked/checker.h"
#include "checked/tombstones.h"
#include "checked/violations.h"
#include "plugin/plugin_factory.h"

namespace kesp::checked {

namespace {

using Mode = CallGate::Mode;

// The input the real plug-in object is made from: the host's data, and the
// session's log in place of the host's.
class SessionInput final : public PluginInput {
 public:
  SessionInput(PluginInput& host, HostLog& log) noexcept : host_(host), log_(log) {}
  HostLog* getLog() override { return &log_; }
  // The host's objects come from another module and need not carry type
  // information the sanitizer knows.
  __attribute__((no_sanitize("vptr"))) void getVersion(std::uint32_t* major,
                                                       std::uint32_t* minor) override {
    host_.getVersion(major, minor);
  }
  __attribute__((no_sanitize("vptr"))) const PluginInputData* getData(std::uint32_t id) override {
    return host_.getData(id);
  }

 private:
  PluginInput& host_;
  HostLog& log_;
};

}  // namespace

plugins::PluginV1* openSession(PluginInput& input, HostLog* hostLog) noexcept {
  std::shared_ptr<Session> session;
  try {
    session = std::make_shared<Session>(hostLog);
  } catch (...) {
    return nullptr;  // memory exhaustion, which is not logged
  }
  auto wrapper = makeWrapper<CheckedPlugin>(session);
  if (!wrapper) return nullptr;
  SessionInput standIn(input, session->pluginLog());
  plugins::PluginV1* real = plugins::fpchecker::createPluginObject(standIn, hostLog);
  if (real == nullptr) return nullptr;
  wrapper->attach(real);
  return wrapper.release();
}

void CheckedPlugin::release() {
  Call call(*this, Facet::Plugin, Operation::Release, Mode::Release);
  if (!call) return;
  bool callRunning = false;
  Facet where = Facet::Plugin;
  Operation running = Operation::Release;
  const LiveObjects live = session().liveObjects(callRunning, where, running);
  if (callRunning) {
    session().report(pluginReleaseDuringCall(where, running));
    return;
  }
  if (live.any()) session().report(pluginReleasedBeforeObjects(live));
  // Whatever is still alive logs through the real plug-in object's logger.
  const bool keep = live.any() || session().keptAlive();
  if (!keep) real_->release();
  session().closeHostLog();
  call.finishRelease();
  std::unique_ptr<Tracked> self(this);
  keep ? keepForever(std::move(self)) : bury(std::move(self));
}

plugins::fpchecker::CheckerV1* CheckedPlugin::getChecker() {
  const Call call(*this, Facet::Plugin, Operation::GetChecker, Mode::Shared);
  if (!call) return nullptr;
  auto wrapper = makeWrapper<CheckedChecker>(sharedSession());
  if (!wrapper) return nullptr;
  plugins::fpchecker::CheckerV1* real = real_->getChecker();
  return real != nullptr ? adopt(std::move(wrapper), real, nullptr) : nullptr;
}

plugins::PluginInfoV1* CheckedPlugin::getPluginInfo() {
  const Call call(*this, Facet::Plugin, Operation::GetPluginInfo, Mode::Shared);
  if (!call) return nullptr;
  auto wrapper = makeWrapper<CheckedPluginInfo>(sharedSession());
  if (!wrapper) return nullptr;
  plugins::PluginInfoV1* real = real_->getPluginInfo();
  return real != nullptr ? adopt(std::move(wrapper), real, nullptr) : nullptr;
}

void CheckedPluginInfo::release() { releaseLeaf(*this, Facet::PluginInfo, real_); }

std::int32_t CheckedPluginInfo::getPluginType() {
  const Call call(*this, Facet::PluginInfo, Operation::GetPluginType, Mode::Observe);
  return call ? real_->getPluginType() : 0;
}

void CheckedPluginInfo::getApiVersion(std::uint32_t* major, std::uint32_t* minor) {
  const Call call(*this, Facet::PluginInfo, Operation::GetApiVersion, Mode::Observe);
  if (call) real_->getApiVersion(major, minor);
}

const char* CheckedPluginInfo::getName() {
  const Call call(*this, Facet::PluginInfo, Operation::GetName, Mode::Observe);
  return call ? real_->getName() : nullptr;
}

std::int32_t CheckedPluginInfo::getPluginId() {
  const Call call(*this, Facet::PluginInfo, Operation::GetPluginId, Mode::Observe);
  return call ? real_->getPluginId() : 0;
}

// A refused getVersion reads as version 0.0.0.0.
#if defined(_WIN32) && !defined(_MSC_VER)
plugins::PluginVersion* CheckedPluginInfo::getVersion(plugins::PluginVersion* result) {
  const Call call(*this, Facet::PluginInfo, Operation::GetVersion, Mode::Observe);
  if (call) return real_->getVersion(result);
  *result = plugins::PluginVersion{};
  return result;
}
#else
plugins::PluginVersion CheckedPluginInfo::getVersion() {
  const Call call(*this, Facet::PluginInfo, Operation::GetVersion, Mode::Observe);
  return call ? real_->getVersion() : plugins::PluginVersion{};
}
#endif

}  // namespace kesp::checked
