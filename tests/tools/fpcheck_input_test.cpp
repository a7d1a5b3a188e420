// What fpcheck reads besides its own request lines: scanners' reports
// (their line formats, and the real clamscan and yara piped into it), the
// files it hashes and the memory inputs it reads, which must be regular
// files and, for memory, not too large.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/tools/fpcheck_program.h"
#include "tests/tools/reference_sdk_directory.h"
#include "tools/report_formats.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <openssl/evp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace kesp::test {
namespace {

using fpcheck::CheckRequest;
using fpcheck::LineKind;
using enum LineKind;

// --- the report formats -------------------------------------------------------

struct LineCase {
  const char* line;
  LineKind kind;
  const char* path;       // for a request
  const char* detection;  // for a request; for a skipped line, its kind
};

void expectParsed(LineKind (*parse)(std::string_view, CheckRequest&, std::string&),
                  const LineCase& expected) {
  CheckRequest request;
  std::string reason;
  ASSERT_EQ(parse(expected.line, request, reason), expected.kind) << expected.line;
  if (expected.kind == Request) {
    EXPECT_EQ(request.path, expected.path);
    EXPECT_EQ(request.detection, expected.detection);
  } else {
    EXPECT_EQ(reason, expected.detection);
  }
}

class ClamscanLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(ClamscanLine, IsReadAsPrinted) { expectParsed(&fpcheck::parseClamscanLine, GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Lines, ClamscanLine,
    ::testing::Values(
        LineCase{"/srv/a b/x.exe: Win.Test.EICAR_HDB-1 FOUND", Request, "/srv/a b/x.exe",
                 "Win.Test.EICAR_HDB-1"},
        // The last ": " before the name: the path keeps its own.
        LineCase{"/srv/note: read me: now.txt: Test.Sig.UNOFFICIAL FOUND", Request,
                 "/srv/note: read me: now.txt", "Test.Sig.UNOFFICIAL"},
        LineCase{"C:\\Users\\zoë\\a.dll: Win.Trojan.Agent-1 FOUND", Request,
                 "C:\\Users\\zoë\\a.dll", "Win.Trojan.Agent-1"},
        LineCase{"/srv/x:: Test.Sig FOUND", Request, "/srv/x:", "Test.Sig"},
        LineCase{"/srv/clean.txt: OK", Skipped, "", "OK"},
        LineCase{"/srv/empty: Empty file", Skipped, "", "empty file"},
        LineCase{"/srv/gone: lstat() failed: No such file or directory. ERROR", Skipped, "",
                 "error"},
        LineCase{"WARNING: /srv/fifo: Not supported file type", Skipped, "", "warning"},
        LineCase{"LibClamAV Warning: cli_scanxz: decompress file size exceeds limits", Skipped, "",
                 "warning"},
        LineCase{"----------- SCAN SUMMARY -----------", Skipped, "", "summary"},
        LineCase{"Known viruses: 2", Skipped, "", "other"},
        LineCase{"/srv/x: FOUND", Skipped, "", "other"},
        LineCase{": Name FOUND", Skipped, "", "other"}));

class YaraLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(YaraLine, IsReadAsPrinted) { expectParsed(&fpcheck::parseYaraLine, GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Lines, YaraLine,
    ::testing::Values(
        LineCase{"Evil_Hash /srv/a file: with colon.txt", Request, "/srv/a file: with colon.txt",
                 "Evil_Hash"},
        LineCase{"default:Evil_Hash /srv/x", Request, "/srv/x", "default:Evil_Hash"},
        // -g and -m: the metadata's quoted text holds brackets, spaces and
        // escaped quotes.
        LineCase{R"(Body [tagA,tagB] [author="QA \"team\" [x], y",score=7,ok=true] /srv/zé ü.bin)",
                 Request, "/srv/zé ü.bin", "Body"},
        LineCase{"Body [] [] /srv/x", Request, "/srv/x", "Body"},
        LineCase{"Body [tag] /srv/x", Request, "/srv/x", "Body"},
        LineCase{"0x3:$m: BODYMARKER", Skipped, "", "string match"},
        LineCase{"error scanning /srv/gone: could not open file", Skipped, "", "error"},
        LineCase{"warning: rule \"Slow\" in r.yar(3): string \"$a\" may slow down scanning",
                 Skipped, "", "warning"},
        LineCase{"Body", Skipped, "", "other"},
        LineCase{"9lives /srv/x", Skipped, "", "other"},
        LineCase{"/srv/x: 2", Skipped, "", "other"}));

// --- fpcheck on files it reads itself ----------------------------------------------

// The SHA-256 that coreutils' sha256sum gives, as the reference (under Wine,
// the Linux program itself).
std::string sha256sum(const std::string& directory, const std::string& name) {
  TempDir scratch;
  ChildProcess child({.program = "sha256sum",
                      .arguments = {name},
                      .output = ChildStream::file(scratch.file("out")),
                      .error = ChildStream::output(),
                      .workingDirectory = directory,
                      .linuxProgram = true});
  EXPECT_EQ(child.wait(std::chrono::seconds(20)), 0);
  std::ifstream out(fromUtf8(scratch.file("out")), std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(out), std::istreambuf_iterator<char>()};
  EXPECT_GE(text.size(), 64u) << "sha256sum " << name << ": " << text;
  return text.substr(0, 64);
}

const char kNotRegular[] = ", not a regular file, and only regular files are read";

class FpcheckInput : public FpcheckFiles {
 protected:
  // A file of size bytes that holds only a hole, taking no disk space.
  std::string sparse(const std::string& name, std::uintmax_t size) {
    const std::string path = write(name, "");
    std::filesystem::resize_file(fromUtf8(path), size);
    return path;
  }

