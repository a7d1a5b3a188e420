#include "fops/fops_default.h"

#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>
#include <unordered_map>
#include <utility>

#include "foundation/boundary.h"
#include "foundation/own_table.h"
#include "foundation/scope_guard.h"
#include "foundation/utf_convert.h"

namespace kesp {

namespace {

// Every message of the default file operations.
constexpr char kCreateNullPath[] =
    "(Default FOPS) Invalid input for 'createFopsFile' function (file 'NULL')";
constexpr char kAccessFailed[] =
    "(Default FOPS) Error in 'access' function (filename '%s', flags '%u')";
constexpr char kRenameFailed[] =
    "(Default FOPS) Error in 'rename' function (filename '%s', new filename '%s')";
constexpr char kUnlinkFailed[] = "(Default FOPS) Error in 'unlink' function (filename '%s')";
constexpr char kOpenFailed[] =
    "(Default FOPS) Error in 'open' function (filename '%s', access '%u', flags '%u')";
constexpr char kReadNotOpen[] =
    "(Default FOPS) Error in 'read' function (filename '%s'), handle not open";
constexpr char kReadTooMuch[] =
    "(Default FOPS) Error in 'read' function (filename '%s', bytes to read '%llu'), too much "
    "data to read";
constexpr char kReadFailed[] =
    "(Default FOPS) Error in 'read' function (filename '%s', bytes to read '%llu'), error while "
    "reading";
constexpr char kWriteNotOpen[] =
    "(Default FOPS) Error in 'write' function (filename '%s'), handle not open";
constexpr char kWriteTooMuch[] =
    "(Default FOPS) Error in 'write' function (filename '%s', bytes to write '%llu'), too much "
    "data to write";
constexpr char kWriteFailed[] =
    "(Default FOPS) Error in 'write' function (filename '%s', bytes to write '%llu'), error "
    "while writing";
constexpr char kTellNotOpen[] =
    "(Default FOPS) Error in 'tell' function (filename '%s'), handle not open";
constexpr char kTellFailed[] =
    "(Default FOPS) Error in 'tell' function (filename '%s'), cannot get file pointer";
constexpr char kSeekNotOpen[] =
    "(Default FOPS) Error in 'seek' function (filename '%s'), handle not open";
constexpr char kSeekBeyondLimits[] =
    "(Default FOPS) Error in 'seek' function (filename '%s', offset '%lld'), offset beyond the "
    "limits";
constexpr char kSeekFailed[] =
    "(Default FOPS) Error in 'seek' function (filename '%s', offset '%llu', whence '%u'), "
    "cannot set file pointer";
constexpr char kSizeCannotOpen[] =
    "(Default FOPS) Error in 'size' function (filename '%s'), cannot open handle";
constexpr char kSizeFailed[] =
    "(Default FOPS) Error in 'size' function (filename '%s'), cannot get file size";
constexpr char kFlushNotOpen[] =
    "(Default FOPS) Error in 'flush' function (filename '%s'), handle not open";
constexpr char kFlushFailed[] =
    "(Default FOPS) Error in 'flush' function (filename '%s'), cannot flush";
constexpr char kCloseNotOpen[] =
    "(Default FOPS) Error in 'close' function (filename '%s'), handle not open";
constexpr char kCloseFailed[] =
    "(Default FOPS) Error in 'close' function (filename '%s'), cannot close handle";

// Hosts read the text that the Windows runtime's unordered_map::at gives for
// a missing key; libstdc++ words it differently, so the text is our own.
constexpr char kUnknownWhence[] = "invalid unordered_map<K, T> key";

// A single ReadFile or WriteFile moves at most this many bytes.
constexpr std::uint64_t kMaxTransfer = std::numeric_limits<std::uint32_t>::max();

fops::FileSystemCalls& calls() noexcept { return fops::fileSystemCalls(); }

template <class Body>
bool guarded(const plx::LogChannel& log, Body&& body) noexcept {
  return plx::callGuarded(log, false, false, std::forward<Body>(body));
}

fops::MoveMethod moveMethodOf(std::uint32_t whence) {
  // Built by the first seek of the process; the language makes that
  // initialisation safe when several threads seek for the first time at once.
  static const std::unordered_map<std::uint32_t, fops::MoveMethod> kMoveMethods{
      {FopsSeekBegin, fops::MoveMethod::Begin},
      {FopsSeekCurrent, fops::MoveMethod::Current},
      {FopsSeekEnd, fops::MoveMethod::End},
  };
  const auto found = kMoveMethods.find(whence);
  if (found == kMoveMethods.end()) throw std::out_of_range(kUnknownWhence);
  return found->second;
}

}  // namespace

FopsFileDefault::FopsFileDefault(std::u16string name, const plx::LogChannel& log) noexcept
    : name_(std::move(name)), log_(log) {}

std::string FopsFileDefault::nameForLog() const { return plx::utf16ToUtf8(name_); }

bool FopsFileDefault::access(std::uint32_t flags) noexcept {
  return guarded(log_, [&] {
    std::uint32_t mode = 0;
    if ((flags & FopsAccessRead) != 0) mode += fops::kAccessModeRead;
    if ((flags & FopsAccessWrite) != 0) mode += fops::kAccessModeWrite;
    if (calls().access(name_.c_str(), mode)) return true;
    log_.format(plx::LogError, kAccessFailed, nameForLog().c_str(), flags);
    return false;
  });
}

bool FopsFileDefault::rename(const char* newPath) noexcept {
  return guarded(log_, [&] {
    if (newPath == nullptr) {
      log_.format(plx::LogError, kRenameFailed, nameForLog().c_str(), "NULL");
      return false;
    }
    std::u16string newName = plx::utf8ToUtf16(newPath);
    if (!calls().move(name_.c_str(), newName.c_str())) {
      log_.format(plx::LogError, kRenameFailed, nameForLog().c_str(), newPath);
      return false;
    }
    name_ = std::move(newName);
    return true;
  });
}

bool FopsFileDefault::unlink() noexcept {
  return guarded(log_, [&] {
    if (calls().remove(name_.c_str())) return true;
    log_.format(plx::LogError, kUnlinkFailed, nameForLog().c_str());
    return false;
  });
}

bool FopsFileDefault::open(std::uint32_t access, std::uint32_t flags) noexcept {
  return guarded(log_, [&] {
    // Storing a new handle over the old one would lose it, and with the file
    // held exclusively by that old handle the new open could not succeed
    // anyway. A failed close has logged its line and keeps the object open.
    if (handle_ && !close()) return false;

    const bool readWrite = access == FopsOpenReadWrite;
    fops::Disposition disposition = fops::Disposition::OpenExisting;
    if ((flags & FopsOpenTruncate) != 0) {
      disposition = fops::Disposition::TruncateExisting;
    } else if ((flags & FopsOpenCreate) != 0) {
      disposition = fops::Disposition::CreateAlways;
    }
    // Truncating needs write access. Windows refuses the pair by itself, but
    // Wine and a POSIX open would empty the file, so nobody is asked.
    const bool refused = disposition == fops::Disposition::TruncateExisting && !readWrite;

    fops::NativeHandle opened = fops::FileHandleTraits::invalid();
    if (!refused &&
        calls().open(name_.c_str(),
                     readWrite ? fops::DesiredAccess::ReadWrite : fops::DesiredAccess::Read,
                     disposition, &opened)) {
      handle_.reset(opened);
      return true;
    }
    log_.format(plx::LogError, kOpenFailed, nameForLog().c_str(), access, flags);
    return false;
  });
}

bool FopsFileDefault::read(void* buffer, std::uint64_t count, std::uint64_t* bytesRead) noexcept {
  return guarded(log_, [&] {
    if (!handle_) {
      log_.format(plx::LogError, kReadNotOpen, nameForLog().c_str());
      return false;
    }
    if (count > kMaxTransfer) {
      log_.format(plx::LogError, kReadTooMuch, nameForLog().c_str(),
                  static_cast<unsigned long long>(count));
      return false;
    }
    std::uint32_t done = 0;
    if (!calls().read(handle_.get(), buffer, static_cast<std::uint32_t>(count), &done)) {
      log_.format(plx::LogError, kReadFailed, nameForLog().c_str(),
                  static_cast<unsigned long long>(count));
      return false;
    }
    *bytesRead = done;
    return true;
  });
}

bool FopsFileDefault::write(const void* buffer, std::uint64_t count,
                            std::uint64_t* bytesWritten) noexcept {
  return guarded(log_, [&] {
    if (!handle_) {
      log_.format(plx::LogError, kWriteNotOpen, nameForLog().c_str());
      return false;
    }
    if (count > kMaxTransfer) {
      log_.format(plx::LogError, kWriteTooMuch, nameForLog().c_str(),
                  static_cast<unsigned long long>(count));
      return false;
    }
    std::uint32_t done = 0;
    if (!calls().write(handle_.get(), buffer, static_cast<std::uint32_t>(count), &done)) {
      log_.format(plx::LogError, kWriteFailed, nameForLog().c_str(),
                  static_cast<unsigned long long>(count));
      return false;
    }
    *bytesWritten = done;
    return true;
  });
}

bool FopsFileDefault::tell(std::uint64_t* position) noexcept {
  return guarded(log_, [&] {
    if (!handle_) {
      log_.format(plx::LogError, kTellNotOpen, nameForLog().c_str());
      return false;
    }
    std::uint32_t current = 0;
    if (!calls().setPointer(handle_.get(), 0, fops::MoveMethod::Current, &current)) {
      log_.format(plx::LogError, kTellFailed, nameForLog().c_str());
      return false;
    }
    *position = current;
    return true;
  });
}

bool FopsFileDefault::seek(std::int64_t offset, std::uint32_t whence) noexcept {
  return guarded(log_, [&] {
    if (!handle_) {
      log_.format(plx::LogError, kSeekNotOpen, nameForLog().c_str());
      return false;
    }
    if (offset < std::numeric_limits<std::int32_t>::min() ||
        offset > std::numeric_limits<std::int32_t>::max()) {
      log_.format(plx::LogError, kSeekBeyondLimits, nameForLog().c_str(),
                  static_cast<long long>(offset));
      return false;
    }
    const fops::MoveMethod method = moveMethodOf(whence);
    std::uint32_t position = 0;
    if (!calls().setPointer(handle_.get(), static_cast<std::int32_t>(offset), method,
                            &position)) {
      log_.format(plx::LogError, kSeekFailed, nameForLog().c_str(),
                  static_cast<unsigned long long>(offset), whence);
      return false;
    }
    return true;
  });
}

bool FopsFileDefault::size(std::uint64_t* size) noexcept {
  return guarded(log_, [&] {
    const bool wasOpen = static_cast<bool>(handle_);
    if (!wasOpen && !open(FopsOpenRead, 0)) {
      log_.format(plx::LogError, kSizeCannotOpen, nameForLog().c_str());
      return false;
    }
    // A handle opened for this call is closed whatever happens below; one
    // that the caller opened stays open.
    const plx::ScopeGuard closeAgain(wasOpen ? std::function<void()>()
                                             : std::function<void()>([this] { close(); }));
    std::uint64_t value = 0;
    if (!calls().size(handle_.get(), &value)) {
      log_.format(plx::LogError, kSizeFailed, nameForLog().c_str());
      return false;
    }
    *size = value;
    return true;
  });
}

bool FopsFileDefault::flush() noexcept {
  return guarded(log_, [&] {
    if (!handle_) {
      log_.format(plx::LogError, kFlushNotOpen, nameForLog().c_str());
      return false;
    }
    if (calls().flush(handle_.get())) return true;
    log_.format(plx::LogError, kFlushFailed, nameForLog().c_str());
    return false;
  });
}

bool FopsFileDefault::close() noexcept {
  return guarded(log_, [&] {
    if (!handle_) {
      log_.format(plx::LogError, kCloseNotOpen, nameForLog().c_str());
      return false;
    }
    if (!calls().close(handle_.get())) {
      log_.format(plx::LogError, kCloseFailed, nameForLog().c_str());
      return false;
    }
    handle_.release();
    return true;
  });
}

FopsFileV1* FopsFactoryDefault::createFopsFile(const char* path, void* /*context*/) noexcept {
  return plx::callGuarded<FopsFileV1*>(log_, nullptr, nullptr, [&]() -> FopsFileV1* {
    if (path == nullptr) {
      log_.text(plx::LogError, kCreateNullPath);
      return nullptr;
    }
    // The caller ends the object through releaseFopsFile.
    return std::make_unique<FopsFileDefault>(plx::utf8ToUtf16(path), log_).release();
  });
}

void FopsFactoryDefault::releaseFopsFile(FopsFileV1* file) noexcept {
  plx::callGuarded(log_, [&] {
    // An object of another factory is not ours to end. Ours is known by its
    // table pointer alone: a host's file object may come from another
    // compiler, whose type information typeid cannot read. The table is
    // learnt once from a closed sample. Ours closes its handle as it goes,
    // so a caller that forgot to close leaves the file unlocked.
    static const plx::OwnTable<FopsFileDefault> own(FopsFileDefault(std::u16string(), log_));
    if (file == nullptr || !own.holds(file)) return;
    const std::unique_ptr<FopsFileDefault> ended(static_cast<FopsFileDefault*>(file));
  });
}

}  // namespace kesp
