#include "tools/check_request.h"

#include <charconv>
#include <chrono>
#include <exception>

#include "tools/bounded_file.h"
#include "tools/console_log.h"
#include "tools/file_hash.h"
#include "tools/plugin_session.h"

namespace fpcheck {

namespace {

using kesp::plugins::GenericData;

GenericData pointerData(std::uint32_t id, std::uint32_t type, const void* pointer) {
  return {id, type, reinterpret_cast<std::uint64_t>(pointer)};
}

bool splitPair(std::string_view text, std::string& key, std::string_view& value,
               std::string& reason) {
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos || equals == 0) {
    reason = "'" + std::string(text) + "' is not KEY=VALUE with a non-empty KEY";
    return false;
  }
  key = text.substr(0, equals);
  value = text.substr(equals + 1);
  return true;
}

// The host objects of one check, released on every path.
struct CheckObjects {
  HostPtr<kesp::plugins::fpchecker::InputV1> input;
  HostPtr<kesp::plugins::fpchecker::OutputV1> output;
};

}  // namespace

std::string hintFor(const CheckResult& result) {
  namespace fp = kesp::plugins::fpchecker;
  switch (static_cast<fp::Status>(result.statusCode)) {
    case fp::Status::CloudError:
      // The plug-in reports an SDK's "unauthorized" as a cloud error; its
      // line names the SDK's reason.
      if (result.error.find("unauthorized") != std::string::npos) {
        return "the service refused the API key: check --api-key";
      }
      return "the service refused the request: --log-level 3 shows each attempt and its answer";
    case fp::Status::ConnectionError:
      return "no connection to the service: check --cloud-url and --proxy, and that the service "
             "runs";
    case fp::Status::TimedOut:
      return "the service did not answer in time: raise --data-timeout (or "
             "--connection-timeout), or check the service";
    case fp::Status::CertificateError:
      return "the service's certificate is not trusted: give --cert with the CA that signed it "
             "(a PEM file or a hashed directory)";
    default:
      return {};
  }
}

CheckResult notChecked(std::string path, std::string detection, bool memory, std::string reason) {
  CheckResult result;
  result.path = std::move(path);
  result.detection = std::move(detection);
  result.memory = memory;
  result.status = "NotChecked";
  result.statusCode = kNotChecked;
  result.error = std::move(reason);
  return result;
}

