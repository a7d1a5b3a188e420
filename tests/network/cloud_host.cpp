#include "tests/network/cloud_host.h"

#include "tests/tools/reference_sdk_directory.h"

namespace kesp::test {
namespace {

fp::Status setText(fp::CheckerV1& checker, fp::GlobalOptionId id, const std::string& text) {
  const auto option = textOption(id, text.c_str());
  return checker.getConfig()->setCustomOption(&option);
}

fp::Status setNumber(fp::CheckerV1& checker, fp::GlobalOptionId id, std::uint64_t value) {
  const auto option = numberOption(id, value);
  return checker.getConfig()->setCustomOption(&option);
}

}  // namespace

CloudHost::CloudHost(const CloudSettings& settings) : checker(host.checker()) {
  auto* config = checker->getConfig();
  config->setApiVersion(2, 0);
  config->setBaseDirectory(builtReferenceSdkDirectory().c_str());
  setText(*checker, fp::OptionCloudUrl, settings.url);
  if (!settings.apiKey.empty()) setText(*checker, fp::OptionSdkText1, settings.apiKey);
  if (!settings.proxy.empty()) setText(*checker, fp::OptionProxy, settings.proxy);
  if (!settings.certificatePath.empty())
    setText(*checker, fp::OptionCertificatePath, settings.certificatePath);
  setNumber(*checker, fp::OptionConnectionTimeout, settings.connectMs);
  setNumber(*checker, fp::OptionDataTimeout, settings.dataMs);
  setNumber(*checker, fp::OptionConnectionRetries, settings.attempts);
  loadStatus = checker->load();
}

CheckOutcome CloudHost::check(fp::InstanceV1& instance, const std::string& detection) {
  static const char bytes[8] = "payload";
  HostPtr<fp::InputV1> input(
      instance.createInput(static_cast<std::uint32_t>(fp::InputType::MemoryFile)));
  input->setDetectionName(detection.c_str());
  static_cast<fp::MemoryFileInputV1*>(input.get())->setBuffer(bytes, sizeof bytes);
  fp::OutputV1* output = nullptr;
  CheckOutcome outcome;
  outcome.status = instance.check(input.get(), &output);
  if (outcome.status == fp::Status::Success && output != nullptr) {
    HostPtr<fp::OutputV1> owned(output);
    outcome.falsePositive = owned->isFalsePositive();
  }
  return outcome;
}

CheckOutcome CloudHost::check(const std::string& detection) {
  auto one = instance();
  return check(*one, detection);
}

fp::Status CloudHost::setProxy(const std::string& proxy) {
  return setText(*checker, fp::OptionProxy, proxy);
}

}  // namespace kesp::test
