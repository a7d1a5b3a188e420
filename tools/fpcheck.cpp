// fpcheck: checks detections from the command line through the FP checker
// plug-in, loaded and driven the way a host does it.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/batch.h"
#include "tools/check_request.h"
#include "tools/console.h"
#include "tools/console_log.h"
#include "tools/failure_text.h"
#include "tools/host_platform.h"
#include "tools/interruptible_input.h"
#include "tools/json_lines.h"
#include "tools/plugin_session.h"
#include "tools/report_formats.h"
#include "tools/tool_error.h"

namespace fpcheck {
namespace {

constexpr char kToolVersion[] = "fpcheck " VFPC_VERSION_TEXT;
constexpr char kDefaultCloudUrl[] = "file:vfpcsdk.rules";

const char* const kFooter = R"(Exit status: 0 when every check ran, 1 when any check (or the plug-in or
checker it needs) failed, 2 when the command line was wrong, 130 or 143 when a
batch was interrupted (SIGINT or Ctrl-C, SIGTERM).
Each check prints one JSON line on standard output; see fpcheck.md, in
share/doc/vfpcchecker/ of the package.)";

// Global options: the plug-in, its log and the checker's configuration.
struct GlobalOptions {
  std::string plugin;
  std::string logLevel = "none";
  std::string hostData = "fpcheck";
  bool pluginFops = false;
  bool checked = false;
  std::string texts[9];
  std::uint64_t numbers[9] = {};
  CLI::Option* given[9] = {};
};

// What fpcheck reads itself, for check and batch alike.
struct ReadOptions {
  bool hashFiles = false;
  std::uint64_t maxMemoryBytes = kDefaultMaxMemoryBytes;
};

struct CheckOptions {
  std::string sdkDirectory;
  ReadOptions read;
  std::string detection;
  std::string hash;
  std::string extra;
  std::vector<std::string> bools;
  std::vector<std::string> ints;
  std::vector<std::string> strings;
  std::uint64_t size = 0;
  bool memory = false;
  std::vector<std::string> files;
  CLI::Option* hashOption = nullptr;
  CLI::Option* extraOption = nullptr;
  CLI::Option* sizeOption = nullptr;
};

struct BatchOptions {
  std::string sdkDirectory;
  ReadOptions read;
  std::string from = "json";
  unsigned jobs = 1;
  bool unordered = false;
};

struct OptionFlag {
  fp::GlobalOptionId id;
  const char* flag;
  const char* help;
  bool number;
};

// The checker's custom options 0 to 8, by the flags that set them.
constexpr OptionFlag kOptionFlags[] = {
    {fp::OptionCloudUrl, "--cloud-url",
     "Cloud endpoint URL (option 0): https://host[:port]/path, or file:RULES for the reference "
     "SDK's offline decider (a relative RULES is beside the SDK library). Default: "
     "file:vfpcsdk.rules",
     false},
    {fp::OptionSdkText1, "--api-key,--sdk-text1",
     "The service's API key (option 1), sent as X-Api-Key; never printed", false},
    {fp::OptionProxy, "--proxy", "Proxy, host:port or a URL (option 2)", false},
    {fp::OptionCertificatePath, "--cert", "Certificate path (option 3)", false},
    {fp::OptionSdkText4, "--client-id,--sdk-text4",
     "A client id for the service (option 4), sent as X-Client-Id", false},
    {fp::OptionConnectionTimeout, "--connection-timeout", "Connection timeout (option 5)", true},
    {fp::OptionDataTimeout, "--data-timeout", "Data timeout (option 6)", true},
    {fp::OptionSdkText7, "--client-tag,--sdk-text7",
     "A client tag for the service (option 7), sent as X-Client-Tag", false},
    {fp::OptionConnectionRetries, "--retries", "Connection retries (option 8)", true},
};

// CLI11 would read "-1" into an unsigned number as its largest value.
const CLI::Validator kWholeNumber(
    [](const std::string& text) {
      return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos
                 ? std::string()
                 : "'" + text + "' is not a whole number, 0 or more";
    },
    "", "whole number");

