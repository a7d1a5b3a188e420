// fpcsdk-conform [options] DIRECTORY: proves a checker SDK library before a
// host loads it. Each clause runs in a process of its own, this program
// started again with the hidden option --run-clause, so that a crash or a
// hang costs that clause alone. Prints "PASS <id>", "FAIL <id>: <reason>" or
// "SKIP <id>: <reason>" per clause, then "<n> passed, <m> failed, <k>
// skipped"; ends with 0 when nothing failed, 1 when a clause failed, 2 for a
// usage error or a library that cannot be loaded at all.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "foundation/dynamic_library.h"
#include "tools/conform/clauses.h"
#include "tools/conform/junit_report.h"
#include "tools/conform/kit_platform.h"
#include "tools/conform/usage_error.h"
#include "tools/host_platform.h"

namespace conform {

namespace {

// The clause id of the check that the library loads at all, made before
// any clause.
constexpr char kLoadCheck[] = ":load";

std::filesystem::path fromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string readFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A directory of the run's own for the clauses' reports and output, gone
// when the run ends however it ends.
class WorkDirectory {
 public:
  WorkDirectory() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("fpcsdk-conform-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~WorkDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  WorkDirectory(const WorkDirectory&) = delete;
  WorkDirectory& operator=(const WorkDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The clause's process: runs the clause and ends with its result.
[[noreturn]] void runClauseProcess(const Settings& settings) {
  ClauseReport report(fromUtf8(settings.reportFile));
  ClauseResult result{Verdict::Pass, ""};
  try {
    if (settings.runClause == kLoadCheck) {
      report.step("loading the library");
      plx::DynamicLibrary library(settings.library);
      report.finish(result);
    }
    const Clause* clause = findClause(settings.runClause);
    if (clause == nullptr) throw UsageError("no clause " + settings.runClause);
    const std::vector<Case> cases = casesFor(settings);
    ClauseContext context{settings, cases, settings.casesFile.has_value(), report};
    clause->run(context);
  } catch (const ClauseSkipped& skipped) {
    result = {Verdict::Skip, skipped.what()};
  } catch (const std::exception& failure) {
    result = {Verdict::Fail, failure.what()};
  }
  report.finish(result);
}

struct ClauseRun {
  ClauseRecord record;
  ChildEnd end;
};

ClauseRun runInChild(const std::vector<std::string>& arguments, const std::string& id,
                     const Settings& settings, const std::filesystem::path& work) {
  const std::filesystem::path report = work / (id.substr(id.find_first_not_of(':')) + ".report");
  const std::filesystem::path out = work / (id.substr(id.find_first_not_of(':')) + ".out");
  const std::filesystem::path err = work / (id.substr(id.find_first_not_of(':')) + ".err");
  std::vector<std::string> childArguments = arguments;
  childArguments.insert(childArguments.end(), {"--run-clause", id, "--report", utf8(report)});
  ClauseRun run;
  run.record.id = id;
  const auto start = std::chrono::steady_clock::now();
  run.end = runThisProgram(childArguments, settings.clauseTimeout(), out, err);
  run.record.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.record.out = readFile(out);
  run.record.err = readFile(err);

  const ReportRead read = readReport(report);
  const std::string during = read.lastStep.empty() ? "" : " during " + read.lastStep;
  std::string firstErrorLine = run.record.err.substr(0, run.record.err.find('\n'));
  const std::string errorLine =
      firstErrorLine.empty() ? "" : "; standard error: " + printable(firstErrorLine, 200);
  ClauseResult& result = run.record.result;
  switch (run.end.kind) {
    case ChildEnd::NotStarted:
      result = {Verdict::Fail, "the kit could not start the clause's process: " +
                                   run.end.whyNotStarted};
      break;
    case ChildEnd::TimedOut:
      result = {Verdict::Fail, "no result within " +
                                   std::to_string(settings.clauseTimeout().count()) +
                                   " ms; the clause's process was killed" + during};
      break;
    case ChildEnd::Crashed:
      result = {Verdict::Fail, "the clause's process ended with " + describeCrash(run.end.code) +
                                   during + errorLine};
      break;
    case ChildEnd::Exited:
      if (run.end.code == 0 && read.result) {
        result = *read.result;
      } else {
        result = {Verdict::Fail, "the clause's process ended with exit code " +
                                     std::to_string(run.end.code) + during + errorLine};
      }
      break;
  }
  const Clause* clause = findClause(id);
  if (clause != nullptr && clause->judgesOutput && result.verdict == Verdict::Pass) {
    for (const auto& [text, stream] :
         {std::pair{&run.record.out, "output"}, std::pair{&run.record.err, "error"}}) {
      if (text->empty()) continue;
      result = {Verdict::Fail, "the SDK wrote " + std::to_string(text->size()) +
                                   " byte(s) to standard " + stream + ": \"" +
                                   printable(*text, 80) + "\""};
      break;
    }
  }
  return run;
}

int runKit(const Settings& settings, const std::vector<std::string>& arguments) {
  if (settings.list) {
    for (const Clause& clause : clauses()) std::printf("%-18s %s\n", clause.id, clause.text);
    return kExitPassed;
  }
  std::vector<const Clause*> chosen;
  for (const Clause& clause : clauses()) {
    if (settings.only.empty() ||
        std::find(settings.only.begin(), settings.only.end(), clause.id) != settings.only.end()) {
      chosen.push_back(&clause);
    }
  }
  for (const std::string& id : settings.only) {
    if (findClause(id) == nullptr) throw UsageError("--only: no clause " + id + " (see --list)");
  }
  static_cast<void>(casesFor(settings));  // refuses a bad --cases file now
  std::error_code error;
  if (!std::filesystem::is_regular_file(fromUtf8(settings.library), error)) {
    throw UsageError("no checker SDK library " + settings.library);
  }

  const WorkDirectory work;
  const ClauseRun load = runInChild(arguments, kLoadCheck, settings, work.path());
  if (load.record.result.verdict != Verdict::Pass) {
    std::cerr << "fpcsdk-conform: cannot load " << settings.library << ": "
              << load.record.result.reason << '\n';
    return kExitUsage;
  }

  std::vector<ClauseRecord> records;
  std::size_t counts[3] = {};
  for (const Clause* clause : chosen) {
    const ClauseRecord record = runInChild(arguments, clause->id, settings, work.path()).record;
    const ClauseResult& result = record.result;
    ++counts[static_cast<int>(result.verdict)];
    if (result.verdict == Verdict::Pass) {
      std::cout << "PASS " << clause->id << std::endl;
    } else {
      std::cout << (result.verdict == Verdict::Fail ? "FAIL " : "SKIP ") << clause->id << ": "
                << result.reason << std::endl;
    }
    records.push_back(record);
  }
  std::cout << counts[0] << " passed, " << counts[1] << " failed, " << counts[2] << " skipped"
            << std::endl;
  if (settings.junitFile) writeJunit(*settings.junitFile, records);
  return counts[1] == 0 ? kExitPassed : kExitFailed;
}

int run(const std::vector<std::string>& all) {
  Settings settings;
  CLI::App app("Checks a checker SDK library, clause by clause, before a host loads it through "
               "the FP checker plug-in.");
  addOptions(app, settings);
  std::vector<const char*> argv;
  for (const std::string& argument : all) argv.push_back(argument.c_str());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::Success& success) {
    return app.exit(success);
  } catch (const CLI::ParseError& error) {
    std::cerr << "fpcsdk-conform: " << error.what()
              << "\nRun 'fpcsdk-conform --help' for the usage.\n";
    return kExitUsage;
  }
  try {
    completeSettings(settings);
    if (!settings.runClause.empty()) runClauseProcess(settings);
    return runKit(settings, std::vector<std::string>(all.begin() + 1, all.end()));
  } catch (const UsageError& error) {
    std::cerr << "fpcsdk-conform: " << error.what() << '\n';
    return kExitUsage;
  }
}

}  // namespace
}  // namespace conform

int main(int argc, char** argv) {
  fpcheck::useBinaryStandardStreams();
  conform::crashQuietly();
  try {
    return conform::run(fpcheck::utf8Arguments(argc, argv));
  } catch (const std::exception& error) {
    std::cerr << "fpcsdk-conform: " << error.what() << '\n';
    return conform::kExitUsage;
  }
}
