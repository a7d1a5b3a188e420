#include "checked/violations.h"

#include <cstdarg>
#include <cstdio>

#include "foundation/logger.h"

namespace kesp::checked {

namespace {

enum class Rule : std::uint8_t {
  UseAfterRelease,
  DoubleRelease,
  ReleaseDuringCall,
  OverlappingCalls,
  InputChangedDuringCheck,
  ReleaseOutOfOrder,
  NotReleased,
};

const char* ruleId(Rule rule) noexcept {
  switch (rule) {
    case Rule::UseAfterRelease: return "use-after-release";
    case Rule::DoubleRelease: return "double-release";
    case Rule::ReleaseDuringCall: return "release-during-call";
    case Rule::OverlappingCalls: return "overlapping-calls";
    case Rule::InputChangedDuringCheck: return "input-changed-during-check";
    case Rule::ReleaseOutOfOrder: return "release-out-of-order";
    case Rule::NotReleased: return "not-released";
  }
  return "unknown";
}

const char* subject(Facet facet) noexcept {
  switch (facet) {
    case Facet::Plugin: return "the plug-in object";
    case Facet::PluginInfo: return "a plug-in information object";
    case Facet::Checker: return "a checker";
    case Facet::Configuration: return "the configuration of a checker";
    case Facet::Instance: return "an instance";
    case Facet::Options: return "the options of an instance";
    case Facet::Input:
    case Facet::InputArgument: return "an input";
    case Facet::Output: return "an output";
  }
  return "an object";
}

// What the running call runs on, seen from the refused call's object.
const char* runsOn(Facet facet) noexcept {
  switch (facet) {
    case Facet::Configuration: return "its checker";
    case Facet::Options: return "its instance";
    default: return "it";
  }
}

struct KindWords {
  const char* one;
  const char* many;
};

constexpr std::array<KindWords, kKinds> kKindWords{{
    {"plug-in information object", "plug-in information objects"},
    {"checker", "checkers"},
    {"instance", "instances"},
    {"input", "inputs"},
    {"output", "outputs"},
}};

const char* countWord(Kind kind, std::uint64_t count) noexcept {
  const KindWords& words = kKindWords[static_cast<std::size_t>(kind)];
  return count == 1 ? words.one : words.many;
}

}  // namespace

// Appends to one line, cutting what does not fit (the lines are far shorter).
class LineFormatter {
 public:
  explicit LineFormatter(ViolationLine& line) noexcept : line_(line) {
    append("Contract violation: ");
  }

  void append(const char* format, ...) noexcept PLX_PRINTF_FORMAT(2, 3) {
    std::va_list arguments;
    va_start(arguments, format);
    appendV(format, arguments);
    va_end(arguments);
  }

  void appendV(const char* format, std::va_list arguments) noexcept {
    const std::size_t room = line_.text_.size() - used_;
    const int written = std::vsnprintf(line_.text_.data() + used_, room, format, arguments);
    if (written > 0) used_ += static_cast<std::size_t>(written) < room ? written : room - 1;
  }

  ViolationLine finish(Rule rule) noexcept {
    append(" [%s]", ruleId(rule));
    return line_;
  }