int printLevel(const std::string& text) {
  const std::pair<const char*, int> levels[] = {
      {"none", kPrintNothing}, {"0", 0}, {"error", 0}, {"1", 1},     {"warning", 1},
      {"2", 2},              {"info", 2}, {"3", 3},   {"debug", 3},
  };
  for (const auto& [name, level] : levels) {
    if (text == name) return level;
  }
  throw ToolError(ExitUsage, "--log-level '" + text +
                                 "' is not a level: give 0 (error), 1 (warning), 2 (info), "
                                 "3 (debug) or none.");
}

std::string pluginPath(const GlobalOptions& options) {
  if (!options.plugin.empty()) return options.plugin;
  const std::string directory = executableDirectory();
  const std::u8string path = (std::filesystem::path(std::u8string(directory.begin(), directory.end())) /
                              pluginFileName(options.checked))
                                 .u8string();
  return std::string(path.begin(), path.end());
}

// The lines of the plug-in up to information, kept for --version: the
// plug-in names the SDK library it loaded, by path and version, at level 2.
class VersionLog final : public kesp::HostLog {
 public:
  bool isEnabled(std::uint32_t level, std::uint32_t, std::uint32_t) override {
    return level <= kesp::HostLogInfo;
  }
  void log(std::uint32_t level, std::uint32_t, std::uint32_t, const char* text) override {
    try {
      lines.emplace_back(level, text != nullptr ? text : "");
    } catch (...) {
      // A host log must not throw into the plug-in.
    }
  }
  std::vector<std::pair<std::uint32_t, std::string>> lines;
};

// What --version prints: fpcheck's own version, then the plug-in's and the
// reference SDK's beside fpcheck when they load (each with its full path),
// or why not. A support case needs all three.
std::string versionReport(const GlobalOptions& options) {
  const auto utf8Of = [](const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
  };
  std::string report = std::string(kToolVersion) + "\n";
  const std::string given = pluginPath(options);
  std::error_code ignored;
  const std::filesystem::path full =
      std::filesystem::absolute(std::filesystem::path(std::u8string(given.begin(), given.end())),
                                ignored);
  const std::string plugin = full.empty() ? given : utf8Of(full);
  const std::string sdkDirectory = utf8Of(full.parent_path() / "reference-sdk");
  try {
    VersionLog log;
    PluginSession session(plugin, log, options.hostData);
    report += "plug-in: " + plugin + ", version " + versionText(session.information().version) + "\n";
    CheckerSettings settings;
    settings.sdkDirectory = sdkDirectory;
    settings.texts.push_back({fp::OptionCloudUrl, "--cloud-url", kDefaultCloudUrl});
    try {
      session.loadChecker(settings);
    } catch (const ToolError&) {
      // The line naming the library comes before anything that can refuse.
    }
    static constexpr std::string_view kLoaded = "Loaded VFPC SDK library '";
    std::string sdk = "checker SDK: none loaded from " + sdkDirectory;
    for (const auto& [level, line] : log.lines) {
      if (level == kesp::HostLogInfo && line.rfind(kLoaded, 0) == 0) {
        const std::size_t end = line.find("': ", kLoaded.size());
        if (end != std::string::npos) {
          sdk = "checker SDK: " + line.substr(kLoaded.size(), end - kLoaded.size()) + ", " +
                line.substr(end + 3);
        }
      }
    }
    report += sdk + "\n";
  } catch (const std::exception& error) {
    std::string reason = error.what();
    reason = reason.substr(0, reason.find('\n'));
    report += "plug-in: not loaded: " + reason + "\n";
  }
  report.pop_back();  // CLI11 ends the text with a line break of its own
  return report;
}

void requireDirectory(const std::string& directory) {
  std::error_code ignored;
  const std::filesystem::path path(std::u8string(directory.begin(), directory.end()));
  if (!std::filesystem::is_directory(path, ignored)) {
    throw ToolError(ExitUsage, "--sdk-dir '" + directory +
                                   "' is not a directory. Give the directory that holds the "
                                   "checker SDK library, e.g. the reference-sdk directory beside fpcheck.");
  }
}

