// The default file operations on real files.
#include "fops/fops_default.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "foundation/scope_guard.h"
#include "tests/fops/fops_fixture.h"
#include "tests/fops/platform_values.h"

namespace kesp::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kFiveGiB = 5ull << 30;

// Sparse on both systems: the tests cost no disk space.
std::string fiveGiBFile(const TempDir& dir) {
  const std::string path = dir.file("large.bin");
  writeFile(path, "");
  fs::resize_file(nativePath(path), kFiveGiB);
  return path;
}

// The position the object reports, or none when it refuses.
std::optional<std::uint64_t> positionOf(FopsFileV1& file) {
  std::uint64_t position = 0;
  return file.tell(&position) ? std::optional(position) : std::nullopt;
}

using FopsSize = FopsTest;

TEST_F(FopsSize, OpenFileStaysOpenAtItsPosition) {
  const FileObject file = create(tenByteFile());
  ASSERT_TRUE(file->open(FopsOpenRead, 0));
  ASSERT_TRUE(file->seek(3, FopsSeekBegin));
  EXPECT_EQ(sizeOf(*file), 10u);
  EXPECT_EQ(positionOf(*file), 3u);
  EXPECT_TRUE(file->close());
  EXPECT_EQ(lines(), Lines{});
}

TEST_F(FopsSize, FiveGiBFileReportsAll64BitsAndStaysClosed) {
  const std::string path = fiveGiBFile(dir_);
  const FileObject file = create(path);
  EXPECT_EQ(sizeOf(*file), kFiveGiB);
  EXPECT_TRUE(create(path)->open(FopsOpenRead, 0));
  EXPECT_FALSE(file->close());
  EXPECT_EQ(lines(), Lines{fopsError("close", path, "), handle not open")});
}

TEST_F(FopsSize, FileHeldByAnotherObjectCannotBeSized) {
  const std::string path = tenByteFile();
  const FileObject holder = create(path);
  ASSERT_TRUE(holder->open(FopsOpenRead, 0));
  const FileObject other = create(path);
  std::uint64_t size = 77;
  EXPECT_FALSE(other->open(FopsOpenReadWrite, 0));
  EXPECT_FALSE(other->size(&size));
  EXPECT_EQ(size, 77u);
  EXPECT_EQ(lines(), (Lines{fopsError("open", path, ", access '1', flags '0')"),
                            fopsError("open", path, ", access '0', flags '0')"),
                            fopsError("size", path, "), cannot open handle")}));
  ASSERT_TRUE(holder->close());
  EXPECT_EQ(sizeOf(*other), 10u);
}

// Names longer than the system takes: one with more units than the POSIX
// calls' conversion buffer has bytes, and one with fewer units but more bytes
// (three-byte characters). Both reach the system, fail there, and are logged
// whole. The empty name, too, gives an object, one that cannot open.
TEST_F(FopsSize, NamesTheSystemRefusesFailAndAreLoggedWhole) {
  std::string euros;
  for (int i = 0; i < 1500; ++i) euros += "\xE2\x82\xAC";
  for (const std::string& path :
       {dir_.file(std::string(5000, 'a')), dir_.file(euros), std::string()}) {
    sink_.clear();
    const FileObject file = create(path);
    ASSERT_NE(file, nullptr);
    std::uint64_t size = 77;
    EXPECT_FALSE(file->size(&size));
    EXPECT_EQ(size, 77u);
    EXPECT_EQ(lines(), (Lines{fopsError("open", path, ", access '0', flags '0')"),
                              fopsError("size", path, "), cannot open handle")}));
  }
}

TEST_F(FopsSize, AnythingButARegularFileFailsAtOnce) {
  // Opening a named pipe for reading would wait for a writer for ever.
  const std::string path = dir_.file("pipe");
  if (!makeNamedPipe(path)) GTEST_SKIP() << "this system has no named pipes in the file system";
  const FileObject file = create(path);
  std::uint64_t size = 7;
  EXPECT_FALSE(file->size(&size));
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(lines(), Lines{fopsError("size", path, "), cannot get file size")});
}

using FopsOpen = FopsTest;