  // The rules of the reference SDK; default: nothing is a false positive.
  void rules(const std::string& text) { sdk.emplace(text); }

  ProgramRun run(std::vector<std::string> arguments, const std::string& input = "") {
    if (!sdk) rules("tp *\n");
    arguments.insert(arguments.begin() + 1, {"--sdk-dir", sdk->directory()});
    return runProgram(fpcheckProgram(), arguments, withInput(input));
  }

  // The one result line of a check of path.
  Json checkOne(std::vector<std::string> flags, const std::string& path) {
    flags.insert(flags.begin(), {"check", "--detection", "Det"});
    flags.push_back(path);
    const ProgramRun result = run(flags);
    const std::vector<Json> lines = jsonLines(result.out);
    EXPECT_EQ(lines.size(), 1u) << result.out << result.err;
    EXPECT_EQ(result.exitCode, lines.empty() || lines[0]["status"] != "Success" ? 1 : 0);
    return lines.empty() ? Json() : lines[0];
  }

  std::optional<ReferenceSdkCopy> sdk;
};

void expectNotChecked(const Json& line, const std::string& error) {
  expectFields(line, {{"status", "NotChecked"}, {"falsePositive", nullptr}, {"error", error}});
}

// Each file is checked with a detection of its own whose rule holds the
// reference hash: only a check that carries that hash is a false positive.
TEST_F(FpcheckInput, HashFilesSendsEachFilesSha256) {
  std::mt19937 random(19);
  std::string noise(3 * (std::size_t{1} << 20) + 7, '\0');
  for (char& byte : noise) byte = static_cast<char>(random());
  const std::vector<std::pair<std::string, std::string>> contents = {
      {"empty", ""},
      {"one byte", "x"},
      {"a block.bin", noise.substr(0, std::size_t{1} << 20)},
      {"a block and one.bin", noise.substr(0, (std::size_t{1} << 20) + 1)},
      {"zoë: noise.bin", noise},
  };
  std::string ruleText;
  std::string requests;
  for (std::size_t index = 0; index < contents.size(); ++index) {
    const std::string path = write(contents[index].first, contents[index].second);
    const std::string detection = "Det." + std::to_string(index);
    ruleText += "fp " + detection + " " + sha256sum(files.utf8Path(), contents[index].first) + "\n";
    requests += Json{{"path", path}, {"detection", detection}}.dump() + "\n";
  }
  // A hash given in the request wins over the file's.
  const std::string otherHash(64, 'a');
  requests += Json{{"path", files.file("one byte")}, {"detection", "Det.1"}, {"hash", otherHash}}
                  .dump() +
              "\n";
  rules(ruleText);

  const ProgramRun hashed = run({"batch", "--hash-files", "--jobs", "2"}, requests);
  EXPECT_EQ(hashed.exitCode, 0) << hashed.err;
  const std::vector<Json> lines = jsonLines(hashed.out);
  ASSERT_EQ(lines.size(), contents.size() + 1);
  for (std::size_t index = 0; index < contents.size(); ++index) {
    EXPECT_EQ(lines[index]["falsePositive"], true) << lines[index];
  }
  EXPECT_EQ(lines.back()["falsePositive"], false);

  const ProgramRun plain = run({"batch"}, requests);
  for (const Json& line : jsonLines(plain.out)) EXPECT_EQ(line["falsePositive"], false) << line;

  const std::string noisy = files.file("zoë: noise.bin");
  EXPECT_EQ(checkOne({"--hash-files"}, noisy)["falsePositive"], false)
      << "detection Det has no rule of that hash";
  rules("fp Det " + sha256sum(files.utf8Path(), "zoë: noise.bin") + "\n");
  EXPECT_EQ(checkOne({"--hash-files"}, noisy)["falsePositive"], true);
  EXPECT_EQ(checkOne({"--hash-files", "--memory"}, noisy)["falsePositive"], true);
  EXPECT_EQ(checkOne({"--hash-files", "--hash", otherHash}, noisy)["falsePositive"], false);
}

TEST_F(FpcheckInput, AFileThatCannotBeHashedIsNotChecked) {
  const std::string missing = files.file("missing.txt");
  expectNotChecked(checkOne({"--hash-files"}, missing),
                   "cannot hash '" + missing + "': it does not exist");
  expectNotChecked(checkOne({"--hash-files"}, files.utf8Path()),
                   "cannot hash '" + files.utf8Path() + "': it is a directory" + kNotRegular);
}

TEST_F(FpcheckInput, AMemoryInputIsReadUpToTheLimit) {
  const std::string path = sparse("large.bin", (std::uintmax_t{64} << 20) + 1);
  expectNotChecked(checkOne({"--memory"}, path),
                   "cannot read '" + path +
                       "' into memory: it is 67108865 bytes, more than the limit of 67108864 "
                       "bytes (--max-memory-bytes)");
  expectNotChecked(checkOne({"--memory", "--max-memory-bytes", "3"}, write("four", "four")),
                   "cannot read '" + files.file("four") +
                       "' into memory: it is 4 bytes, more than the limit of 3 bytes "
                       "(--max-memory-bytes)");
  EXPECT_EQ(checkOne({"--memory", "--max-memory-bytes", "4"}, files.file("four"))["status"],
            "Success");
  const ProgramRun batch =
      run({"batch", "--max-memory-bytes", "67108865"},
          Json{{"path", path}, {"detection", "Det"}, {"memory", true}}.dump() + "\n");
  ASSERT_EQ(jsonLines(batch.out).size(), 1u) << batch.err;
  EXPECT_EQ(jsonLines(batch.out)[0]["status"], "Success");
}

#ifdef _WIN32

// A pipe server waits for a client that never reads or writes.
TEST_F(FpcheckInput, APipeOrDeviceIsNeitherReadNorHashed) {
  const std::string pipe = "\\\\.\\pipe\\fpcheck-input-" + std::to_string(::GetCurrentProcessId());
  const HANDLE server = ::CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE,
                                           PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  expectNotChecked(checkOne({"--memory"}, pipe),
                   "cannot read '" + pipe + "' into memory: it is a FIFO or pipe" + kNotRegular);
  ::CloseHandle(server);
  expectNotChecked(checkOne({"--hash-files"}, "NUL"),
                   "cannot hash 'NUL': it is a device" + std::string(kNotRegular));
}

#else

// A digest in lower-case hexadecimal, as sha256sum and clamscan's hash
// signatures write it.
std::string hex(std::span<const unsigned char> digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const unsigned char byte : digest) text += {kDigits[byte >> 4], kDigits[byte & 15]};
  return text;
}