CheckerSettings checkerSettings(const GlobalOptions& options, const std::string& sdkDirectory) {
  CheckerSettings settings;
  settings.sdkDirectory = sdkDirectory;
  settings.pluginFops = options.pluginFops;
  // Without --cloud-url the reference SDK decides from the rules beside it,
  // so that fpcheck works on a machine with no network.
  if (options.given[fp::OptionCloudUrl]->count() == 0) {
    settings.texts.push_back({fp::OptionCloudUrl, "--cloud-url", kDefaultCloudUrl});
  }
  for (const OptionFlag& flag : kOptionFlags) {
    if (options.given[flag.id]->count() == 0) continue;
    const std::string name = options.given[flag.id]->get_name();
    if (flag.number) {
      settings.numbers.push_back({flag.id, name, options.numbers[flag.id]});
    } else {
      settings.texts.push_back(
          {flag.id, name, options.texts[flag.id], flag.id == fp::OptionSdkText1});
    }
  }
  return settings;
}

template <class Pair>
void addPairs(const std::vector<std::string>& texts, const char* flag,
              bool (*parse)(std::string_view, Pair&, std::string&), std::vector<Pair>& pairs) {
  for (const std::string& text : texts) {
    Pair pair;
    std::string reason;
    if (!parse(text, pair, reason)) throw ToolError(ExitUsage, std::string(flag) + ": " + reason);
    pairs.push_back(std::move(pair));
  }
}

int runInfo(const GlobalOptions& options, ConsoleLog& log, bool json) {
  const std::string library = pluginPath(options);
  PluginSession session(library, log, options.hostData);
  const PluginInformation information = session.information();
  if (json) {
    std::cout << informationJson(information, library) << '\n';
  } else {
    std::cout << "name:        " << information.name << '\n'
              << "type:        " << information.type << '\n'
              << "id:          " << information.id << '\n'
              << "version:     " << versionText(information.version) << '\n'
              << "api version: " << information.apiMajor << '.' << information.apiMinor << '\n'
              << "library:     " << library << '\n';
  }
  return ExitSuccess;
}

int runCheckCommand(const GlobalOptions& options, const CheckOptions& check, ConsoleLog& log) {
  requireDirectory(check.sdkDirectory);
  if (check.memory && check.sizeOption->count() > 0) {
    throw ToolError(ExitUsage,
                    "--size is for file checks; with --memory the size is the file's length. "
                    "Leave out one of them.");
  }
  CheckRequest request;
  request.detection = check.detection;
  if (check.hashOption->count() > 0) request.hash = check.hash;
  if (check.extraOption->count() > 0) request.extra = check.extra;
  if (check.sizeOption->count() > 0) request.size = check.size;
  request.memory = check.memory;
  request.hashFile = check.read.hashFiles;
  request.maxMemoryBytes = check.read.maxMemoryBytes;
  addPairs(check.bools, "--bool", &parseBoolPair, request.bools);
  addPairs(check.ints, "--int", &parseIntPair, request.ints);
  addPairs(check.strings, "--str", &parseStrPair, request.strings);

  PluginSession session(pluginPath(options), log, options.hostData);
  session.loadChecker(checkerSettings(options, check.sdkDirectory));
  bool allSucceeded = true;
  std::set<std::string> hints;
  {
    HostPtr<fp::InstanceV1> instance = session.createInstance();
    for (const std::string& file : check.files) {
      request.path = file;
      const CheckResult result = runCheck(*instance, request);
      allSucceeded = allSucceeded && result.succeeded();
      if (std::string hint = hintFor(result); !hint.empty()) hints.insert(std::move(hint));
      std::cout << resultLine(result) << '\n' << std::flush;
    }
  }
  session.threadCleanup();
  for (const std::string& hint : hints) std::cerr << "fpcheck: " << hint << '\n';
  return allSucceeded ? ExitSuccess : ExitFailure;
}

// The batch's lines in the --from format, as requests that read what
// ReadOptions say.
LineParser lineParser(const BatchOptions& batch) {
  LineKind (*parse)(std::string_view, CheckRequest&, std::string&) = &parseJsonLine;
  if (batch.from == "clamscan") parse = &parseClamscanLine;
  if (batch.from == "yara") parse = &parseYaraLine;
  return [parse, read = batch.read](std::string_view line, CheckRequest& request,
                                    std::string& reason) {
    const LineKind kind = parse(line, request, reason);
    request.hashFile = read.hashFiles;
    request.maxMemoryBytes = read.maxMemoryBytes;
    return kind;
  };
}

