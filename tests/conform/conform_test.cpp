// fpcsdk-conform run as an SDK builder runs it: on SDKs that each break one
// rule (deviant_sdk.cpp), on the reference SDK against fpcloud, and with the
// command lines it must refuse.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "foundation/dynamic_library.h"
#include "tests/support/cloud_service.h"
#include "tests/support/test_paths.h"
#include "tests/tools/run_program.h"

namespace kesp::test {
namespace {

const char* const kClauses[] = {
    "exports",        "create",          "codes",   "no-throw",       "initialize",
    "instances",      "verdict-written", "known-answers", "config-lifetime", "proxy",
    "thread-cleanup", "time",            "log-after-destroy", "threads", "unload",
    "log-text",       "output",          "plugin"};

// How a crash is named, and where a thread of the SDK's own comes from
// (Windows: the module of its start address; Linux: its name, the program's).
#if defined(_WIN32)
const std::string kCrash = "exception 0xC0000005 (access violation)";
const std::string kThreadOrigin = "msvcrt.dll";
#else
const std::string kCrash = "signal 11 (SIGSEGV)";
const std::string kThreadOrigin = "fpcsdk-conform";
#endif
const std::string kLibraryFile = plx::sharedLibraryFileName("vfpcsdk");
const std::string kNoExports = "the library does not export FPCCreate and FPCDestroy (see exports)";

std::string binary(const std::string& name) { return plx::joinPath({executableDirectory(), name}); }

// One run of the kit: its exit code and, per clause, "PASS" or its line's
// "FAIL: reason" / "SKIP: reason".
struct KitRun {
  ProgramRun program;
  std::map<std::string, std::string> clauses;
  std::string summary;
};

KitRun runKit(std::vector<std::string> arguments) {
  KitRun run;
  run.program = runProgram(binary(programFileName("fpcsdk-conform")), arguments);
  for (const std::string& line : linesOf(run.program.out)) {
    const std::size_t space = line.find(' ');
    const std::size_t colon = line.find(": ");
    if (line.rfind("PASS ", 0) == 0) {
      run.clauses[line.substr(5)] = "PASS";
    } else if (colon != std::string::npos && (line.rfind("FAIL ", 0) == 0 || line.rfind("SKIP ", 0) == 0)) {
      run.clauses[line.substr(space + 1, colon - space - 1)] = line.substr(0, 4) + line.substr(colon);
    } else {
      run.summary = line;
    }
  }
  return run;
}

// expected, where each # stands for a run of digits in actual.
bool matches(const std::string& actual, const std::string& expected) {
  std::size_t a = 0;
  for (const char c : expected) {
    if (c != '#') {
      if (a >= actual.size() || actual[a++] != c) return false;
      continue;
    }
    const std::size_t digits = actual.find_first_not_of("0123456789", a);
    if (digits == a) return false;
    a = digits == std::string::npos ? actual.size() : digits;
  }
  return a == actual.size();
}

struct Deviation {
  const char* sdk;
  const char* clause;  // the one clause it fails
  std::string line;    // that clause's line after its id, # for any number
};

const Deviation kDeviations[] = {
    {"missing-export", "exports", "FAIL: FPCDestroy is not exported under that name"},
    {"destroy-needs-initialize", "create",
     "FAIL: the clause's process ended with " + kCrash + " during FPCDestroy"},
    {"code-out-of-range", "codes", "FAIL: setProxy returned 13"},
    {"throws", "no-throw", "FAIL: checkDetection threw an exception: the hash is not hexadecimal"},
    {"initialize-twice", "initialize",
     "FAIL: a second initialize gave 0 (ok), not 3 (already initialized)"},
    {"instance-pool", "instances",
     "FAIL: createFpcInstance gave 0 but no instance, with 8 instance(s) alive"},
    {"verdict-unwritten", "verdict-written",
     "FAIL: checkDetection gave 0 for line 2 (Trojan.Script.Phish, 36 bytes in memory) but wrote "
     "no verdict: its byte still holds 0x5A"},
    {"stale-cache", "known-answers",
     "FAIL: line 1 (Adware.Toolbar.Search, 60 bytes in memory): the verdict is false, not true "
     "on thread 1 of 4, round 6 of 10"},
    {"keeps-config", "config-lifetime",
     "FAIL: the clause's process ended with " + kCrash + " during setProxy"},
    {"proxy-resets", "proxy",
     "FAIL: after setProxy(\"http://not a proxy:port\") was refused with 1 (invalid parameters), "
     "line 1 (Adware.Toolbar.Search, 60 bytes in memory) gave 11 (connection error) instead of "
     "0 (ok), true"},
    {"thread-cleanup-crash", "thread-cleanup",
     "FAIL: the clause's process ended with " + kCrash + " during threadCleanup"},
    {"slow-uninitialize", "time", "FAIL: uninitialize took # ms; the budget is 1000 ms"},
    {"logs-after-destroy", "log-after-destroy",
     "FAIL: 1 call(s) reached the LogInterface after FPCDestroy returned: log(2, \"telemetry "
     "flushed\")"},
    {"leaves-thread", "threads",
     "FAIL: 1 thread(s) started since FPCCreate still run 1000 ms after FPCDestroy: # (" +
         kThreadOrigin + ")"},
    {"pins-itself", "unload",
     "FAIL: the library is still loaded after FPCDestroy and its release: something keeps it (a "
     "GNU-unique symbol, RTLD_NODELETE, a reference the library holds to itself, or a thread of "
     "its own)"},
    {"latin1-log", "log-text",
     "FAIL: a line is not UTF-8 (byte 0xE9 at offset 13): \"Fichier trait\\xE9 : rules loaded\""},
    {"writes-output", "output",
     "FAIL: the SDK wrote 12 byte(s) to standard output: \"initialized\\x0A\""},
#if defined(_WIN32)
    {"msvc-runtime", "exports",
     "FAIL: it imports msvcp140.dll, the C++ standard library of MSVC, but the plug-in is built "
     "with GCC (libstdc++), and the interface passes std::string and std::unordered_map"},
#endif
};

class DeviantSdk : public ::testing::TestWithParam<Deviation> {};

// Every other clause passes, except those the missing export leaves nothing
// to run.
TEST_P(DeviantSdk, FailsExactlyItsClause) {
  const Deviation& deviation = GetParam();
  const KitRun run = runKit({"--cases", binary("deviant-sdk/cases.jsonl"), "--time-budget-ms",
                             "1000", binary(std::string("deviant-sdk/") + deviation.sdk)});
  EXPECT_EQ(run.program.exitCode, 1) << run.program.err;
  for (const char* clause : kClauses) {
    const auto found = run.clauses.find(clause);
    ASSERT_NE(found, run.clauses.end()) << clause << " missing:\n" << run.program.out;
    const bool skipped = std::string(deviation.sdk) == "missing-export";
    const std::string expected =
        clause == std::string(deviation.clause) ? deviation.line
        : skipped                               ? "SKIP: " + kNoExports
                                                : "PASS";
    EXPECT_TRUE(matches(found->second, expected))
        << clause << ": " << found->second << "\n  expected: " << expected;
  }
  EXPECT_EQ(run.summary, std::string(deviation.sdk) == "missing-export"
                             ? "0 passed, 1 failed, 17 skipped"
                             : "17 passed, 1 failed, 0 skipped");
}

INSTANTIATE_TEST_SUITE_P(Conform, DeviantSdk, ::testing::ValuesIn(kDeviations),
                         [](const auto& info) {
                           std::string name;
                           for (const char c : std::string(info.param.sdk)) {
                             if (c != '-') name += c;
                           }
                           return name;
                         });

#if !defined(_WIN32)
// The library could never be unloaded: the same fault as the file shows it
// and as the process meets it.
TEST(ConformLinux, AGnuUniqueSymbolFailsExportsAndUnload) {
  KitRun run = runKit({"--only", "exports,unload", binary("deviant-sdk/gnu-unique")});
  EXPECT_EQ(run.program.exitCode, 1);
  EXPECT_EQ(run.clauses["exports"],
            "FAIL: 1 GNU-unique symbol(s), so the library could never be unloaded (build with "
            "-fno-gnu-unique): std::__detail::__to_chars_10_impl<unsigned long>(char*, "
            "unsigned int, unsigned long)::__digits");
  EXPECT_EQ(run.clauses["unload"].substr(0, 58),
            "FAIL: the library is still loaded after FPCDestroy and its");
}
#endif

TEST(Conform, TheReferenceSdkPassesEveryClauseAgainstFpcloud) {
  TempDir scratch;
  const std::string rules = scratch.file("vfpcsdk.rules");
  std::ofstream(std::filesystem::path(rules)) << "tp Adware.Toolbar.Dropper\nfp Adware.Toolbar.*\n";
  CloudService cloud({"--rules", rules});
  const KitRun run = runKit({"--cloud-url", cloud.url(), "--connection-timeout", "2000",
                             "--data-timeout", "2000", "--retries", "1", "--cases",
                             binary("examples/reference-cases.jsonl"), binary("reference-sdk")});
  EXPECT_EQ(run.program.exitCode, 0) << run.program.out << run.program.err;
  EXPECT_EQ(run.summary, "18 passed, 0 failed, 0 skipped");
  cloud.stop();  // its request lines follow its answers; stopping reads them all
  EXPECT_GT(cloud.requestCount(), 0u);
}

// A clause that hangs costs that clause, and names the step it hung in.
TEST(Conform, AClauseOverItsTimeIsKilledAndNamed) {
  KitRun run = runKit({"--only", "time", "--clause-timeout-ms", "1000",
                             binary("deviant-sdk/slow-uninitialize")});
  EXPECT_EQ(run.program.exitCode, 1);
  EXPECT_EQ(run.clauses["time"],
            "FAIL: no result within 1000 ms; the clause's process was killed during uninitialize");
}

TEST(Conform, WritesJUnitAndListsItsClauses) {
  TempDir scratch;
  const std::string report = scratch.file("conform.xml");
  const KitRun run = runKit({"--only", "codes,known-answers", "--junit", report,
                             binary("deviant-sdk/code-out-of-range")});
  EXPECT_EQ(run.summary, "0 passed, 1 failed, 1 skipped");
  std::ifstream in{std::filesystem::path(report)};
  const std::string xml(std::istreambuf_iterator<char>(in), {});
  EXPECT_TRUE(matches(xml,
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<testsuite name=\"fpcsdk-conform\" tests=\"2\" failures=\"1\" errors=\"0\" "
                      "skipped=\"1\" time=\"#.#\">\n"
                      "  <testcase classname=\"fpcsdk-conform\" name=\"codes\" time=\"#.#\">\n"
                      "    <failure message=\"setProxy returned 13\"/>\n  </testcase>\n"
                      "  <testcase classname=\"fpcsdk-conform\" name=\"known-answers\" "
                      "time=\"#.#\">\n    <skipped message=\"no --cases given\"/>\n"
                      "  </testcase>\n</testsuite>\n"))
      << xml;
  std::vector<std::string> listed;
  for (const std::string& line : linesOf(runKit({"--list"}).program.out)) {
    listed.push_back(line.substr(0, line.find(' ')));
  }
  EXPECT_EQ(listed, std::vector<std::string>(std::begin(kClauses), std::end(kClauses)));
}

struct Refusal {
  std::vector<std::string> arguments;
  std::string error;  // the first line of standard error
};

TEST(Conform, RefusesWhatItCannotCheckWithTwo) {
  const std::string notALibrary = binary("sdk/not-a-library");
  const Refusal refusals[] = {
      {{}, "fpcsdk-conform: DIRECTORY is required"},
      {{"--only", "codes,nope", binary("example-sdk")},
       "fpcsdk-conform: --only: no clause nope (see --list)"},
      {{binary("sdk/empty")},
       "fpcsdk-conform: no checker SDK library " + plx::joinPath({binary("sdk/empty"), kLibraryFile})},
      {{"--cases", binary("sdk/not-a-library/" + kLibraryFile), binary("example-sdk")},
       "fpcsdk-conform: --cases " + binary("sdk/not-a-library/" + kLibraryFile) +
           ", line 1: [json.exception.parse_error.101] parse error at line 1, column 1: syntax "
           "error while parsing value - invalid literal; last read: 'T'"},
  };
  for (const Refusal& refusal : refusals) {
    const KitRun run = runKit(refusal.arguments);
    EXPECT_EQ(run.program.exitCode, 2);
    EXPECT_EQ(linesOf(run.program.err).at(0), refusal.error);
  }
  const KitRun notLoaded = runKit({notALibrary});
  EXPECT_EQ(notLoaded.program.exitCode, 2);
  EXPECT_EQ(linesOf(notLoaded.program.err).at(0).rfind("fpcsdk-conform: cannot load ", 0), 0u)
      << notLoaded.program.err;
}

}  // namespace
}  // namespace kesp::test
