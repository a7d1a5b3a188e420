#include "plugin/plugin_input.h"

#include "foundation/exceptions.h"

namespace kesp::plugins {

const PluginInputData& readPluginInputData(PluginInput& input, std::uint32_t id,
                                           std::uint32_t type) {
  const PluginInputData* data = input.getData(id);
  if (data == nullptr) {
    throw plx::Exception("Plugin input returned null for ID '" + std::to_string(id) + "'");
  }
  if (data->type != type) {
    throw plx::Exception("Plugin input data type mismatch for ID '" + std::to_string(id) +
                         "'. Got '" + std::to_string(data->type) + "', expected '" +
                         std::to_string(type) + "'.");
  }
  return *data;
}

std::string readPluginInputString(PluginInput& input, std::uint32_t id) {
  const PluginInputData& data = readPluginInputData(input, id, PluginInputDataString);
  const auto* text = reinterpret_cast<const char*>(data.value);
  if (text == nullptr || *text == '\0') {
    throw plx::Exception("Plugin input data with ID '" + std::to_string(id) +
                         "': string value is null or empty");
  }
  return text;
}

}  // namespace kesp::plugins