void addReadOptions(CLI::App& command, ReadOptions& read) {
  command.add_flag("--hash-files", read.hashFiles,
                   "Send each file's SHA-256 as its hash (custom data 0) unless a hash is given; "
                   "only regular files are read");
  command.add_option("--max-memory-bytes", read.maxMemoryBytes,
                     "Check a memory input only up to this many bytes; a larger file is "
                     "NotChecked, and nothing of it is read")
      ->type_name("N")
      ->check(kWholeNumber)
      ->capture_default_str();
}

int runBatchCommand(const GlobalOptions& options, const BatchOptions& batch, ConsoleLog& log,
                    Console& console) {
  requireDirectory(batch.sdkDirectory);
  // Catching interrupts from before the load: one that comes while the
  // checker loads still ends the batch the orderly way.
  InterruptibleInput input;
  BatchSettings settings;
  settings.jobs = batch.jobs;
  settings.unordered = batch.unordered;
  settings.progress = standardErrorIsTerminal() ? &console : nullptr;
  settings.parse = lineParser(batch);
  BatchSummary summary;
  {
    PluginSession session(pluginPath(options), log, options.hostData);
    session.loadChecker(checkerSettings(options, batch.sdkDirectory));
    summary = runBatch(session, input, std::cout, settings);
  }  // the checker SDK unloaded, before the summary says the batch is over
  console.line("fpcheck: " + summary.text());
  for (const std::string& hint : summary.hints) console.line("fpcheck: " + hint);
  // As shells report a program that a signal ended.
  if (summary.interrupt != 0) return 128 + summary.interrupt;
  return summary.errors.empty() && !summary.outputClosed && summary.failure.empty() ? ExitSuccess
                                                                                     : ExitFailure;
}