 private:
  ViolationLine& line_;
  std::size_t used_ = 0;
};

namespace {

// One whole line of the rule, its middle formatted printf-style.
ViolationLine line(Rule rule, const char* format, ...) noexcept PLX_PRINTF_FORMAT(2, 3);

ViolationLine line(Rule rule, const char* format, ...) noexcept {
  ViolationLine result;
  LineFormatter formatter(result);
  std::va_list arguments;
  va_start(arguments, format);
  formatter.appendV(format, arguments);
  va_end(arguments);
  return formatter.finish(rule);
}

}  // namespace

bool LiveObjects::any() const noexcept {
  for (const std::uint64_t kindCount : count) {
    if (kindCount != 0) return true;
  }
  return false;
}

ViolationLine refusedCall(Facet facet, Operation operation, CallGate::Entry entry,
                          Operation running) noexcept {
  const char* name = operationName(operation);
  const char* runningName = operationName(running);
  const char* object = subject(facet);
  if (entry == CallGate::Entry::Released) {
    if (operation == Operation::Release) {
      return line(Rule::DoubleRelease, "'release' called on %s that was already released", object);
    }
    return line(Rule::UseAfterRelease, "'%s' called %s %s that was already released", name,
                facet == Facet::InputArgument ? "with" : "on", object);
  }
  const bool checkReads = facet == Facet::Input && running == Operation::Check;
  if (operation == Operation::Release) {
    return line(Rule::ReleaseDuringCall, "'release' called on %s while '%s' %s; it stays alive",
                object, runningName, checkReads ? "reads it" : "runs on it");
  }
  if (checkReads) {
    return line(Rule::InputChangedDuringCheck, "'%s' called on an input while 'check' reads it",
                name);
  }
  if (facet == Facet::InputArgument && running != Operation::Release) {
    return line(Rule::InputChangedDuringCheck, "'%s' called with an input while '%s' changes it",
                name, runningName);
  }
  if (facet == Facet::Input && running != Operation::Release) {
    return line(Rule::OverlappingCalls, "'%s' called on an input while '%s' changes it", name,
                runningName);
  }
  return line(Rule::OverlappingCalls, "'%s' called %s %s while '%s' runs on %s", name,
              facet == Facet::InputArgument ? "with" : "on", object, runningName, runsOn(facet));
}

ViolationLine jobDuringCheckerCall(Operation operation, Operation running) noexcept {
  return line(Rule::OverlappingCalls, "'%s' called on an instance while '%s' runs on its checker",
              operationName(operation), operationName(running));
}

ViolationLine checkerCallDuringJob(Facet facet, Operation operation, Operation running) noexcept {
  if (operation == Operation::Release) {
    return line(Rule::ReleaseDuringCall,
                "'release' called on a checker while '%s' runs on one of its instances; it "
                "stays alive",
                operationName(running));
  }
  return line(Rule::OverlappingCalls, "'%s' called on %s while '%s' runs on one of its instances",
              operationName(operation), subject(facet), operationName(running));
}

ViolationLine pluginReleaseDuringCall(Facet where, Operation running) noexcept {
  return line(Rule::ReleaseDuringCall,
              "'release' called on the plug-in object while '%s' runs on %s; it stays alive",
              operationName(running), subject(where));
}

ViolationLine checkerReleasedBeforeInstances(std::uint64_t instances) noexcept {
  return line(Rule::ReleaseOutOfOrder,
              "'release' called on a checker that still has %llu %s; it is kept alive for them",
              static_cast<unsigned long long>(instances), countWord(Kind::Instance, instances));
}

ViolationLine pluginReleasedBeforeObjects(const LiveObjects& live) noexcept {
  ViolationLine result;
  LineFormatter formatter(result);
  formatter.append("'release' called on the plug-in object with ");
  const char* separator = "";
  for (std::size_t kind = 0; kind < kKinds; ++kind) {
    if (live.count[kind] == 0) continue;
    formatter.append("%s%llu %s", separator, static_cast<unsigned long long>(live.count[kind]),
                     countWord(static_cast<Kind>(kind), live.count[kind]));
    separator = ", ";
  }
  formatter.append(" not released (");
  separator = "";
  for (std::size_t kind = 0; kind < kKinds; ++kind) {
    const std::uint64_t count = live.count[kind];
    if (count == 0) continue;
    formatter.append("%s%s", separator, countWord(static_cast<Kind>(kind), count));
    const std::size_t listed = count < LiveObjects::kListed ? count : LiveObjects::kListed;
    for (std::size_t i = 0; i < listed; ++i) {
      formatter.append("%s #%llu", i == 0 ? "" : ",",
                       static_cast<unsigned long long>(live.first[kind][i]));
    }
    if (count > listed) {
      formatter.append(" and %llu more", static_cast<unsigned long long>(count - listed));
    }
    separator = "; ";
  }
  formatter.append("); they stay alive");
  return formatter.finish(Rule::NotReleased);
}

}  // namespace kesp::checked