TEST_F(FopsOpen, DispositionsCreateTruncateAndRequireTheFile) {
  const std::string path = dir_.file("data.bin");
  const FileObject file = create(path);
  std::uint64_t count = 0;
  EXPECT_FALSE(file->open(FopsOpenRead, 0));
  // Truncation wins over creation and needs an existing file.
  EXPECT_FALSE(file->open(FopsOpenReadWrite, FopsOpenTruncate | FopsOpenCreate));
  ASSERT_TRUE(file->open(FopsOpenReadWrite, FopsOpenCreate));
  ASSERT_TRUE(file->write("0123456789", 10, &count));
  ASSERT_TRUE(file->close());

  // Truncating needs write access; the refused open leaves the data alone.
  EXPECT_FALSE(file->open(FopsOpenRead, FopsOpenTruncate));
  EXPECT_EQ(readFile(path), "0123456789");

  // Only access 1 writes.
  ASSERT_TRUE(file->open(3, 0));
  EXPECT_FALSE(file->write("x", 1, &count));
  ASSERT_TRUE(file->close());

  ASSERT_TRUE(file->open(FopsOpenReadWrite, FopsOpenCreate));
  EXPECT_EQ(sizeOf(*file), 0u);
  ASSERT_TRUE(file->close());

  writeFile(path, "0123456789");
  ASSERT_TRUE(file->open(FopsOpenReadWrite, FopsOpenTruncate));
  EXPECT_EQ(sizeOf(*file), 0u);
  ASSERT_TRUE(file->close());

  EXPECT_EQ(lines(),
            (Lines{fopsError("open", path, ", access '0', flags '0')"),
                   fopsError("open", path, ", access '1', flags '3')"),
                   fopsError("open", path, ", access '0', flags '1')"),
                   fopsError("write", path, ", bytes to write '1'), error while writing")}));
}

// An open object that is opened again gives up its old handle first, instead
// of losing it and keeping the file locked.
TEST_F(FopsOpen, OpeningAnOpenObjectReplacesItsHandle) {
  const std::string path = tenByteFile();
  const FileObject file = create(path);
  ASSERT_TRUE(file->open(FopsOpenRead, 0));
  ASSERT_TRUE(file->open(FopsOpenReadWrite, 0));
  std::uint64_t written = 0;
  EXPECT_TRUE(file->write("ab", 2, &written));
  EXPECT_EQ(written, 2u);
  ASSERT_TRUE(file->close());
  EXPECT_FALSE(file->close());
  EXPECT_TRUE(create(path)->open(FopsOpenRead, 0));
  EXPECT_EQ(readFile(path), "ab23456789");
  EXPECT_EQ(lines(), Lines{fopsError("close", path, "), handle not open")});
}

// Releasing an open object closes it, so that the file is not held until the
// process ends.
TEST_F(FopsOpen, ReleasingAnOpenObjectFreesTheFile) {
  const std::string path = tenByteFile();
  FileObject file = create(path);
  ASSERT_TRUE(file->open(FopsOpenReadWrite, 0));
  file.reset();
  EXPECT_TRUE(create(path)->open(FopsOpenReadWrite, 0));
  EXPECT_EQ(lines(), Lines{});
}

TEST_F(FopsOpen, ClosedObjectRefusesHandleOperations) {
  const std::string path = tenByteFile();
  const FileObject file = create(path);
  char buffer[4] = {};
  std::uint64_t value = 77;
  EXPECT_FALSE(file->read(buffer, sizeof buffer, &value));
  EXPECT_FALSE(file->write(buffer, sizeof buffer, &value));
  EXPECT_FALSE(file->tell(&value));
  EXPECT_FALSE(file->seek(0, FopsSeekBegin));
  EXPECT_FALSE(file->flush());
  EXPECT_FALSE(file->close());
  EXPECT_EQ(value, 77u);
  Lines expected;
  for (const char* function : {"read", "write", "tell", "seek", "flush", "close"})
    expected.push_back(fopsError(function, path, "), handle not open"));
  EXPECT_EQ(lines(), expected);
}

using FopsTransfer = FopsTest;

TEST_F(FopsTransfer, ReadAtTheEndSucceedsWithNothing) {
  const FileObject file = create(dir_.file("data.bin"));
  ASSERT_TRUE(file->open(FopsOpenReadWrite, FopsOpenCreate));
  std::uint64_t count = 0;
  ASSERT_TRUE(file->write("hello", 5, &count));
  EXPECT_EQ(count, 5u);
  ASSERT_TRUE(file->flush());
  ASSERT_TRUE(file->seek(0, FopsSeekBegin));
  char buffer[16] = {};
  ASSERT_TRUE(file->read(buffer, sizeof buffer, &count));
  EXPECT_EQ(std::string(buffer, count), "hello");
  count = 77;
  EXPECT_TRUE(file->read(buffer, sizeof buffer, &count));
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(file->close());
  EXPECT_EQ(lines(), Lines{});
}

