#include "checked/operation.h"

namespace kesp::checked {

const char* operationName(Operation operation) noexcept {
  switch (operation) {
    case Operation::Release: return "release";
    case Operation::GetChecker: return "getChecker";
    case Operation::GetPluginInfo: return "getPluginInfo";
    case Operation::GetPluginType: return "getPluginType";
    case Operation::GetApiVersion: return "getApiVersion";
    case Operation::GetName: return "getName";
    case Operation::GetPluginId: return "getPluginId";
    case Operation::GetVersion: return "getVersion";
    case Operation::GetConfig: return "getConfig";
    case Operation::Load: return "load";
    case Operation::GetInfo: return "getInfo";
    case Operation::SendCommand: return "sendCommand";
    case Operation::CreateInstance: return "createInstance";
    case Operation::Unload: return "unload";
    case Operation::SetApiVersion: return "setApiVersion";
    case Operation::SetBaseDirectory: return "setBaseDirectory";
    case Operation::SetCustomOption: return "setCustomOption";
    case Operation::Reset: return "reset";
    case Operation::GetOptions: return "getOptions";
    case Operation::SetFops: return "setFops";
    case Operation::CreateInput: return "createInput";
    case Operation::Check: return "check";
    case Operation::GetType: return "getType";
    case Operation::SetDetectionName: return "setDetectionName";
    case Operation::AddCustomData: return "addCustomData";
    case Operation::SetFopsContext: return "setFopsContext";
    case Operation::SetPath: return "setPath";
    case Operation::SetFileSize: return "setFileSize";
    case Operation::SetBuffer: return "setBuffer";
    case Operation::IsFalsePositive: return "isFalsePositive";
  }
  return "unknown";
}

}  // namespace kesp::checked
