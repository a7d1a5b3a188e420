// fpcheck batch as a stage of a pipeline: the built program run as a child
// process with the built plug-in and a copy of the reference SDK, fed and
// read while it runs.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "tests/tools/fpcheck_program.h"
#include "tests/tools/reference_sdk_directory.h"

namespace kesp::test {
namespace {

using namespace std::chrono_literals;

// Bounds for waiting on the child, never expected to be reached: a line
// comes in milliseconds, but Wine and the sanitizers start slowly.
constexpr auto kPatience = 20s;

const std::string kRules = "tp Adware.Toolbar.Dropper\nfp Adware.Toolbar.*\n";

class FpcheckBatch : public FpcheckFiles {
 protected:
  // A request whose detection names its index, so that each result shows
  // which request it answers: a false positive unless fp is false. The
  // toolbar file by path, or another file read into memory.
  std::string request(std::size_t index, bool fp = true, const std::string& memory = "") const {
    const std::string detection =
        (fp ? "Adware.Toolbar.S" : "Worm.Generic.") + std::to_string(index);
    const std::string& path = memory.empty() ? toolbar : memory;
    const Json request = {{"path", path}, {"detection", detection}, {"memory", !memory.empty()}};
    return request.dump() + "\n";
  }

  std::vector<std::string> batch(std::vector<std::string> more = {}) const {
    std::vector<std::string> arguments = {"batch", "--sdk-dir", sdk.directory()};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
  }