// Run under timeout(1): a read that waited would fail the test within
// seconds instead of hanging it.
TEST_F(FpcheckInput, AFifoOrDeviceIsNeitherReadNorHashed) {
  const std::string fifo = files.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string requests;
  for (const std::string& path : {fifo, std::string("/dev/zero")}) {
    requests += Json{{"path", path}, {"detection", "Det"}, {"memory", true}}.dump() + "\n";
    requests += Json{{"path", path}, {"detection", "Det"}}.dump() + "\n";
  }
  rules("tp *\n");
  const ProgramRun result = runProgram(
      "/usr/bin/timeout",
      {"10", fpcheckProgram(), "batch", "--sdk-dir", sdk->directory(), "--hash-files"},
      withInput(requests));
  EXPECT_EQ(result.exitCode, 1) << result.err;
  const std::vector<Json> lines = jsonLines(result.out);
  ASSERT_EQ(lines.size(), 4u) << result.err;
  expectNotChecked(lines[0], "cannot read '" + fifo + "' into memory: it is a FIFO or pipe" +
                                 kNotRegular);
  expectNotChecked(lines[1], "cannot hash '" + fifo + "': it is a FIFO or pipe" + kNotRegular);
  expectNotChecked(lines[2],
                   "cannot read '/dev/zero' into memory: it is a device" + std::string(kNotRegular));
  expectNotChecked(lines[3], "cannot hash '/dev/zero': it is a device" + std::string(kNotRegular));
}

