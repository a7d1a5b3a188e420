// fpcheck's JSON lines, byte for byte: the result line it writes and what it
// reads from a request line, whichever way the line is read.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tools/json_lines.h"

namespace fpcheck {
namespace {

struct ResultCase {
  const char* name;
  CheckResult result;
  std::optional<std::size_t> line;
  const char* text;
};

CheckResult result(std::string path, bool memory, std::optional<bool> falsePositive,
                   std::string status, std::int64_t code, double milliseconds,
                   std::string error = "") {
  CheckResult made;
  made.path = std::move(path);
  made.detection = "Trojan.X";
  made.memory = memory;
  made.falsePositive = falsePositive;
  made.status = std::move(status);
  made.statusCode = code;
  made.milliseconds = milliseconds;
  made.error = std::move(error);
  return made;
}

class ResultLine : public ::testing::TestWithParam<ResultCase> {};

TEST_P(ResultLine, IsTheseBytes) {
  EXPECT_EQ(resultLine(GetParam().result, GetParam().line), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Results, ResultLine,
    ::testing::Values(
        ResultCase{"File", result("/tmp/a.txt", false, true, "Success", 0, 12.3456789), std::nullopt,
                   R"({"path":"/tmp/a.txt","input":"file","detection":"Trojan.X","falsePositive":true,"status":"Success","statusCode":0,"milliseconds":12.346})"},
        ResultCase{"MemoryNumbered", result("m.bin", true, false, "Success", 0, 0.0004), 7,
                   R"({"line":7,"path":"m.bin","input":"memory","detection":"Trojan.X","falsePositive":false,"status":"Success","statusCode":0,"milliseconds":0.0})"},
        ResultCase{"FailedWithEscapes",
                   result("caf\xc3\xa9\xff\x01", false, std::nullopt, "NotChecked", -1, 1234567.8915,
                          "line \"2\":\tbad\\\n"),
                   std::nullopt,
                   "{\"path\":\"caf\xc3\xa9\xef\xbf\xbd\\u0001\",\"input\":\"file\",\"detection\":"
                   "\"Trojan.X\",\"falsePositive\":null,\"status\":\"NotChecked\",\"statusCode\":-1,"
                   "\"milliseconds\":1234567.892,\"error\":\"line \\\"2\\\":\\tbad\\\\\\n\"}"},
        ResultCase{"WithHint", result("a", false, std::nullopt, "TimedOut", 8, 2e-2, "slow"), 1,
                   R"({"line":1,"path":"a","input":"file","detection":"Trojan.X","falsePositive":null,"status":"TimedOut","statusCode":8,"milliseconds":0.02,"error":"slow","hint":"the service did not answer in time: raise --data-timeout (or --connection-timeout), or check the service"})"}),
    [](const auto& info) { return std::string(info.param.name); });

struct RequestCase {
  const char* name;
  const char* line;
  const char* read;  // what was read, or the reason it was refused
};

std::string readOf(const char* line) {
  CheckRequest request;
  std::string reason;
  const bool ok = parseRequestLine(line, request, reason);
  std::string text = (ok ? "" : reason + " / ") + "path=" + request.path +
                     " detection=" + request.detection;
  if (request.hash) text += " hash=" + *request.hash;
  if (request.extra) text += " extra=" + *request.extra;
  if (request.memory) text += " memory";
  if (request.size) text += " size=" + std::to_string(*request.size);
  const std::size_t options = request.bools.size() + request.ints.size() + request.strings.size();
  if (options > 0) text += " options=" + std::to_string(options);
  return text;
}

class RequestLine : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RequestLine, ReadsOrRefuses) { EXPECT_EQ(readOf(GetParam().line), GetParam().read); }

INSTANTIATE_TEST_SUITE_P(
    Requests, RequestLine,
    ::testing::Values(
        RequestCase{"Plain", R"({"path":"a.txt","detection":"T.X","hash":"AB","extra":"","size":50})",
                    "path=a.txt detection=T.X hash=AB extra= size=50"},
        RequestCase{"Spaced", R"( { "memory" : true , "path" : "m" , "detection" : "D" } )",
                    "path=m detection=D memory"},
        RequestCase{"Escaped", R"({"path":"a\"b","detection":"D\u0041"})", "path=a\"b detection=DA"},
        RequestCase{"Options", R"({"path":"p","detection":"d","options":{"k":1,"b":true,"s":"x"}})",
                    "path=p detection=d options=3"},
        RequestCase{"LargestSize", R"({"path":"p","detection":"d","size":18446744073709551615})",
                    "path=p detection=d size=18446744073709551615"},
        RequestCase{"SizeBeyond64Bits", R"({"path":"p","detection":"d","size":18446744073709551616})",
                    "\"size\" must be a whole number of bytes, 0 or more / path=p detection=d"},
        RequestCase{"SizeWithFraction", R"({"path":"p","detection":"d","size":1.0})",
                    "\"size\" must be a whole number of bytes, 0 or more / path=p detection=d"},
        RequestCase{"SizeOfMemory", R"({"path":"p","detection":"d","memory":true,"size":1})",
                    "\"size\" is for file checks; a memory check's size is the file's length / "
                    "path=p detection=d memory size=1"},
        RequestCase{"NoDetection", R"({"path":"p"})", "\"detection\" is missing / path=p detection="},
        RequestCase{"HashNotText", R"({"path":"p","detection":"d","hash":5})",
                    "\"hash\" must be text / path=p detection=d"},
        RequestCase{"Unknown", R"({"path":"p","detection":"d","sha":"x"})",
                    "unknown field \"sha\" (known: path, detection, hash, extra, memory, size, "
                    "options) / path=p detection=d"},
        RequestCase{"TrailingText", R"({"path":"p","detection":"d"} x)",
                    "not a JSON object / path= detection="},
        RequestCase{"NotAnObject", "[]", "a request must be a JSON object / path= detection="}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace fpcheck
