// The library's only export.
#include "kesp/plugin.h"
#include "plugin/plugin_factory.h"

extern "C" KESP_PLUGIN_EXPORT kesp::plugins::PluginV1* KESPGetPlugin(kesp::PluginInput* input) {
  using namespace kesp::plugins::fpchecker;
  if (input == nullptr) return nullptr;  // nowhere to report it
  kesp::HostLog* hostLog = nullptr;
  if (!readHostLog(*input, hostLog)) return nullptr;
  return createPluginObject(*input, hostLog);
}
