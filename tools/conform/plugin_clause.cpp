// The plugin clause: the SDK behind the real plug-in, loaded and driven as a
// host does, with fpcheck's host session.
#include <string>
#include <vector>

#include "tools/conform/clauses.h"
#include "tools/conform/sdk_session.h"
#include "tools/console.h"
#include "tools/console_log.h"
#include "tools/plugin_session.h"
#include "tools/tool_error.h"

namespace conform {

namespace {

namespace fp = kesp::plugins::fpchecker;
using fpcheck::HostPtr;

std::string describe(fp::Status status) {
  return std::to_string(static_cast<std::uint32_t>(status)) + " (" + fpcheck::statusName(status) +
         ")";
}

// One case as a host checks it: a file input with its path and size, or a
// memory input with a buffer of its size. Fails the clause unless the status
// is Success and, for a known answer, the verdict is it.
void checkCase(fp::InstanceV1& instance, const Case& entry, const std::string& where) {
  fpcheck::ConsoleLog::Collect said;
  const auto fail = [&](const std::string& what) {
    std::string reason = entry.name + ": " + what + where;
    if (!said.text().empty()) reason += "; the plug-in said: " + said.text();
    throw ClauseFailure(reason);
  };
  const bool memory = entry.path.empty();
  const auto type = memory ? fp::InputType::MemoryFile : fp::InputType::File;
  HostPtr<fp::InputV1> input(instance.createInput(static_cast<std::uint32_t>(type)));
  if (!input) fail("the plug-in made no input");
  fp::Status status = input->setDetectionName(entry.detection.c_str());
  std::vector<char> buffer;
  if (status == fp::Status::Success && memory) {
    buffer.resize(entry.size);
    status = static_cast<fp::MemoryFileInputV1&>(*input).setBuffer(buffer.data(), buffer.size());
  } else if (status == fp::Status::Success) {
    status = input->setPath(entry.path.c_str());
    static_cast<fp::FileInputV1&>(*input).setFileSize(entry.size);
  }
  if (status != fp::Status::Success) fail("the input refused it with status " + describe(status));
  fp::OutputV1* made = nullptr;
  status = instance.check(input.get(), &made);
  HostPtr<fp::OutputV1> output(made);
  if (status != fp::Status::Success || !output) fail("the check gave status " + describe(status));
  const bool verdict = output->isFalsePositive();
  if (entry.falsePositive && verdict != *entry.falsePositive) {
    fail(std::string("the verdict is ") + (verdict ? "true" : "false") + ", not " +
         (*entry.falsePositive ? "true" : "false"));
  }
}

}  // namespace

void checkThroughThePlugin(ClauseContext& context) {
  const Settings& settings = context.settings;
  // What the plug-in would refuse to load is the exports clause's to name.
  SdkSession(settings, context.report).loadLibrary();
  fpcheck::Console console;
  fpcheck::ConsoleLog log(console, fpcheck::kPrintNothing);
  fpcheck::CheckerSettings checker;
  checker.sdkDirectory = settings.directory;
  if (settings.cloudUrl) checker.texts.push_back({fp::OptionCloudUrl, "--cloud-url", *settings.cloudUrl});
  checker.texts.push_back({fp::OptionProxy, "--proxy", settings.proxy});
  checker.texts.push_back({fp::OptionCertificatePath, "--certificate-path", settings.certificatePath});
  checker.numbers = {{fp::OptionConnectionTimeout, "--connection-timeout", settings.connectionTimeout},
                     {fp::OptionDataTimeout, "--data-timeout", settings.dataTimeout},
                     {fp::OptionConnectionRetries, "--retries", settings.retries}};
  try {
    context.report.step("loading the plug-in and, through it, the SDK");
    fpcheck::PluginSession session(settings.plugin, log, kHostData);
    session.loadChecker(checker);
    context.report.step("checking on one instance");
    {
      HostPtr<fp::InstanceV1> instance = session.createInstance();
      for (const Case& entry : context.cases) checkCase(*instance, entry, "");
    }
    context.report.step("checking on one instance per thread");
    runOnThreads(settings.threads, [&](unsigned thread) {
      HostPtr<fp::InstanceV1> instance = session.createInstance();
      for (const Case& entry : context.cases) {
        checkCase(*instance, entry, " on thread " + std::to_string(thread + 1));
      }
      session.threadCleanup();
    });
    context.report.step("unloading the checker");
    fpcheck::ConsoleLog::Collect said;
    if (const fp::Status status = session.unloadChecker(); status != fp::Status::Success) {
      throw ClauseFailure("unload gave status " + describe(status) + "; the plug-in said: " +
                          said.text());
    }
  } catch (const fpcheck::ToolError& error) {
    // Its lines and their indentation, on one line.
    std::string reason;
    bool blank = false;
    for (const char c : std::string(error.what())) {
      if (c == '\n' || c == ' ') {
        blank = true;
        continue;
      }
      if (blank && !reason.empty()) reason += ' ';
      blank = false;
      reason += c;
    }
    throw ClauseFailure(reason);
  }
}

}  // namespace conform
