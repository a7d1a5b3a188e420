// The default file operations when the system calls beneath them fail or
// throw.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "fops/fops_default.h"
#include "tests/fops/fops_fixture.h"
#include "tests/fops/system_call_faults.h"

namespace kesp::test {
namespace {

using FopsFaults = FopsTest;

// Runs every operation once on a file holding "0123456789" and stops at the
// first line logged.
void runEveryOperation(FopsFileV1& file, const std::string& newPath,
                       const RecordingLogInterface& sink) {
  char buffer[16] = {};
  std::uint64_t value = 0;
  const std::vector<std::function<bool()>> steps{
      [&] { return file.access(FopsAccessRead | FopsAccessWrite); },
      [&] { return file.open(FopsOpenReadWrite, 0); },
      [&] { return file.write("abc", 3, &value); },
      [&] { return file.seek(0, FopsSeekBegin); },
      [&] { return file.tell(&value); },
      [&] { return file.read(buffer, 10, &value); },
      [&] { return file.flush(); },
      [&] { return file.size(&value); },
      [&] { return file.close(); },
      [&] { return file.size(&value); },
      [&] { return file.rename(newPath.c_str()); },
      [&] { return file.unlink(); },
  };
  for (const auto& step : steps) {
    const bool succeeded = step();
    if (!sink.lines().empty()) return;
    ASSERT_TRUE(succeeded);
  }
}

TEST_F(FopsFaults, EachFailingCallLogsItsLineAndLeavesNothingOpen) {
  struct Expected {
    SystemCall call;
    Lines lines;
  };
  SystemCallFaults faults;
  for (int n = 1;; ++n) {
    SCOPED_TRACE("failing call " + std::to_string(n));
    const TempDir dir;
    const std::string path = dir.file("data.bin");
    const std::string moved = dir.file("moved.bin");
    writeFile(path, "0123456789");
    const std::vector<Expected> expected{
        {SystemCall::Access, {fopsError("access", path, ", flags '3')")}},
        {SystemCall::Open, {fopsError("open", path, ", access '1', flags '0')")}},
        {SystemCall::Write,
         {fopsError("write", path, ", bytes to write '3'), error while writing")}},
        {SystemCall::SetPointer,
         {fopsError("seek", path, ", offset '0', whence '0'), cannot set file pointer")}},
        {SystemCall::SetPointer, {fopsError("tell", path, "), cannot get file pointer")}},
        {SystemCall::Read, {fopsError("read", path, ", bytes to read '10'), error while reading")}},
        {SystemCall::Flush, {fopsError("flush", path, "), cannot flush")}},
        {SystemCall::Size, {fopsError("size", path, "), cannot get file size")}},
        {SystemCall::Close, {fopsError("close", path, "), cannot close handle")}},
        {SystemCall::Open,
         {fopsError("open", path, ", access '0', flags '0')"),
          fopsError("size", path, "), cannot open handle")}},
        {SystemCall::Size, {fopsError("size", path, "), cannot get file size")}},
        {SystemCall::Close, {fopsError("close", path, "), cannot close handle")}},
        {SystemCall::Move, {fopsError("rename", path, ", new filename '" + moved + "')")}},
        {SystemCall::Remove, {fopsError("unlink", moved, ")")}},
    };
    sink_.clear();
    faults.failNthCall(n);
    FileObject object = create(path);
    runEveryOperation(*object, moved, sink_);
    object.reset();
    EXPECT_EQ(faults.openHandles(), 0);

    if (static_cast<std::size_t>(n) > expected.size()) {
      EXPECT_EQ(faults.failedCall(), SystemCall::None);
      EXPECT_EQ(lines(), Lines{});
      break;
    }
    EXPECT_EQ(faults.failedCall(), expected[n - 1].call);
    EXPECT_EQ(lines(), expected[n - 1].lines);
  }
}

TEST_F(FopsFaults, ExceptionsStayInsideTheOperation) {
  const std::string path = tenByteFile();
  SystemCallFaults faults;
  faults.calls().size = [](fops::NativeHandle, std::uint64_t*) -> bool {
    throw std::runtime_error("size went wrong");
  };
  faults.calls().read = [](fops::NativeHandle, void*, std::uint32_t, std::uint32_t*) -> bool {
    throw std::bad_alloc();
  };
  faults.calls().flush = [](fops::NativeHandle) -> bool { throw 42; };

  const FileObject file = create(path);
  std::uint64_t value = 77;
  // The handle that size opened for itself is closed on the way out.
  EXPECT_FALSE(file->size(&value));
  EXPECT_EQ(faults.openHandles(), 0);

  ASSERT_TRUE(file->open(FopsOpenRead, 0));
  char buffer[4] = {};
  EXPECT_FALSE(file->read(buffer, sizeof buffer, &value));
  EXPECT_FALSE(file->flush());
  EXPECT_EQ(value, 77u);
  EXPECT_TRUE(file->close());
  // Running out of memory leaves no line.
  EXPECT_EQ(lines(), (Lines{"size went wrong", "Unknown exception"}));
}

// The count of the last transfer that reached the system.
std::uint32_t lastCount = 0;

TEST_F(FopsFaults, SingleTransfersStopAt4294967295Bytes) {
  const std::string path = tenByteFile();
  SystemCallFaults faults;
  faults.calls().read = [](fops::NativeHandle, void*, std::uint32_t count, std::uint32_t* done) {
    lastCount = count;
    *done = 0;
    return true;
  };
  faults.calls().write = [](fops::NativeHandle, const void*, std::uint32_t count,
                            std::uint32_t* done) {
    lastCount = count;
    *done = 0;
    return true;
  };
  const FileObject file = create(path);
  ASSERT_TRUE(file->open(FopsOpenReadWrite, 0));
  char buffer[1] = {};
  std::uint64_t count = 77;

  lastCount = 0;
  EXPECT_TRUE(file->read(buffer, 4294967295u, &count));
  EXPECT_EQ(lastCount, 4294967295u);
  EXPECT_EQ(count, 0u);
  lastCount = 0;
  EXPECT_TRUE(file->write(buffer, 4294967295u, &count));
  EXPECT_EQ(lastCount, 4294967295u);

  lastCount = 0;
  count = 77;
  EXPECT_FALSE(file->read(buffer, 4294967296u, &count));
  EXPECT_FALSE(file->write(buffer, 4294967296u, &count));
  EXPECT_EQ(lastCount, 0u);
  EXPECT_EQ(count, 77u);
  EXPECT_TRUE(file->close());
  EXPECT_EQ(
      lines(),
      (Lines{fopsError("read", path, ", bytes to read '4294967296'), too much data to read"),
             fopsError("write", path, ", bytes to write '4294967296'), too much data to write")}));
}

}  // namespace
}  // namespace kesp::test
