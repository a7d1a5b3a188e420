// The reference SDK behind the real plug-in, configured for a cloud service
// the way a host configures it, for the network tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/plugin_host.h"

namespace kesp::test {

struct CloudSettings {
  std::string url;
  std::string apiKey;           // option 1
  std::string proxy;            // option 2
  std::string certificatePath;  // option 3
  std::uint64_t connectMs = 300;
  std::uint64_t dataMs = 200;
  std::uint64_t attempts = 1;   // option 8
};

struct CheckOutcome {
  fp::Status status = fp::Status::Error;
  std::optional<bool> falsePositive;
};

class CloudHost {
 public:
  // A checker with the reference SDK loaded; load's status in loadStatus.
  explicit CloudHost(const CloudSettings& settings);

  HostPtr<fp::InstanceV1> instance() { return host.instance(*checker); }
  // A memory check of 8 bytes through the instance, as a host makes one.
  static CheckOutcome check(fp::InstanceV1& instance, const std::string& detection);
  CheckOutcome check(const std::string& detection);
  fp::Status setProxy(const std::string& proxy);

  // The level 0 lines, in order.
  std::vector<std::string> errors() const { return host.log.texts(0); }

  PluginHost host;
  HostPtr<fp::CheckerV1> checker;
  fp::Status loadStatus = fp::Status::Error;
};

}  // namespace kesp::test