using FopsPointer = FopsTest;

TEST_F(FopsPointer, OffsetsAreSigned32Bit) {
  const std::string path = tenByteFile();
  const FileObject file = create(path);
  ASSERT_TRUE(file->open(FopsOpenRead, 0));
  EXPECT_FALSE(file->seek(2147483648, FopsSeekBegin));
  EXPECT_FALSE(file->seek(-2147483649, FopsSeekCurrent));
  // The smallest offset is within the limits: from 2147483648 it leads back
  // to the start.
  ASSERT_TRUE(file->seek(2147483647, FopsSeekBegin));
  ASSERT_TRUE(file->seek(1, FopsSeekCurrent));
  EXPECT_TRUE(file->seek(-2147483648, FopsSeekCurrent));
  // Before the start the system refuses; the offset is shown unsigned.
  EXPECT_FALSE(file->seek(-1, FopsSeekBegin));
  EXPECT_FALSE(file->seek(0, 3));
  EXPECT_EQ(positionOf(*file), 0u);
  EXPECT_EQ(lines(),
            (Lines{fopsError("seek", path, ", offset '2147483648'), offset beyond the limits"),
                   fopsError("seek", path, ", offset '-2147483649'), offset beyond the limits"),
                   fopsError("seek", path,
                             ", offset '18446744073709551615', whence '0'), cannot set file "
                             "pointer"),
                   "invalid unordered_map<K, T> key"}));
}

TEST_F(FopsPointer, PositionStaysBelow4GiB) {
  const std::string path = fiveGiBFile(dir_);
  const FileObject file = create(path);
  ASSERT_TRUE(file->open(FopsOpenRead, 0));
  ASSERT_TRUE(file->seek(2147483647, FopsSeekBegin));
  ASSERT_TRUE(file->seek(2147483647, FopsSeekCurrent));
  EXPECT_EQ(positionOf(*file), 4294967294u);
  if (!systemKeepsPointerBelow4GiB()) {
    GTEST_SKIP() << "this system moves the file pointer past 4 GiB";
  }
  EXPECT_FALSE(file->seek(2, FopsSeekCurrent));
  EXPECT_FALSE(file->seek(0, FopsSeekEnd));
  EXPECT_EQ(positionOf(*file), 4294967294u);
  EXPECT_EQ(lines(),
            (Lines{fopsError("seek", path, ", offset '2', whence '1'), cannot set file pointer"),
                   fopsError("seek", path, ", offset '0', whence '2'), cannot set file pointer")}));
}

using FopsName = FopsTest;

TEST_F(FopsName, RenameNeverReplacesAndKeepsTheOldName) {
  const std::string path = dir_.file("a.bin");
  const std::string other = dir_.file("b.bin");
  writeFile(path, "aaaa");
  writeFile(other, "bb");
  const FileObject file = create(path);
  EXPECT_FALSE(file->rename(other.c_str()));
  EXPECT_FALSE(file->rename("\x80"));
  EXPECT_EQ(readFile(other), "bb");
  EXPECT_EQ(sizeOf(*file), 4u);
  EXPECT_EQ(lines(), (Lines{fopsError("rename", path, ", new filename '" + other + "')"),
                            "Error converting string encoding: Cannot get needed size for "
                            "Utf-8 to Utf-16 conversion"}));
}

TEST_F(FopsName, RenameToNoNameIsRefused) {
  const std::string path = dir_.file("a.bin");
  writeFile(path, "aaaa");
  const FileObject file = create(path);
  EXPECT_FALSE(file->rename(nullptr));
  EXPECT_EQ(readFile(path), "aaaa");
  EXPECT_EQ(lines(), Lines{fopsError("rename", path, ", new filename 'NULL')")});
}

TEST_F(FopsName, UnlinkFollowsTheNewName) {
  const std::string path = dir_.file("a.bin");
  // Not ASCII, and beyond the Basic Multilingual Plane: the name goes to
  // UTF-16 and back for the log.
  const std::string renamed = dir_.file("renamed-\xC3\xA9-\xF0\x9F\x98\x80.bin");
  writeFile(path, "aaaa");
  const FileObject file = create(path);
  ASSERT_TRUE(file->rename(renamed.c_str()));
  EXPECT_FALSE(fs::exists(nativePath(path)));
  EXPECT_EQ(readFile(renamed), "aaaa");
  ASSERT_TRUE(file->unlink());
  EXPECT_FALSE(fs::exists(nativePath(renamed)));
  EXPECT_FALSE(file->unlink());
  EXPECT_EQ(lines(), Lines{fopsError("unlink", renamed, ")")});
}

