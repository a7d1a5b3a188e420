#include "tests/tools/run_program.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

namespace kesp::test {

namespace {

std::string readAll(const std::string& path) {
  std::ifstream file(fromUtf8(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const ProgramSettings& settings) {
  TempDir scratch;
  std::ofstream(fromUtf8(scratch.file("in")), std::ios::binary) << settings.input;
  ProgramRun run;
  {
    ChildProcess child({.program = program,
                        .arguments = arguments,
                        .input = ChildStream::file(scratch.file("in")),
                        .output = ChildStream::file(scratch.file("out")),
                        .error = settings.terminalStderr ? ChildStream::terminal(scratch.file("err"))
                                                         : ChildStream::file(scratch.file("err")),
                        .workingDirectory = settings.workingDirectory});
    std::optional<int> exitCode;
    while (!(exitCode = child.wait(std::chrono::seconds(1)))) {
    }
    run.exitCode = *exitCode;
  }
  run.out = readAll(scratch.file("out"));
  run.err = readAll(scratch.file("err"));
  return run;
}

RunningProgram::RunningProgram(const std::string& program, const std::vector<std::string>& arguments,
                               Settings settings) {
  child_ = std::make_unique<ChildProcess>(ChildSetup{.program = program,
                                                    .arguments = arguments,
                                                    .input = ChildStream::pipe(),
                                                    .output = ChildStream::pipe(),
                                                    .error = ChildStream::file(scratch_.file("err")),
                                                    .ignoreBrokenPipe = settings.ignoreBrokenPipe});
}

std::optional<std::string> RunningProgram::readLine(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const std::size_t end = buffer_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (outputEnded_ || left.count() <= 0) return std::nullopt;
    outputEnded_ = !child_->read(buffer_, left);
  }
}

std::string RunningProgram::readRest(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (outputEnded_ || left.count() <= 0) break;
    outputEnded_ = !child_->read(buffer_, left);
  }
  return std::exchange(buffer_, std::string());
}

void RunningProgram::closeOutput() {
  child_->closeOutput();
  outputEnded_ = true;
}

std::string RunningProgram::err() const { return readAll(scratch_.file("err")); }

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

}  // namespace kesp::test