CheckResult runCheck(kesp::plugins::fpchecker::InstanceV1& instance, const CheckRequest& request) {
  namespace fp = kesp::plugins::fpchecker;
  std::vector<char> bytes;
  if (request.memory) {
    std::string reason;
    if (!readRegularFile(request.path, request.maxMemoryBytes, bytes, reason)) {
      return notChecked(request.path, request.detection, true, reason);
    }
  }
  std::optional<std::string> hash = request.hash;
  if (!hash && request.hashFile) {
    std::string hex;
    std::string reason;
    try {
      // A memory input is hashed as read, so that hash and bytes agree.
      if (request.memory) {
        hex = sha256Hex(bytes.data(), bytes.size());
      } else if (!sha256File(request.path, hex, reason)) {
        return notChecked(request.path, request.detection, false, reason);
      }
    } catch (const std::exception& error) {
      return notChecked(request.path, request.detection, request.memory,
                        "cannot hash '" + request.path + "': " + error.what());
    }
    hash = std::move(hex);
  }

  ConsoleLog::Collect collected;
  CheckResult result;
  result.path = request.path;
  result.detection = request.detection;
  result.memory = request.memory;
  const auto finish = [&](fp::Status status) {
    result.status = statusName(status);
    result.statusCode = static_cast<std::int64_t>(status);
    result.error = collected.text();
    return result;
  };

  CheckObjects objects;
  const auto type = request.memory ? fp::InputType::MemoryFile : fp::InputType::File;
  objects.input.reset(instance.createInput(static_cast<std::uint32_t>(type)));
  if (!objects.input) {
    CheckResult failed = notChecked(request.path, request.detection, request.memory,
                                    "the plug-in made no input object");
    if (!collected.text().empty()) failed.error += ": " + collected.text();
    return failed;
  }
  fp::InputV1& input = *objects.input;

  // Each step in the order a host fills an input; the first refusal ends it.
  std::vector<kesp::plugins::BoolPair> bools;
  std::vector<kesp::plugins::IntPair> ints;
  std::vector<kesp::plugins::StrPair> strings;
  for (const auto& [key, value] : request.bools) bools.push_back({key.c_str(), value});
  for (const auto& [key, value] : request.ints) ints.push_back({key.c_str(), value});
  for (const auto& [key, value] : request.strings) strings.push_back({key.c_str(), value.c_str()});

  fp::Status status = input.setDetectionName(request.detection.c_str());
  if (status == fp::Status::Success) status = input.setPath(request.path.c_str());
  const auto add = [&](const GenericData& data) {
    if (status == fp::Status::Success) status = input.addCustomData(&data);
  };
  if (hash) add(pointerData(fp::CustomDataHash, kesp::plugins::GenericDataString, hash->c_str()));
  if (request.extra) add(pointerData(fp::CustomDataExtraData, kesp::plugins::GenericDataString,
                                     request.extra->c_str()));
  for (const auto& pair : bools) add(pointerData(fp::CustomDataBoolPair, kesp::plugins::GenericDataCustom, &pair));
  for (const auto& pair : ints) add(pointerData(fp::CustomDataIntPair, kesp::plugins::GenericDataCustom, &pair));
  for (const auto& pair : strings) add(pointerData(fp::CustomDataStrPair, kesp::plugins::GenericDataCustom, &pair));
  if (status != fp::Status::Success) return finish(status);

  if (request.memory) {
    // A buffer is never null, even for an empty file: the plug-in then
    // refuses the size, as it would for a host.
    static const char empty = 0;
    status = static_cast<fp::MemoryFileInputV1&>(input).setBuffer(
        bytes.empty() ? &empty : bytes.data(), bytes.size());
    if (status != fp::Status::Success) return finish(status);
  } else if (request.size) {
    static_cast<fp::FileInputV1&>(input).setFileSize(*request.size);
  }

  fp::OutputV1* output = nullptr;
  const auto start = std::chrono::steady_clock::now();
  status = instance.check(&input, &output);
  const auto end = std::chrono::steady_clock::now();
  objects.output.reset(output);
  result.milliseconds = std::chrono::duration<double, std::milli>(end - start).count();
  if (status == fp::Status::Success && output != nullptr) {
    result.falsePositive = output->isFalsePositive();
  }
  return finish(status);
}

bool parseBoolPair(std::string_view text, std::pair<std::string, bool>& pair, std::string& reason) {
  std::string_view value;
  if (!splitPair(text, pair.first, value, reason)) return false;
  if (value == "true" || value == "1" || value == "yes" || value == "on") {
    pair.second = true;
  } else if (value == "false" || value == "0" || value == "no" || value == "off") {
    pair.second = false;
  } else {
    reason = "'" + std::string(value) + "' in '" + std::string(text) +
             "' is not a truth value (true/false, 1/0, yes/no, on/off)";
    return false;
  }
  return true;
}

bool parseIntPair(std::string_view text, std::pair<std::string, std::int64_t>& pair,
                  std::string& reason) {
  std::string_view value;
  if (!splitPair(text, pair.first, value, reason)) return false;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), pair.second);
  if (value.empty() || error != std::errc() || end != value.data() + value.size()) {
    reason = "'" + std::string(value) + "' in '" + std::string(text) +
             "' is not a whole number from -9223372036854775808 to 9223372036854775807";
    return false;
  }
  return true;
}

bool parseStrPair(std::string_view text, std::pair<std::string, std::string>& pair,
                  std::string& reason) {
  std::string_view value;
  if (!splitPair(text, pair.first, value, reason)) return false;
  pair.second = value;
  return true;
}

}  // namespace fpcheck