TEST_F(FopsName, AccessFollowsTheReadOnlyBitEvenForAdministrators) {
  const std::string path = dir_.file("data.bin");
  const std::string missing = dir_.file("missing.bin");
  writeFile(path, "0123");
  const FileObject file = create(path);
  EXPECT_TRUE(file->access(FopsAccessExists));
  EXPECT_TRUE(file->access(FopsAccessRead | FopsAccessWrite));

  constexpr auto kWriteBits =
      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  fs::permissions(nativePath(path), kWriteBits, fs::perm_options::remove);
  // Windows will not delete a read-only file, not even with the scratch directory.
  const plx::ScopeGuard writable(
      [&] { fs::permissions(nativePath(path), fs::perms::owner_write, fs::perm_options::add); });
  EXPECT_FALSE(file->access(FopsAccessWrite));
  EXPECT_FALSE(file->access(FopsAccessRead | FopsAccessWrite));
  EXPECT_TRUE(file->access(FopsAccessRead));

  EXPECT_FALSE(create(missing)->access(FopsAccessExists));

  // A directory passes every test, but it is not a file to open.
  const FileObject directory = create(dir_.utf8Path());
  EXPECT_TRUE(directory->access(FopsAccessRead | FopsAccessWrite));
  EXPECT_FALSE(directory->open(FopsOpenRead, 0));

  EXPECT_EQ(lines(), (Lines{fopsError("access", path, ", flags '2')"),
                            fopsError("access", path, ", flags '3')"),
                            fopsError("access", missing, ", flags '0')"),
                            fopsError("open", dir_.utf8Path(), ", access '0', flags '0')")}));
}

using FopsFactory = FopsTest;

TEST_F(FopsFactory, NullOrNonUtf8PathGivesNoObject) {
  EXPECT_EQ(factory_.createFopsFile(nullptr, nullptr), nullptr);
  EXPECT_EQ(factory_.createFopsFile("bad-\xC0\xAF.bin", nullptr), nullptr);
  EXPECT_EQ(lines(),
            (Lines{"(Default FOPS) Invalid input for 'createFopsFile' function (file 'NULL')",
                   "Error converting string encoding: Cannot get needed size for Utf-8 to "
                   "Utf-16 conversion"}));
}

// A host file object as another compiler lays it out: a table of plain
// functions, with null or junk where GCC and clang keep type information.
struct HandMadeFile {
  const std::uintptr_t* table;
  int calls;
};
bool handMadeSlot(HandMadeFile* self) { return ++self->calls, true; }

TEST_F(FopsFactory, ReleaseLeavesOtherFileObjectsAlone) {
  class ForeignFile final : public FopsFileV1 {
   public:
    bool access(std::uint32_t) override { return true; }
    bool rename(const char*) override { return true; }
    bool unlink() override { return true; }
    bool open(std::uint32_t, std::uint32_t) override { return true; }
    bool read(void*, std::uint64_t, std::uint64_t*) override { return true; }
    bool write(const void*, std::uint64_t, std::uint64_t*) override { return true; }
    bool tell(std::uint64_t*) override { return true; }
    bool seek(std::int64_t, std::uint32_t) override { return true; }
    bool size(std::uint64_t*) override { return true; }
    bool flush() override { return true; }
    bool close() override { return true; }
  };
  // Freeing an object on the stack would crash or trip the address sanitizer.
  ForeignFile foreign;
  factory_.releaseFopsFile(&foreign);
  factory_.releaseFopsFile(nullptr);
  static const char junk[32] = "no type information: JJJJJJJJJ";
  for (const std::uintptr_t typeWord :
       {std::uintptr_t{0}, reinterpret_cast<std::uintptr_t>(junk)}) {
    std::uintptr_t words[12];
    words[0] = typeWord;
    for (int slot = 1; slot < 12; ++slot)
      words[slot] = reinterpret_cast<std::uintptr_t>(&handMadeSlot);
    HandMadeFile handMade{&words[1], 0};
    factory_.releaseFopsFile(static_cast<FopsFileV1*>(static_cast<void*>(&handMade)));
    EXPECT_EQ(handMade.calls, 0);
  }
  EXPECT_EQ(lines(), Lines{});
}

}  // namespace
}  // namespace kesp::test
