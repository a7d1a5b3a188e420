// The checked library's only export: the same entry point, handing out a
// plug-in object whose every object checks each call the host makes.
#include "checked/plugin.h"
#include "kesp/plugin.h"
#include "plugin/plugin_factory.h"

extern "C" KESP_PLUGIN_EXPORT kesp::plugins::PluginV1* KESPGetPlugin(kesp::PluginInput* input) {
  if (input == nullptr) return nullptr;  // nowhere to report it
  kesp::HostLog* hostLog = nullptr;
  if (!kesp::plugins::fpchecker::readHostLog(*input, hostLog)) return nullptr;
  return kesp::checked::openSession(*input, hostLog);
}
