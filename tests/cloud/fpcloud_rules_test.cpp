// fpcloud's rules that need no network, as tables: what a check's body must
// hold, and which requests the fault plan hands which fault.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "reference/cloud/check_body.h"
#include "reference/cloud/fault_plan.h"

namespace fpcloud {
namespace {

using nlohmann::json;

constexpr char kHash[] = "8047240C6B430F443CE9EA191BD18BC8C33AF873CB0B8A0822BE814303D1DB03";
constexpr auto kByName = [](const auto& info) { return std::string(info.param.name); };

struct BodyCase {
  const char* name;
  std::string body;
  std::string outcome;  // "detection|sha256" when accepted, else the reason
};

class CheckBody : public ::testing::TestWithParam<BodyCase> {};

TEST_P(CheckBody, AcceptsTheProtocolsObjectAndNamesWhatIsWrong) {
  const ParsedBody parsed = parseCheckBody(GetParam().body);
  const auto* query = std::get_if<CheckQuery>(&parsed);
  EXPECT_EQ(query ? query->detection + "|" + query->sha256 : std::get<std::string>(parsed),
            GetParam().outcome);
}

// The fields every row but a few needs, with the row's own changes (a null
// leaves the field out).
std::string body(const json& changes) {
  json fields = {{"detection", "A"}, {"size", 1}, {"input", "file"}, {"host", "h"}};
  fields.merge_patch(changes);
  return fields.dump();
}

INSTANTIATE_TEST_SUITE_P(Bodies, CheckBody, ::testing::ValuesIn(std::vector<BodyCase>{
    {"Minimal", R"({"detection":"Adware.X","size":0,"input":"memory","host":""})", "Adware.X|"},
    {"EveryField", body({{"sha256", kHash}, {"extra", "e"}, {"options", {{"b", true}, {"i", -3}, {"s", "t"}}}}),
     "A|" + std::string(kHash)},
    {"Empty", "", "the body is not JSON"},
    {"NotJson", R"({"detection":)", "the body is not JSON"},
    {"NotAnObject", "[1]", "the body must be a JSON object"},
    {"NoDetection", body({{"detection", nullptr}}), R"(the field "detection" is missing)"},
    {"EmptyDetection", body({{"detection", ""}}), R"(the field "detection" must be a non-empty string)"},
    {"NumberDetection", body({{"detection", 5}}), R"(the field "detection" must be a non-empty string)"},
    {"NoSize", body({{"size", nullptr}}), R"(the field "size" is missing)"},
    {"NegativeSize", body({{"size", -1}}), R"(the field "size" must be a non-negative integer)"},
    {"FractionalSize", body({{"size", 1.5}}), R"(the field "size" must be a non-negative integer)"},
    {"NoInput", body({{"input", nullptr}}), R"(the field "input" is missing)"},
    {"OtherInput", body({{"input", "disk"}}), R"(the field "input" must be "file" or "memory")"},
    {"NoHost", body({{"host", nullptr}}), R"(the field "host" is missing)"},
    {"NumberHost", body({{"host", 1}}), R"(the field "host" must be a string)"},
    {"ShortHash", body({{"sha256", "abc"}}), R"(the field "sha256" must be 64 hexadecimal digits)"},
    {"NumberHash", body({{"sha256", 1}}), R"(the field "sha256" must be 64 hexadecimal digits)"},
    {"NumberExtra", body({{"extra", 1}}), R"(the field "extra" must be a string)"},
    {"ListOptions", body({{"options", json::array()}}), R"(the field "options" must be an object)"},
    {"ListOption", body({{"options", {{"x", json::array({1})}}}}),
     R"(the option "x" must be a bool, an integer or a string)"},
    {"FractionalOption", body({{"options", {{"x", 1.5}}}}),
     R"(the option "x" must be a bool, an integer or a string)"}}),
    kByName);

struct PlanCase {
  const char* name;
  FaultSettings settings;
  int requests;
  // One letter a request ('-' none, 'D' delay, 'S' status, 'X' drop) where
  // the plan is exact; empty where a share draws.
  std::string sequence;
  int fewestFaulted = 0;
  int mostFaulted = 0;
};

FaultSettings faults(unsigned delayMs, std::optional<int> status, bool drop, double share = 1.0,
                     std::optional<std::uint64_t> count = std::nullopt, bool mix = false) {
  return {delayMs, status, "", drop, share, count, mix, 7};
}

// The plan's letters, and whether no request got more than one fault.
std::pair<std::string, bool> run(const FaultSettings& settings, int requests) {
  FaultPlan plan(settings);
  std::string letters;
  bool oneFaultEach = true;
  for (int request = 0; request < requests; ++request) {
    const Fault fault = plan.next();
    oneFaultEach = oneFaultEach && (fault.delayMs > 0) + fault.status.has_value() + fault.drop <= 1;
    const std::string name = fault.any() ? fault.name() : "";
    letters += name.empty() ? '-' : name == "drop" ? 'X' : name == "status" ? 'S' : 'D';
  }
  return {letters, oneFaultEach};
}

class FaultPlanRows : public ::testing::TestWithParam<PlanCase> {};

TEST_P(FaultPlanRows, HandsOutTheFaultsItWasGivenAndRepeatsForTheSameSeed) {
  const PlanCase& c = GetParam();
  const auto [letters, oneFaultEach] = run(c.settings, c.requests);
  if (!c.sequence.empty()) {
    EXPECT_EQ(letters, c.sequence);
  } else {
    const int faulted = c.requests - static_cast<int>(std::ranges::count(letters, '-'));
    EXPECT_GE(faulted, c.fewestFaulted) << letters;
    EXPECT_LE(faulted, c.mostFaulted) << letters;
  }
  if (c.settings.mix) {
    EXPECT_TRUE(oneFaultEach) << "a mixed plan gives each request one fault";
    EXPECT_NE(letters.find('S'), std::string::npos) << letters;
    EXPECT_NE(letters.find('X'), std::string::npos) << letters;
  }
  EXPECT_EQ(run(c.settings, c.requests).first, letters) << "the same seed, the same plan";
}

INSTANTIATE_TEST_SUITE_P(Plans, FaultPlanRows, ::testing::ValuesIn(std::vector<PlanCase>{
    {"NoFault", faults(0, std::nullopt, false), 4, "----"},
    {"DelayEach", faults(300, std::nullopt, false), 4, "DDDD"},
    {"StatusToTheFirstTwo", faults(0, 503, false, 1.0, 2), 5, "SS---"},
    {"StatusNamesADelayedAnswer", faults(300, 503, false), 3, "SSS"},
    {"DropDecidesOverStatus", faults(0, 503, true), 3, "XXX"},
    {"AQuarterShare", faults(0, 503, false, 0.25), 400, "", 60, 140},
    {"AShareOfTheFirstTen", faults(0, 503, false, 0.5, 10), 40, "", 1, 9},
    {"MixedOneAtATime", faults(0, 503, true, 1.0, std::nullopt, true), 60, "", 60, 60}}),
    kByName);

}  // namespace
}  // namespace fpcloud
