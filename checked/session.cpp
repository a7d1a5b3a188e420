#include "checked/session.h"

#include <cstdio>

#include "checked/debugger_output.h"
#include "checked/tracked.h"
#include "foundation/plugin_log.h"

namespace kesp::checked {

namespace {

Facet facetOf(Kind kind) noexcept {
  switch (kind) {
    case Kind::PluginInfo: return Facet::PluginInfo;
    case Kind::Checker: return Facet::Checker;
    case Kind::Instance: return Facet::Instance;
    case Kind::Input: return Facet::Input;
    case Kind::Output: return Facet::Output;
    case Kind::Plugin: return Facet::Plugin;
  }
  return Facet::Plugin;
}

}  // namespace

Session::Session(HostLog* hostLog) noexcept
    : hostLog_(hostLog), logger_(&hostLog_), pluginLog_(*this), hostLogOpen_(hostLog != nullptr) {}

bool Session::PluginLog::isEnabled(std::uint32_t level, std::uint32_t module, std::uint32_t flags) {
  return session_.hostLogOpen_.load() && session_.hostLog_.isEnabled(level, module, flags);
}

void Session::PluginLog::log(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
                             const char* text) {
  if (session_.hostLogOpen_.load()) session_.hostLog_.log(level, module, flags, text);
}

void Session::report(const ViolationLine& line) const noexcept {
  if (hostLogOpen_.load()) {
    logger_.log(plx::LogError, plugins::fpchecker::kLogModule, plugins::fpchecker::kLogFlags,
                line.text());
    return;
  }
  // One call, so that lines of several threads do not interleave.
  std::fprintf(stderr, "%s\n", line.text());
  std::fflush(stderr);
  sendToDebugger(line.text());
}

void Session::closeHostLog() noexcept { hostLogOpen_.store(false); }

void Session::add(Tracked& object, const Tracked* owner) noexcept {
  const std::lock_guard lock(mutex_);
  List& list = lists_[static_cast<std::size_t>(object.kind())];
  object.number_ = ++list.made;
  object.owner_ = owner;
  object.previous_ = list.last;
  object.next_ = nullptr;
  (list.last != nullptr ? list.last->next_ : list.first) = &object;
  list.last = &object;
}

void Session::remove(Tracked& object) noexcept {
  const std::lock_guard lock(mutex_);
  List& list = lists_[static_cast<std::size_t>(object.kind())];
  (object.previous_ != nullptr ? object.previous_->next_ : list.first) = object.next_;
  (object.next_ != nullptr ? object.next_->previous_ : list.last) = object.previous_;
  object.previous_ = object.next_ = nullptr;
}

std::uint64_t Session::instancesOf(const Tracked& checker, bool& jobRunning,
                                   Operation& running) const noexcept {
  const std::lock_guard lock(mutex_);
  std::uint64_t count = 0;
  jobRunning = false;
  for (const Tracked* instance = lists_[static_cast<std::size_t>(Kind::Instance)].first;
       instance != nullptr; instance = instance->next_) {
    if (instance->owner_ != &checker) continue;
    ++count;
    if (!jobRunning && instance->gate().jobRunning()) {
      jobRunning = true;
      running = instance->gate().running(CallGate::Mode::Exclusive);
    }
  }
  return count;
}

LiveObjects Session::liveObjects(bool& callRunning, Facet& where,
                                 Operation& running) const noexcept {
  const std::lock_guard lock(mutex_);
  LiveObjects live;
  callRunning = false;
  for (std::size_t kind = 0; kind < kKinds; ++kind) {
    if (static_cast<Kind>(kind) == Kind::PluginInfo) continue;
    for (const Tracked* object = lists_[kind].first; object != nullptr; object = object->next_) {
      if (live.count[kind] < LiveObjects::kListed) {
        live.first[kind][live.count[kind]] = object->number_;
      }
      ++live.count[kind];
      if (!callRunning && object->gate().anyRunning()) {
        callRunning = true;
        where = facetOf(object->kind());
        running = object->gate().running(CallGate::Mode::Release);
      }
    }
  }
  return live;
}

}  // namespace kesp::checked
