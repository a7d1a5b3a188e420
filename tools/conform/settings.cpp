#include "tools/conform/settings.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "foundation/dynamic_library.h"
#include "tools/conform/usage_error.h"
#include "tools/host_platform.h"
#include "vfpc_version.h"

namespace conform {

namespace {

// CLI11 would read "-1" into an unsigned number as its largest value.
const CLI::Validator kWholeNumber(
    [](const std::string& text) {
      return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos
                 ? std::string()
                 : "'" + text + "' is not a whole number, 0 or more";
    },
    "", "whole number");

// A memory case's buffer is made for the plug-in: it must fit in memory.
constexpr std::uint64_t kMaxMemoryCase = std::uint64_t{256} << 20;

std::filesystem::path fromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string describe(const Case& entry) {
  if (entry.path.empty()) {
    return entry.detection + ", " + std::to_string(entry.size) + " bytes in memory";
  }
  return entry.detection + ", file " + entry.path;
}

Case readCase(const std::string& line, const std::filesystem::path& base) {
  const nlohmann::json object = nlohmann::json::parse(line);
  if (!object.is_object()) throw std::invalid_argument("not a JSON object");
  for (const auto& [key, value] : object.items()) {
    if (key != "detection" && key != "path" && key != "size" && key != "falsePositive") {
      throw std::invalid_argument("unknown field \"" + key +
                                  "\" (a case has detection, path, size, falsePositive)");
    }
  }
  const auto need = [&](const char* key, bool (nlohmann::json::*is)() const noexcept,
                        const char* kind) -> const nlohmann::json* {
    const auto found = object.find(key);
    if (found == object.end()) return nullptr;
    if (!((*found).*is)()) throw std::invalid_argument(std::string("\"") + key + "\" is not " + kind);
    return &*found;
  };
  Case entry;
  const nlohmann::json* detection = need("detection", &nlohmann::json::is_string, "a text");
  if (detection == nullptr || detection->get_ref<const std::string&>().empty()) {
    throw std::invalid_argument("\"detection\" is missing or empty");
  }
  entry.detection = detection->get<std::string>();
  const nlohmann::json* verdict = need("falsePositive", &nlohmann::json::is_boolean, "true or false");
  if (verdict == nullptr) throw std::invalid_argument("\"falsePositive\" is missing");
  entry.falsePositive = verdict->get<bool>();
  const nlohmann::json* size =
      need("size", &nlohmann::json::is_number_unsigned, "a whole number, 0 or more");
  if (size != nullptr) entry.size = size->get<std::uint64_t>();
  if (const nlohmann::json* path = need("path", &nlohmann::json::is_string, "a text")) {
    std::filesystem::path file = fromUtf8(path->get<std::string>());
    if (file.is_relative()) file = base / file;
    entry.path = utf8(file);
    if (size == nullptr) {
      std::error_code error;
      entry.size = std::filesystem::file_size(file, error);
      if (error) {
        throw std::invalid_argument("cannot read the size of '" + entry.path +
                                    "': " + error.message() + " (or give \"size\")");
      }
    }
  } else if (size == nullptr) {
    throw std::invalid_argument("neither \"path\" nor \"size\" is given");
  } else if (entry.size == 0 || entry.size > kMaxMemoryCase) {
    throw std::invalid_argument("a memory case (\"size\" without \"path\") needs 1 to " +
                                std::to_string(kMaxMemoryCase) + " bytes");
  }
  return entry;
}

}  // namespace

void addOptions(CLI::App& app, Settings& settings) {
  app.allow_windows_style_options(false);
  app.add_option("DIRECTORY", settings.directory,
                 "The directory that holds the checker SDK library (libvfpcsdk.so, vfpcsdk.dll)")
      ->type_name("DIRECTORY");
  app.add_option("--cloud-url", settings.cloudUrl,
                 "What initialize receives as cloudUrl (default: the plug-in's default endpoint)")
      ->type_name("URL");
  app.add_option("--proxy", settings.proxy, "What setProxy receives as the proxy (default: none)")
      ->type_name("PROXY");
  app.add_option("--certificate-path", settings.certificatePath,
                 "What setProxy receives as the certificate path (default: none)")
      ->type_name("PATH");
  app.add_option("--connection-timeout", settings.connectionTimeout,
                 "What initialize receives as connectionTimeout")
      ->check(kWholeNumber)
      ->capture_default_str()
      ->type_name("MS");
  app.add_option("--data-timeout", settings.dataTimeout, "What initialize receives as dataTimeout")
      ->check(kWholeNumber)
      ->capture_default_str()
      ->type_name("MS");
  app.add_option("--retries", settings.retries, "What initialize receives as connectionRetries")
      ->check(kWholeNumber)
      ->capture_default_str()
      ->type_name("N");
  app.add_option("--cases", settings.casesFile,
                 "Known answers, one JSON object a line: {\"detection\": text, \"path\": text "
                 "and/or \"size\": number, \"falsePositive\": true|false}")
      ->type_name("FILE");
  app.add_option("--threads", settings.threads, "Instances checking at once")
      ->check(CLI::Range(1u, 64u))
      ->capture_default_str()
      ->type_name("N");
  app.add_option("--junit", settings.junitFile, "Also write the results as JUnit XML")
      ->type_name("FILE");
  app.add_option("--only", settings.only, "Run only these clauses")
      ->delimiter(',')
      ->allow_extra_args(false)
      ->type_name("ID[,ID...]");
  app.add_flag("--list", settings.list, "List the clauses, one line each, and end");
  app.add_option("--time-budget-ms", settings.timeBudgetMs,
                 "The most initialize, a check or uninitialize may take (default: (connection "
                 "time-out + data time-out) x (retries + 1) + 1000)")
      ->check(kWholeNumber)
      ->type_name("N");
  app.add_option("--clause-timeout-ms", settings.clauseTimeoutMs,
                 "The most one clause may take before its process is killed (default: 120000 + "
                 "10 x the time budget)")
      ->check(kWholeNumber)
      ->type_name("N");
  app.add_option("--plugin", settings.plugin,
                 "The plug-in library for the plugin clause (default: the one beside this "
                 "program)")
      ->type_name("FILE");
  // How the kit starts itself for one clause; not for people.
  app.add_option("--run-clause", settings.runClause)->group("");
  app.add_option("--report", settings.reportFile)->group("");
}

void completeSettings(Settings& settings) {
  if (settings.list) return;
  if (settings.directory.empty()) throw UsageError("DIRECTORY is required");
  settings.library =
      plx::joinPath({settings.directory, plx::sharedLibraryFileName(fpcsdk::kLibraryName)});
  if (settings.plugin.empty()) {
    settings.plugin = plx::joinPath({fpcheck::executableDirectory(), fpcheck::pluginFileName()});
  }
}

fpcsdk::FPCConfig Settings::config() const {
  fpcsdk::FPCConfig config;
  config.cloudUrl = cloudUrl.value_or(fpcsdk::kDefaultCloudUrl);
  config.hostDataString = kHostData;
  config.pluginVersionText = VFPC_VERSION_TEXT;
  config.connectionTimeout = connectionTimeout;
  config.dataTimeout = dataTimeout;
  config.connectionRetries = retries;
  return config;
}

std::chrono::milliseconds Settings::timeBudget() const {
  if (timeBudgetMs) return std::chrono::milliseconds(*timeBudgetMs);
  const std::uint64_t attempts = std::uint64_t{retries} + 1;
  return std::chrono::milliseconds((connectionTimeout + dataTimeout) * attempts + 1000);
}

std::chrono::milliseconds Settings::clauseTimeout() const {
  if (clauseTimeoutMs) return std::chrono::milliseconds(*clauseTimeoutMs);
  return std::chrono::milliseconds(120000) + 10 * timeBudget();
}

std::vector<Case> casesFor(const Settings& settings) {
  std::vector<Case> cases;
  if (!settings.casesFile) {
    // A buffer, and a file whose size the kit knows: the library itself.
    Case memory;
    memory.detection = "fpcsdk-conform.Probe";
    memory.size = 68;
    Case file;
    file.detection = "fpcsdk-conform.Probe";
    file.path = settings.library;
    std::error_code error;
    file.size = std::filesystem::file_size(fromUtf8(settings.library), error);
    for (Case* probe : {&memory, &file}) {
      probe->name = "probe (" + describe(*probe) + ")";
      cases.push_back(*probe);
    }
    return cases;
  }
  const std::filesystem::path file = fromUtf8(*settings.casesFile);
  std::ifstream in(file, std::ios::binary);
  if (!in) throw UsageError("cannot read --cases " + *settings.casesFile);
  std::string line;
  for (std::size_t number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    try {
      Case entry = readCase(line, file.parent_path());
      entry.name = "line " + std::to_string(number) + " (" + describe(entry) + ")";
      cases.push_back(std::move(entry));
    } catch (const std::exception& error) {
      throw UsageError("--cases " + *settings.casesFile + ", line " + std::to_string(number) +
                       ": " + error.what());
    }
  }
  if (cases.empty()) throw UsageError("--cases " + *settings.casesFile + " holds no case");
  return cases;
}

}  // namespace conform
