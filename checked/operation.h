// The host's operations, and the kinds of object they are called on, as the
// checked build's lines name them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kesp::checked {

enum class Operation : std::uint8_t {
  Release,
  GetChecker,
  GetPluginInfo,
  GetPluginType,
  GetApiVersion,
  GetName,
  GetPluginId,
  GetVersion,
  GetConfig,
  Load,
  GetInfo,
  SendCommand,
  CreateInstance,
  Unload,
  SetApiVersion,
  SetBaseDirectory,
  SetCustomOption,
  Reset,
  GetOptions,
  SetFops,
  CreateInput,
  Check,
  GetType,
  SetDetectionName,
  AddCustomData,
  SetFopsContext,
  SetPath,
  SetFileSize,
  SetBuffer,
  IsFalsePositive,
};

// The operation's name in the host interface, as the lines quote it.
const char* operationName(Operation operation) noexcept;

// What a call is made on. The configuration and the options are parts of
// their checker and instance, and share their state; an input handed to
// 'check' is named as the argument it is.
enum class Facet : std::uint8_t {
  Plugin,
  PluginInfo,
  Checker,
  Configuration,
  Instance,
  Options,
  Input,
  InputArgument,
  Output,
};

// The objects the host holds and releases. A session lists each of the
// first kKinds (all but the plug-in object itself).
enum class Kind : std::uint8_t { PluginInfo, Checker, Instance, Input, Output, Plugin };
inline constexpr std::size_t kKinds = 5;

}  // namespace kesp::checked
