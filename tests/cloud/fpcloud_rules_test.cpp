// fpcloud's rules that need no network, as tables: what a check's body must
// hold, and which requests the fault plan hands which fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "reference/cloud/check_body.h"
#include "reference/cloud/fault_plan.h"

namespace fpcloud {
namespace {

constexpr char kHash[] = "8047240C6B430F443CE9EA191BD18BC8C33AF873CB0B8A0822BE814303D1DB03";

struct BodyCase {
  const char* name;
  std::string body;
  std::string outcome;  // "detection|sha256" when accepted, else the reason
};

void PrintTo(const BodyCase& c, std::ostream* out) { *out << c.name; }

class CheckBody : public ::testing::TestWithParam<BodyCase> {};

TEST_P(CheckBody, AcceptsTheProtocolsObjectAndNamesWhatIsWrong) {
  const ParsedBody parsed = parseCheckBody(GetParam().body);
  const auto* query = std::get_if<CheckQuery>(&parsed);
  const std::string outcome =
      query != nullptr ? query->detection + "|" + query->sha256 : std::get<std::string>(parsed);
  EXPECT_EQ(outcome, GetParam().outcome);
}

// The fields every row but one needs, and a row's own after them.
std::string body(const std::string& fields) {
  return R"({"detection":"A","size":1,"input":"file","host":"h")" + fields + "}";
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, CheckBody,
    ::testing::Values(
        BodyCase{"Minimal", R"({"detection":"Adware.X","size":0,"input":"memory","host":""})",
                 "Adware.X|"},
        BodyCase{"EveryField",
                 body(R"(,"sha256":")" + std::string(kHash) +
                      R"(","extra":"e","options":{"b":true,"i":-3,"s":"t"})"),
                 "A|" + std::string(kHash)},
        BodyCase{"Empty", "", "the body is not JSON"},
        BodyCase{"NotJson", R"({"detection":)", "the body is not JSON"},
        BodyCase{"NotAnObject", "[1]", "the body must be a JSON object"},
        BodyCase{"NoDetection", R"({"size":1,"input":"file","host":"h"})",
                 R"(the field "detection" is missing)"},
        BodyCase{"EmptyDetection", R"({"detection":"","size":1,"input":"file","host":"h"})",
                 R"(the field "detection" must be a non-empty string)"},
        BodyCase{"NumberDetection", R"({"detection":5,"size":1,"input":"file","host":"h"})",
                 R"(the field "detection" must be a non-empty string)"},
        BodyCase{"NoSize", R"({"detection":"A","input":"file","host":"h"})",
                 R"(the field "size" is missing)"},
        BodyCase{"NegativeSize", R"({"detection":"A","size":-1,"input":"file","host":"h"})",
                 R"(the field "size" must be a non-negative integer)"},
        BodyCase{"FractionalSize", R"({"detection":"A","size":1.5,"input":"file","host":"h"})",
                 R"(the field "size" must be a non-negative integer)"},
        BodyCase{"NoInput", R"({"detection":"A","size":1,"host":"h"})",
                 R"(the field "input" is missing)"},
        BodyCase{"OtherInput", R"({"detection":"A","size":1,"input":"disk","host":"h"})",
                 R"(the field "input" must be "file" or "memory")"},
        BodyCase{"NoHost", R"({"detection":"A","size":1,"input":"file"})",
                 R"(the field "host" is missing)"},
        BodyCase{"NumberHost", R"({"detection":"A","size":1,"input":"file","host":1})",
                 R"(the field "host" must be a string)"},
        BodyCase{"ShortHash", body(R"(,"sha256":"abc")"),
                 R"(the field "sha256" must be 64 hexadecimal digits)"},
        BodyCase{"NumberHash", body(R"(,"sha256":1)"),
                 R"(the field "sha256" must be 64 hexadecimal digits)"},
        BodyCase{"NumberExtra", body(R"(,"extra":1)"), R"(the field "extra" must be a string)"},
        BodyCase{"ListOptions", body(R"(,"options":[])"),
                 R"(the field "options" must be an object)"},
        BodyCase{"ListOption", body(R"(,"options":{"x":[1]})"),
                 R"(the option "x" must be a bool, an integer or a string)"},
        BodyCase{"FractionalOption", body(R"(,"options":{"x":1.5})"),
                 R"(the option "x" must be a bool, an integer or a string)"}),
    [](const auto& info) { return std::string(info.param.name); });

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

void PrintTo(const PlanCase& c, std::ostream* out) { *out << c.name; }

FaultSettings faults(unsigned delayMs, std::optional<int> status, bool drop, double share = 1.0,
                     std::optional<std::uint64_t> count = std::nullopt, bool mix = false) {
  FaultSettings settings;
  settings.delayMs = delayMs;
  settings.status = status;
  settings.drop = drop;
  settings.share = share;
  settings.count = count;
  settings.mix = mix;
  settings.seed = 7;
  return settings;
}

char letterOf(const Fault& fault) {
  if (!fault.any()) return '-';
  const std::string name = fault.name();
  return name == "drop" ? 'X' : name == "status" ? 'S' : 'D';
}

std::string run(const FaultSettings& settings, int requests, bool& oneFaultEach) {
  FaultPlan plan(settings);
  std::string letters;
  oneFaultEach = true;
  for (int request = 0; request < requests; ++request) {
    const Fault fault = plan.next();
    const int faults = (fault.delayMs > 0) + fault.status.has_value() + fault.drop;
    oneFaultEach = oneFaultEach && faults <= 1;
    letters += letterOf(fault);
  }
  return letters;
}

class FaultPlanRows : public ::testing::TestWithParam<PlanCase> {};

TEST_P(FaultPlanRows, HandsOutTheFaultsItWasGivenAndRepeatsForTheSameSeed) {
  const PlanCase& c = GetParam();
  bool oneFaultEach = false;
  const std::string letters = run(c.settings, c.requests, oneFaultEach);
  if (!c.sequence.empty()) {
    EXPECT_EQ(letters, c.sequence);
  } else {
    const int faulted =
        c.requests - static_cast<int>(std::count(letters.begin(), letters.end(), '-'));
    EXPECT_GE(faulted, c.fewestFaulted) << letters;
    EXPECT_LE(faulted, c.mostFaulted) << letters;
  }
  if (c.settings.mix) {
    EXPECT_TRUE(oneFaultEach) << "a mixed plan gives each request one fault";
    EXPECT_NE(letters.find('S'), std::string::npos) << letters;
    EXPECT_NE(letters.find('X'), std::string::npos) << letters;
  }
  bool ignored = false;
  EXPECT_EQ(run(c.settings, c.requests, ignored), letters) << "the same seed, the same plan";
}

INSTANTIATE_TEST_SUITE_P(
    Plans, FaultPlanRows,
    ::testing::Values(
        PlanCase{"NoFault", faults(0, std::nullopt, false), 4, "----"},
        PlanCase{"DelayEach", faults(300, std::nullopt, false), 4, "DDDD"},
        PlanCase{"StatusToTheFirstTwo", faults(0, 503, false, 1.0, 2), 5, "SS---"},
        PlanCase{"StatusNamesADelayedAnswer", faults(300, 503, false), 3, "SSS"},
        PlanCase{"DropDecidesOverStatus", faults(0, 503, true), 3, "XXX"},
        PlanCase{"AQuarterShare", faults(0, 503, false, 0.25), 400, "", 60, 140},
        PlanCase{"AShareOfTheFirstTen", faults(0, 503, false, 0.5, 10), 40, "", 1, 9},
        PlanCase{"MixedOneAtATime", faults(0, 503, true, 1.0, std::nullopt, true), 60, "", 60, 60}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace fpcloud