int run(const std::vector<std::string>& arguments) {
  CLI::App app("Checks whether detections are false positives, through the FP checker plug-in "
               "and a checker SDK.",
               "fpcheck");
  app.footer(kFooter);
  app.allow_windows_style_options(false);
  app.require_subcommand(1);
  // Global options may also follow the command's name.
  app.fallthrough();

  GlobalOptions options;
  CLI::Option* plugin =
      app.add_option("--plugin", options.plugin,
                     "The plug-in library (default: " + pluginFileName() + " beside fpcheck)")
          ->type_name("PATH");
  app.add_flag("--checked", options.checked,
               "Use the checked build of the plug-in beside fpcheck (" + pluginFileName(true) +
                   "), which names every broken rule of the host interface in a level 0 line "
                   "(see them with --log-level 0)")
      ->excludes(plugin);
  // After --plugin and --checked, whose values it reads: CLI11 runs the
  // options' callbacks in the order they were added, once the whole line is
  // parsed.
  app.set_version_flag("--version", [&options] { return versionReport(options); },
                       "Print the versions of fpcheck, the plug-in and the reference SDK beside "
                       "it, with their paths, and exit");
  app.add_option("--log-level", options.logLevel,
                 "Print the plug-in's log lines up to this level on standard error: "
                 "0 error, 1 warning, 2 info, 3 debug, or none (the default)")
      ->type_name("LEVEL");
  app.add_option("--host-data", options.hostData,
                 "The host data string the plug-in passes on to the checker SDK")
      ->type_name("TEXT")
      ->capture_default_str();
  app.add_flag("--plugin-fops", options.pluginFops,
               "Leave the plug-in's default file operations in place instead of installing "
               "fpcheck's: files are then opened exclusively for their size, and the same file "
               "checked at once on two instances fails on one");
  for (const OptionFlag& flag : kOptionFlags) {
    CLI::Option* option =
        flag.number ? app.add_option(flag.flag, options.numbers[flag.id], flag.help)
                          ->type_name("N")
                          ->check(kWholeNumber)
                    : app.add_option(flag.flag, options.texts[flag.id], flag.help)->type_name("TEXT");
    option->group("Checker options (unset: the plug-in's defaults)");
    options.given[flag.id] = option;
  }

  bool infoJson = false;
  CLI::App* info = app.add_subcommand("info", "Print the plug-in's name, type, id and versions");
  info->add_flag("--json", infoJson, "One JSON object instead of text");

  CheckOptions check;
  CLI::App* checkCommand = app.add_subcommand(
      "check", "Check files (or their bytes as memory buffers), one JSON line per file");
  checkCommand->add_option("--sdk-dir", check.sdkDirectory,
                           "The directory that holds the checker SDK library")
      ->required()
      ->type_name("DIR");
  checkCommand->add_option("--detection", check.detection, "The detection name to check")
      ->required()
      ->type_name("NAME");
  check.hashOption =
      checkCommand->add_option("--hash", check.hash, "The file's hash (custom data 0)")->type_name("H");
  check.extraOption = checkCommand->add_option("--extra", check.extra, "Extra data text (custom data 10000)")
                          ->type_name("TEXT");
  checkCommand->add_option("--bool", check.bools, "A bool option pair, KEY=true|false (repeatable)")
      ->type_name("K=V");
  checkCommand->add_option("--int", check.ints, "An integer option pair, KEY=N (repeatable)")
      ->type_name("K=V");
  checkCommand->add_option("--str", check.strings, "A string option pair, KEY=TEXT (repeatable)")
      ->type_name("K=V");
  check.sizeOption = checkCommand->add_option(
      "--size", check.size, "The file's size to pass, instead of asking the file")
      ->type_name("N")
      ->check(kWholeNumber);
  checkCommand->add_flag("--memory", check.memory,
                         "Check each file's bytes as a memory buffer instead of the file");
  addReadOptions(*checkCommand, check.read);
  checkCommand->add_option("FILE", check.files, "The files to check")->required()->type_name("FILE");

  BatchOptions batch;
  batch.jobs = std::max(1u, std::thread::hardware_concurrency());
  CLI::App* batchCommand = app.add_subcommand(
      "batch",
      "Check the JSON requests of standard input, one a line, as they arrive, on several "
      "threads; results in input order, a summary on standard error");
  batchCommand->add_option("--sdk-dir", batch.sdkDirectory,
                           "The directory that holds the checker SDK library")
      ->required()
      ->type_name("DIR");
  batchCommand->add_option("--jobs", batch.jobs, "Instances and threads to check on")
      ->check(CLI::Range(1u, 256u))
      ->capture_default_str()
      ->type_name("N");
  batchCommand->add_option("--from", batch.from,
                           "The input's format: json (fpcheck's request lines), clamscan (the "
                           "lines of clamscan --infected or clamdscan) or yara (the lines of yara "
                           "-r); lines of a scanner that are no detection are skipped")
      ->check(CLI::IsMember({"json", "clamscan", "yara"}))
      ->capture_default_str()
      ->type_name("FORMAT");
  addReadOptions(*batchCommand, batch.read);
  batchCommand->add_flag("--unordered", batch.unordered,
                         "Write each result as soon as it is ready, with its input line number "
                         "(\"line\"), instead of in input order");

  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::Success& success) {
    return app.exit(success);  // --help (CallForHelp derives from Success), --version
  } catch (const CLI::ParseError& error) {
    std::string message = error.what();
    const std::vector<std::string> rest = app.remaining();
    if (app.get_subcommands().empty() && !rest.empty() && rest.front().rfind('-', 0) != 0) {
      message = "'" + rest.front() + "' is not a command: give info, check or batch";
    }
    std::cerr << "fpcheck: " << message << "\nRun 'fpcheck --help' or 'fpcheck COMMAND --help' "
              << "for the usage.\n";
    return ExitUsage;
  }

  Console console;
  ConsoleLog log(console, printLevel(options.logLevel));
  if (info->parsed()) return runInfo(options, log, infoJson);
  if (checkCommand->parsed()) return runCheckCommand(options, check, log);
  return runBatchCommand(options, batch, log, console);
}

}  // namespace
}  // namespace fpcheck

int main(int argc, char** argv) {
  fpcheck::useBinaryStandardStreams();
  try {
    return fpcheck::run(fpcheck::utf8Arguments(argc, argv));
  } catch (const fpcheck::ToolError& error) {
    std::cerr << "fpcheck: " << error.what() << '\n';
    return error.code();
  } catch (...) {
    std::cerr << "fpcheck: " << fpcheck::failureText(std::current_exception()) << '\n';
    return fpcheck::ExitFailure;
  }
}