// 4 GiB and one byte: past 32-bit sizes. The reference is the same bytes
// hashed in memory by libcrypto directly, sha256sum taking half a minute.
TEST_F(FpcheckInput, AFileOfFourGibibytesIsHashedInBoundedMemory) {
  constexpr std::uint64_t kSize = (std::uint64_t{4} << 30) + 1;
  const std::string path = sparse("big.bin", kSize - 1);
  std::ofstream(fromUtf8(path), std::ios::binary | std::ios::app) << 'z';
  ASSERT_EQ(std::filesystem::file_size(fromUtf8(path)), kSize);

  EVP_MD_CTX* context = EVP_MD_CTX_new();
  ASSERT_EQ(EVP_DigestInit_ex(context, EVP_sha256(), nullptr), 1);
  const std::vector<unsigned char> zeros(std::size_t{16} << 20);
  for (std::uint64_t done = 0; done < kSize - 1; done += zeros.size()) {
    EVP_DigestUpdate(context, zeros.data(), std::min<std::uint64_t>(zeros.size(), kSize - 1 - done));
  }
  EVP_DigestUpdate(context, "z", 1);
  unsigned char digest[32];
  unsigned int length = 0;
  EVP_DigestFinal_ex(context, digest, &length);
  EVP_MD_CTX_free(context);

  rules("fp Det " + hex(digest) + "\n");
  EXPECT_EQ(checkOne({"--hash-files"}, path)["falsePositive"], true);
  // The largest child this test program waited for, fpcheck among them:
  // one of them read 64 MiB into memory, which ThreadSanitizer's shadow
  // makes several times as much, but a file read whole would be 4 GiB.
  rusage usage{};
  ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &usage), 0);
  EXPECT_LT(usage.ru_maxrss, 1024 * 1024) << "peak resident KiB";
}

// --- the real scanners piped into fpcheck --------------------------------------

class ScannerPipeline : public FpcheckInput {
 protected:
  ScannerPipeline() {
    std::filesystem::create_directory(fromUtf8(files.file("scan")));
    std::filesystem::create_directory(fromUtf8(files.file("scan/sub: dir")));
    hashed = write("scan/with space: and colon.exe", "dropper payload 2231\n");
    body = write("scan/sub: dir/Ünïcødé ß.dat", "header BODYMARKER-42 trailer\n");
    both = write("scan/both BODYMARKER-42.txt", "xx BODYMARKER-42 dropper payload yy\n");
    write("scan/clean.txt", "nothing here\n");
    write("scan/empty", "");
  }

