// The rules file format of the reference SDK and how rules decide.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "reference/rules/rules.h"

namespace kesp::test {
namespace {

using vfpcsdk::matchesPattern;
using vfpcsdk::ParsedRules;
using vfpcsdk::RuleSet;

constexpr char kHash[] = "8047240c6b430f443ce9ea191bd18bc8c33af873cb0b8a0822be814303d1db03";
constexpr char kOtherHash[] = "52ca50f84b0bc3f5189f792e356e7275f0eb8992bd12ab13bae81b38ec9ec6a8";

ParsedRules parse(const std::string& text) {
  std::istringstream stream(text);
  return vfpcsdk::parseRules(stream);
}

std::vector<std::string> errorsOf(const ParsedRules& parsed) {
  std::vector<std::string> errors;
  for (const auto& error : parsed.errors) {
    errors.push_back(std::to_string(error.line) + ": " + error.reason);
  }
  return errors;
}

TEST(RulesFile, ReadsVerdictPatternAndOptionalHash) {
  const ParsedRules parsed = parse(std::string("fp Trojan.A ") + kHash + "\ntp Worm.*\n");
  ASSERT_EQ(parsed.errors.size(), 0u);
  ASSERT_EQ(parsed.rules.size(), 2u);
  EXPECT_TRUE(parsed.rules[0].falsePositive);
  EXPECT_EQ(parsed.rules[0].pattern, "Trojan.A");
  EXPECT_EQ(parsed.rules[0].hash, kHash);
  EXPECT_EQ(parsed.rules[0].line, 1u);
  EXPECT_FALSE(parsed.rules[1].falsePositive);
  EXPECT_EQ(parsed.rules[1].pattern, "Worm.*");
  EXPECT_EQ(parsed.rules[1].hash, "");
  EXPECT_EQ(parsed.rules[1].line, 2u);
}

TEST(RulesFile, SkipsCommentsAndBlankLinesAndCountsEveryLine) {
  const ParsedRules parsed = parse("# heading\n\n   \t\nfp A  # why\n  # indented comment\ntp B\n");
  ASSERT_EQ(parsed.errors.size(), 0u);
  ASSERT_EQ(parsed.rules.size(), 2u);
  EXPECT_EQ(parsed.rules[0].line, 4u);
  EXPECT_EQ(parsed.rules[1].line, 6u);
}

TEST(RulesFile, TakesTabsWindowsLineEndsAndAByteOrderMark) {
  const ParsedRules parsed = parse("\xEF\xBB\xBF" "fp\tA\r\ntp\t\tB\r\n");
  ASSERT_EQ(parsed.errors.size(), 0u);
  ASSERT_EQ(parsed.rules.size(), 2u);
  EXPECT_EQ(parsed.rules[0].pattern, "A");
  EXPECT_EQ(parsed.rules[1].pattern, "B");
}

TEST(RulesFile, StoresTheHashInLowerCase) {
  std::string upper = kHash;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const ParsedRules parsed = parse("fp A " + upper + "\n");
  ASSERT_EQ(parsed.rules.size(), 1u);
  EXPECT_EQ(parsed.rules[0].hash, kHash);
}

TEST(RulesFile, ReportsEveryBadLineWithItsNumberAndReason) {
  const ParsedRules parsed =
      parse("fp\nmaybe A\nfp A 1234\nfp A " + std::string(kHash) + " extra\nfp Good\nFP A\n");
  EXPECT_EQ(errorsOf(parsed),
            (std::vector<std::string>{
                "1: a rule needs a verdict and a detection name: '<fp|tp> <detection> [<sha-256>]'",
                "2: the verdict 'maybe' is neither fp nor tp",
                "3: '1234' is not a SHA-256 (64 hexadecimal digits)",
                "4: too many fields: '<fp|tp> <detection> [<sha-256>]' (a detection name holds "
                "no spaces)",
                "6: the verdict 'FP' is neither fp nor tp",
            }));
  ASSERT_EQ(parsed.rules.size(), 1u);
  EXPECT_EQ(parsed.rules[0].pattern, "Good");
}

TEST(RulesFile, AnEmptyFileHoldsNoRule) {
  const ParsedRules parsed = parse("");
  EXPECT_TRUE(parsed.rules.empty());
  EXPECT_TRUE(parsed.errors.empty());
}

TEST(RulePattern, MatchesExactNamesOnlyWithoutAStar) {
  EXPECT_TRUE(matchesPattern("Trojan.A", "Trojan.A"));
  EXPECT_FALSE(matchesPattern("Trojan.A", "Trojan.AB"));
  EXPECT_FALSE(matchesPattern("Trojan.A", "trojan.a")) << "case matters";
  EXPECT_FALSE(matchesPattern("Trojan.A", ""));
}

TEST(RulePattern, StarStandsForAnyRunOfCharacters) {
  EXPECT_TRUE(matchesPattern("*", ""));
  EXPECT_TRUE(matchesPattern("*", "anything at all"));
  EXPECT_TRUE(matchesPattern("Adware.*", "Adware."));
  EXPECT_TRUE(matchesPattern("Adware.*", "Adware.Toolbar.X"));
  EXPECT_FALSE(matchesPattern("Adware.*", "Adware"));
  EXPECT_TRUE(matchesPattern("*.Generic", "Trojan.Win32.Generic"));
  EXPECT_TRUE(matchesPattern("Trojan.*.Generic", "Trojan.Win32.Generic"));
  EXPECT_FALSE(matchesPattern("Trojan.*.Generic", "Trojan.Generic"));
  EXPECT_TRUE(matchesPattern("a*b*c", "aXbYbZc"));
  EXPECT_FALSE(matchesPattern("a*b*c", "aXbYbZ"));
  EXPECT_TRUE(matchesPattern("**", "x"));
}

TEST(RulePattern, LongNamesStayFast) {
  const std::string name(20000, 'a');
  EXPECT_FALSE(matchesPattern("*a*a*a*a*a*a*a*b", name));
  EXPECT_TRUE(matchesPattern("*a*a*a*a*a*a*a*a", name));
}

TEST(RuleSet, TheFirstRuleThatAppliesDecides) {
  ParsedRules parsed = parse("tp Adware.Toolbar.Dropper\nfp Adware.Toolbar.*\nfp *\n");
  const RuleSet rules(std::move(parsed.rules));
  ASSERT_NE(rules.find("Adware.Toolbar.Dropper", ""), nullptr);
  EXPECT_EQ(rules.find("Adware.Toolbar.Dropper", "")->line, 1u);
  EXPECT_EQ(rules.find("Adware.Toolbar.Search", "")->line, 2u);
  EXPECT_EQ(rules.find("Worm", "")->line, 3u);
}

TEST(RuleSet, AHashRuleAppliesOnlyToThatHashInEitherCase) {
  ParsedRules parsed = parse(std::string("fp Trojan.A ") + kHash + "\ntp Trojan.A\n");
  const RuleSet rules(std::move(parsed.rules));
  std::string upper = kHash;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(rules.find("Trojan.A", kHash)->line, 1u);
  EXPECT_EQ(rules.find("Trojan.A", upper)->line, 1u);
  EXPECT_EQ(rules.find("Trojan.A", kOtherHash)->line, 2u);
  EXPECT_EQ(rules.find("Trojan.A", "")->line, 2u) << "a check without a hash skips hash rules";
  EXPECT_EQ(rules.find("Trojan.B", kHash), nullptr);
}

TEST(Sha256Text, Is64HexadecimalDigits) {
  EXPECT_TRUE(vfpcsdk::isSha256(kHash));
  EXPECT_TRUE(vfpcsdk::isSha256(std::string(64, 'F')));
  EXPECT_FALSE(vfpcsdk::isSha256(std::string(63, 'a')));
  EXPECT_FALSE(vfpcsdk::isSha256(std::string(65, 'a')));
  EXPECT_FALSE(vfpcsdk::isSha256(std::string(63, 'a') + "g"));
  EXPECT_FALSE(vfpcsdk::isSha256(""));
}

}  // namespace
}  // namespace kesp::test
