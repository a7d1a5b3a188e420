// What the tests of fpcheck as a child process share: the built program, its
// JSON result lines, and a scratch directory for the files it is given.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "foundation/dynamic_library.h"
#include "tests/support/test_paths.h"
#include "tests/tools/run_program.h"

namespace kesp::test {

using Json = nlohmann::json;

inline std::string fpcheckProgram() {
  return plx::joinPath({executableDirectory(), programFileName("fpcheck")});
}

inline std::vector<Json> jsonLines(const std::string& text) {
  std::vector<Json> lines;
  for (const std::string& line : linesOf(text)) lines.push_back(Json::parse(line));
  return lines;
}

inline bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Settings that give the program this standard input.
inline ProgramSettings withInput(const std::string& input) {
  ProgramSettings settings;
  settings.input = input;
  return settings;
}

// Each of the fields is in the result line with the value given.
inline void expectFields(const Json& line, const Json& fields) {
  for (const auto& [key, value] : fields.items()) {
    EXPECT_TRUE(line.contains(key) && line[key] == value) << key << ": " << value << " in " << line;
  }
}

// One result line in out for each entry of fields, with those fields.
inline void expectLines(const std::string& out, const std::vector<Json>& fields) {
  const std::vector<Json> lines = jsonLines(out);
  ASSERT_EQ(lines.size(), fields.size()) << out;
  for (std::size_t index = 0; index < lines.size(); ++index) {
    expectFields(lines[index], fields[index]);
  }
}

// A scratch directory for the files a test gives fpcheck.
class FpcheckFiles : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const std::string& bytes) {
    const std::string path = files.file(name);
    std::ofstream(fromUtf8(path), std::ios::binary) << bytes;
    return path;
  }

  TempDir files;
};

}  // namespace kesp::test