  // Every line the scanner wrote, standard error after standard output.
  std::string scan(const std::string& program, const std::vector<std::string>& arguments) {
    const ProgramRun run = runProgram(program, arguments);
    EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 1) << program << ": " << run.err;
    return run.out + run.err;
  }

  static Json find(const std::vector<Json>& lines, const std::string& path,
                   const std::string& detection) {
    for (const Json& line : lines) {
      if (line["path"] == path && line["detection"] == detection) return line;
    }
    ADD_FAILURE() << "no result for " << path << " " << detection;
    return Json{{"falsePositive", nullptr}};
  }

  std::string hashed, body, both;
};

TEST_F(ScannerPipeline, ClamscanDetectionsAreChecked) {
  // A hash signature (MD5:size:name) for one file, a body signature for a
  // string: our own database, never a downloaded one.
  const std::string content = "dropper payload 2231\n";
  unsigned char md5[16];
  unsigned int length = 0;
  EVP_Digest(content.data(), content.size(), md5, &length, EVP_md5(), nullptr);
  std::filesystem::create_directory(fromUtf8(files.file("db")));
  write("db/test.hdb", hex(md5) + ":" + std::to_string(content.size()) + ":Test.Dropper.Hash\n");
  write("db/test.ndb", "Test.Body.Marker:0:*:424f44594d41524b45522d3432\n");  // BODYMARKER-42

  const std::string report =
      scan("/usr/bin/clamscan", {"-d", files.file("db"), "-r", "--infected", "--no-summary",
                                 files.file("scan"), files.file("missing")});
  rules("fp Test.Body.Marker.UNOFFICIAL\n"
        "fp Test.Dropper.Hash.UNOFFICIAL " + sha256sum(files.file("scan"), "with space: and colon.exe") +
        "\n");
  const ProgramRun result = run({"batch", "--from", "clamscan", "--hash-files", "--jobs", "2"}, report);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  const std::vector<Json> lines = jsonLines(result.out);
  ASSERT_EQ(lines.size(), 3u) << report;
  EXPECT_EQ(find(lines, hashed, "Test.Dropper.Hash.UNOFFICIAL")["falsePositive"], true);
  EXPECT_EQ(find(lines, body, "Test.Body.Marker.UNOFFICIAL")["falsePositive"], true);
  // Hash signatures go first: the other file is reported by its body.
  EXPECT_EQ(find(lines, both, "Test.Body.Marker.UNOFFICIAL")["falsePositive"], true);
  // The missing path: a line on standard output and a warning.
  EXPECT_EQ(linesOf(result.err).back().rfind(
                "fpcheck: 3 requests, 3 checked, 3 false positives, 0 failed, 2 lines skipped, ", 0),
            0u)
      << result.err;
}

TEST_F(ScannerPipeline, YaraMatchesAreChecked) {
  write("rules.yar", R"(rule Body_Marker : marker {
  meta:
    author = "QA \"team\" [x], y"
  strings:
    $m = "BODYMARKER-42"
  condition:
    $m
}
rule Dropper { strings: $d = "dropper payload" condition: $d }
)");
  const std::string report =
      scan("/usr/bin/yara", {"-r", "-s", "-m", "-g", files.file("rules.yar"), files.file("scan")});
  rules("fp Body_Marker\ntp Dropper\n");
  const ProgramRun result = run({"batch", "--from", "yara"}, report);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  const std::vector<Json> lines = jsonLines(result.out);
  ASSERT_EQ(lines.size(), 4u) << report;
  EXPECT_EQ(find(lines, body, "Body_Marker")["falsePositive"], true);
  EXPECT_EQ(find(lines, both, "Body_Marker")["falsePositive"], true);
  EXPECT_EQ(find(lines, hashed, "Dropper")["falsePositive"], false);
  EXPECT_EQ(find(lines, both, "Dropper")["falsePositive"], false);
  EXPECT_TRUE(linesOf(result.err).back().find(", 4 lines skipped, ") != std::string::npos)
      << result.err;
}

#endif

}  // namespace
}  // namespace kesp::test