  ReferenceSdkCopy sdk{kRules};
  std::string toolbar = write("toolbar.txt", "toolbar");
};

TEST_F(FpcheckBatch, WritesEachResultWhileItsInputIsStillOpen) {
  RunningProgram program(fpcheckProgram(), batch({"--jobs", "2"}));
  for (std::size_t index = 0; index < 3; ++index) {
    ASSERT_TRUE(program.write(request(index)));
    const std::optional<std::string> line = program.readLine(kPatience);
    ASSERT_TRUE(line) << "no result while the input is open; " << program.err();
    const Json result = Json::parse(*line);
    EXPECT_EQ(result["detection"], "Adware.Toolbar.S" + std::to_string(index));
    EXPECT_EQ(result["status"], "Success");
    EXPECT_FALSE(result.contains("line"));
  }
  program.closeInput();
  EXPECT_EQ(program.wait(kPatience), 0);
  EXPECT_EQ(program.readRest(kPatience), "");
  EXPECT_TRUE(contains(program.err(), "fpcheck: 3 requests, 3 checked, 3 false positives, 0 failed"))
      << program.err();
}

// More requests than the batch holds at once, checks of unequal cost (a
// memory input is read first) on several workers: the results still come in
// input order.
TEST_F(FpcheckBatch, KeepsInputOrderBeyondItsWindow) {
  const std::string large = write("large.bin", std::string(64 * 1024, 'x'));
  std::string requests;
  constexpr std::size_t kCount = 1500;
  for (std::size_t index = 0; index < kCount; ++index) {
    requests += index % 9 == 0 ? request(index, true, large) : request(index, index % 3 != 0);
  }
  const ProgramRun run = runProgram(fpcheckProgram(), batch({"--jobs", "4"}), withInput(requests));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const std::vector<std::string> lines = linesOf(run.out);
  ASSERT_EQ(lines.size(), kCount);
  for (std::size_t index = 0; index < kCount; ++index) {
    const Json result = Json::parse(lines[index]);
    const bool fp = index % 9 == 0 || index % 3 != 0;
    ASSERT_EQ(result["detection"], (fp ? "Adware.Toolbar.S" : "Worm.Generic.") + std::to_string(index))
        << "result " << index << " out of order";
    EXPECT_EQ(result["falsePositive"], fp) << index;
  }
}

// With --unordered each result names its line: blank lines count, CR LF
// ends a line, a line that is no request and one too long to hold get their
// NotChecked result under their own number.
TEST_F(FpcheckBatch, UnorderedResultsNameTheirInputLine) {
  std::string crlf = request(5);
  crlf.insert(crlf.size() - 1, "\r");
  const std::string input = request(1) + "\n" + "   \n" + request(4, false) + crlf +
                            "not json\n" + std::string(1024 * 1024 + 1, 'x') + "\n" + "\t\n" +
                            request(9);
  // The last line without a line end.
  const ProgramRun run = runProgram(fpcheckProgram(), batch({"--jobs", "3", "--unordered"}),
                                    withInput(input.substr(0, input.size() - 1)));
  EXPECT_EQ(run.exitCode, 1) << run.err;
  std::map<int, Json> byLine;
  for (const std::string& line : linesOf(run.out)) {
    EXPECT_EQ(line.rfind("{\"line\":", 0), 0u) << "the line number comes first: " << line;
    const Json result = Json::parse(line);
    byLine[result["line"].get<int>()] = result;
  }
  ASSERT_EQ(byLine.size(), 6u) << run.out;
  EXPECT_EQ(byLine[1]["detection"], "Adware.Toolbar.S1");
  EXPECT_EQ(byLine[4]["detection"], "Worm.Generic.4");
  EXPECT_EQ(byLine[4]["falsePositive"], false);
  EXPECT_EQ(byLine[5]["detection"], "Adware.Toolbar.S5");
  EXPECT_EQ(byLine[6]["error"], "request line 6: not a JSON object");
  EXPECT_EQ(byLine[7]["status"], "NotChecked");
  EXPECT_EQ(byLine[7]["error"], "request line 7: longer than 1048576 bytes");
  EXPECT_EQ(byLine[9]["detection"], "Adware.Toolbar.S9");
  EXPECT_TRUE(contains(run.err, "fpcheck: 6 requests, 4 checked, 3 false positives, 2 failed "
                                "(NotChecked: 2), "))
      << run.err;
}

// The reader at the other end goes away (`| head -1`): the batch ends
// though its input stays open. By default a POSIX program dies of SIGPIPE at
// the next write; where that signal is ignored, and on Windows, the failed
// write stops it.
TEST_F(FpcheckBatch, AClosedReaderEndsTheBatch) {
#ifdef _WIN32
  const std::vector<bool> ignoreBrokenPipe = {true};
  const int diedOfBrokenPipe = -1;  // never
#else
  const std::vector<bool> ignoreBrokenPipe = {false, true};
  const int diedOfBrokenPipe = 128 + SIGPIPE;
#endif
  for (const bool ignore : ignoreBrokenPipe) {
    RunningProgram program(fpcheckProgram(), batch({"--jobs", "2"}), {ignore});
    ASSERT_TRUE(program.write(request(0)));
    ASSERT_TRUE(program.readLine(kPatience)) << program.err();
    program.closeOutput();
    // Requests go on arriving until the batch stops reading them.
    std::optional<int> exitCode;
    for (std::size_t index = 1; index < 100000 && !exitCode; ++index) {
      if (!program.write(request(index))) break;
      if (index % 50 == 0) exitCode = program.wait(10ms);
    }
    exitCode = program.wait(kPatience);
    if (ignore) {
      EXPECT_EQ(exitCode, 1) << program.err();
      EXPECT_TRUE(contains(program.err(), " checks per second; stopped: standard output was closed\n"))
          << program.err();
    } else {
      EXPECT_EQ(exitCode, diedOfBrokenPipe) << program.err();
    }
  }
}

#ifndef _WIN32
// An interrupt while the batch waits for more input: the checks started
// finish and are written, no other starts, the instances are released and
// the SDK unloaded, and the summary says how far the batch got.
struct Interrupt {
  int signal;
  const char* name;
  int exitCode;
};

class FpcheckBatchInterrupt : public FpcheckBatch, public ::testing::WithParamInterface<Interrupt> {};

TEST_P(FpcheckBatchInterrupt, FinishesWhatRunsAndSaysItWasInterrupted) {
  RunningProgram program(fpcheckProgram(), batch({"--jobs", "2", "--log-level", "debug"}));
  for (std::size_t index = 1; index <= 3; ++index) {
    ASSERT_TRUE(program.write(request(index)));
    ASSERT_TRUE(program.readLine(kPatience)) << program.err();
  }
  // More requests, slow ones (each reads a large file first), then the
  // signal at once: a few may have started, most cannot have.
  const std::string large = write("large.bin", std::string(4 * 1024 * 1024, 'x'));
  std::string more;
  for (std::size_t index = 4; index <= 200; ++index) more += request(index, true, large);
  ASSERT_TRUE(program.write(more));
  program.sendSignal(GetParam().signal);
  EXPECT_EQ(program.wait(kPatience), GetParam().exitCode) << program.err();
  const std::vector<std::string> rest = linesOf(program.readRest(kPatience));
  const std::size_t done = 3 + rest.size();
  EXPECT_LT(done, 200u) << "checks went on after the interrupt";
  for (std::size_t index = 0; index < rest.size(); ++index) {
    EXPECT_EQ(Json::parse(rest[index])["detection"], "Adware.Toolbar.S" + std::to_string(index + 4));
  }
  const std::string err = program.err();
  const std::string summary = "fpcheck: " + std::to_string(done) + " requests, " +
                              std::to_string(done) + " checked, " + std::to_string(done) +
                              " false positives, 0 failed, ";
  const std::size_t summaryAt = err.find(summary);
  ASSERT_NE(summaryAt, std::string::npos) << err;
  EXPECT_TRUE(contains(err.substr(summaryAt), std::string(" checks per second; interrupted by ") +
                                                  GetParam().name + ": no input line after " +
                                                  std::to_string(done) + " was checked\n"))
      << err;
  // Released and unloaded before the summary.
  const std::string before = err.substr(0, summaryAt);
  const std::regex destroyed("\\[debug\\] Destroying VFPC checker instance\n");
  EXPECT_EQ(std::distance(std::sregex_iterator(before.begin(), before.end(), destroyed),
                          std::sregex_iterator()),
            2)
      << before;
  EXPECT_TRUE(contains(before, "[debug] Unloading VFPC checker\n[debug] [fpcsdk] Uninitialized\n"))
      << before;
}

INSTANTIATE_TEST_SUITE_P(Signals, FpcheckBatchInterrupt,
                         ::testing::Values(Interrupt{SIGINT, "SIGINT", 130},
                                           Interrupt{SIGTERM, "SIGTERM", 143}),
                         [](const auto& info) { return std::string(info.param.name); });
#endif  // Windows has no signals to send; Ctrl-C cannot be sent to a child under Wine's test runs.

}  // namespace
}  // namespace kesp::test
