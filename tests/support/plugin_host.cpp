#include "tests/support/plugin_host.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>

#include "tests/support/fake_sdk.h"
#include "tests/support/test_paths.h"

namespace kesp::test {

void FakePluginInput::setString(std::uint32_t id, const char* text) {
  std::uint64_t value = 0;
  if (text != nullptr) {
    texts_[id] = text;
    value = reinterpret_cast<std::uint64_t>(texts_[id].c_str());
  }
  records_[id] = kesp::PluginInputData{0, kesp::PluginInputDataString, value};
}

void FakePluginInput::setRecord(std::uint32_t id, const kesp::PluginInputData& record) {
  records_[id] = record;
}

void FakePluginInput::remove(std::uint32_t id) { records_.erase(id); }

void FakePluginInput::getVersion(std::uint32_t* major, std::uint32_t* minor) {
  ADD_FAILURE() << "the plug-in does not call getVersion";
  *major = 2;
  *minor = 0;
}

const kesp::PluginInputData* FakePluginInput::getData(std::uint32_t id) {
  const auto found = records_.find(id);
  return found != records_.end() ? &found->second : nullptr;
}

std::string testedPluginName() {
  const char* name = std::getenv("KESP_TEST_PLUGIN");
  return name != nullptr && *name != '\0' ? name : "vfpcchecker";
}

std::string pluginPath(const std::string& name) {
  return plx::joinPath({executableDirectory(), plx::sharedLibraryFileName(name)});
}

KESPGetPluginFunction getPluginFunction(const std::string& name) {
  static std::mutex mutex;
  static std::map<std::string, plx::DynamicLibrary> libraries;
  const std::lock_guard lock(mutex);
  auto loaded = libraries.find(name);
  if (loaded == libraries.end()) loaded = libraries.try_emplace(name, pluginPath(name)).first;
  return loaded->second.getFunction<KESPGetPluginFunction>("KESPGetPlugin");
}

std::string sdkDirectory(const std::string& variant) {
  return plx::joinPath({executableDirectory(), "sdk", variant});
}

PluginHost::PluginHost(const std::string& library) {
  FakeSdk::instance().reset();
  input.setString(kesp::PluginInputHostDataString, kHostDataString);
  plugin.reset(getPluginFunction(library)(&input));
  if (!plugin) ADD_FAILURE() << "KESPGetPlugin returned null";
}

PluginHost::~PluginHost() = default;

HostPtr<fp::CheckerV1> PluginHost::checker() {
  HostPtr<fp::CheckerV1> result(plugin->getChecker());
  EXPECT_NE(result, nullptr);
  return result;
}

HostPtr<fp::CheckerV1> PluginHost::configuredChecker(const std::string& variant) {
  auto result = checker();
  result->getConfig()->setApiVersion(2, 0);
  EXPECT_EQ(result->getConfig()->setBaseDirectory(sdkDirectory(variant).c_str()),
            fp::Status::Success);
  return result;
}

HostPtr<fp::CheckerV1> PluginHost::loadedChecker() {
  auto result = configuredChecker();
  EXPECT_EQ(result->load(), fp::Status::Success);
  return result;
}

HostPtr<fp::InstanceV1> PluginHost::instance(fp::CheckerV1& checker) {
  fp::InstanceV1* created = nullptr;
  EXPECT_EQ(checker.createInstance(&created), fp::Status::Success);
  return HostPtr<fp::InstanceV1>(created);
}

kesp::plugins::GenericData textOption(std::uint32_t id, const char* text) {
  return {id, kesp::plugins::GenericDataString, reinterpret_cast<std::uint64_t>(text)};
}

kesp::plugins::GenericData numberOption(std::uint32_t id, std::uint64_t value,
                                        std::uint32_t type) {
  return {id, type, value};
}

kesp::plugins::GenericData pointerData(std::uint32_t id, std::uint32_t type,
                                       const void* pointer) {
  return {id, type, reinterpret_cast<std::uint64_t>(pointer)};
}

}  // namespace kesp::test
