#include "tools/conform/sdk_session.h"

#include <exception>

#include "fpcsdk/codes.h"

namespace conform {

namespace {
using Clock = std::chrono::steady_clock;
// What the last call that threw on this thread threw, for the reason of a
// clause that needed its result.
thread_local std::string lastThrown;
}  // namespace

KitLog& KitLog::instance() {
  // Children end with _Exit: this is never destroyed under a late caller.
  static KitLog log;
  return log;
}

bool KitLog::filter(std::int32_t level) {
  const std::lock_guard lock(mutex_);
  if (closed_) late_.push_back("filter(" + std::to_string(level) + ")");
  return true;
}

void KitLog::log(std::int32_t level, std::int32_t, const std::string& message) {
  const std::lock_guard lock(mutex_);
  if (closed_) late_.push_back("log(" + std::to_string(level) + ", \"" + printable(message, 60) + "\")");
  lines_.push_back({level, message});
}

void KitLog::open() {
  const std::lock_guard lock(mutex_);
  closed_ = false;
}

void KitLog::close() {
  const std::lock_guard lock(mutex_);
  closed_ = true;
}

std::vector<KitLog::Line> KitLog::lines() const {
  const std::lock_guard lock(mutex_);
  return lines_;
}

std::vector<std::string> KitLog::lateCalls() const {
  const std::lock_guard lock(mutex_);
  return late_;
}

bool sameAnswer(const Answer& a, const Answer& b) {
  return a.code == b.code && (a.code != 0 || a.verdict == b.verdict);
}

std::string describeCode(std::int32_t code) {
  return std::to_string(code) + " (" +
         (fpcsdk::isKnownCode(code) ? fpcsdk::codeMeaning(code).text : "no code of the interface") +
         ")";
}

std::string gave(const std::optional<std::int32_t>& code) {
  return code ? "gave " + describeCode(*code) : "threw an exception: " + lastThrown;
}

std::string describe(const Answer& answer) {
  if (!answer.code) return "an exception";
  if (*answer.code != fpcsdk::Ok) return describeCode(*answer.code);
  return std::string("0 (ok), ") + (answer.verdict ? "true" : "false");
}

SdkSession::SdkSession(const Settings& settings, ClauseReport& report)
    : settings_(settings), report_(report), budget_(settings.timeBudget()),
      config_(settings.config()) {}

SdkSession::~SdkSession() {
  if (library_) library_->keepLoaded();
}

template <class Body>
std::optional<std::int32_t> SdkSession::call(const char* name, bool timed, Body&& body) {
  report_.step(name);
  std::optional<std::int32_t> code;
  const auto start = Clock::now();
  try {
    code = body();
  } catch (const std::exception& error) {
    lastThrown = printable(error.what());
    note(exceptions_, std::string(name) + " threw an exception: " + lastThrown);
  } catch (...) {
    lastThrown = "not a standard exception";
    note(exceptions_, std::string(name) + " threw an exception that is not a standard exception");
  }
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  if (timed && took > budget_) {
    note(slowCalls_, std::string(name) + " took " + std::to_string(took.count()) +
                         " ms; the budget is " + std::to_string(budget_.count()) + " ms");
  }
  if (code && !fpcsdk::isKnownCode(*code)) {
    note(badCodes_, std::string(name) + " returned " + std::to_string(*code));
  }
  return code;
}

void SdkSession::note(std::vector<std::string>& list, std::string text) {
  const std::lock_guard lock(mutex_);
  list.push_back(std::move(text));
}

void SdkSession::loadLibrary() {
  report_.step("loading the library");
  // The kit ran the library's start-up once already before any clause.
  library_ = std::make_unique<plx::DynamicLibrary>(settings_.library);
  try {
    create_ = library_->getFunction<FPCCreateFunction>(kFpcCreateName);
    destroy_ = library_->getFunction<FPCDestroyFunction>(kFpcDestroyName);
  } catch (const std::exception&) {
    throw ClauseSkipped("the library does not export FPCCreate and FPCDestroy (see exports)");
  }
}

const void* SdkSession::libraryAddress() const { return reinterpret_cast<const void*>(create_); }

void SdkSession::freeLibrary() {
  report_.step("freeing the library");
  library_.reset();
}

void SdkSession::create(bool withLog) {
  KitLog::instance().open();
  fpcsdk::FPC* created = nullptr;
  const auto code = call("FPCCreate", false, [&] {
    return create_(withLog ? &KitLog::instance() : nullptr, &created);
  });
  const char* how = withLog ? "FPCCreate" : "FPCCreate without a log interface";
  if (code != fpcsdk::Ok) throw ClauseFailure(std::string(how) + " " + gave(code));
  if (created == nullptr) throw ClauseFailure(std::string(how) + " gave 0 but no object");
  fpc_ = created;
}

void SdkSession::destroy() {
  fpcsdk::FPC* const fpc = std::exchange(fpc_, nullptr);
  call("FPCDestroy", false, [&] {
    destroy_(fpc);
    return fpcsdk::Ok;
  });
  KitLog::instance().close();
}

std::optional<std::int32_t> SdkSession::initialize() { return initialize(config_); }

std::optional<std::int32_t> SdkSession::initialize(const fpcsdk::FPCConfig& config) {
  return call("initialize", true, [&] { return fpc_->initialize(config); });
}

std::optional<std::int32_t> SdkSession::setProxy(const std::string& proxy,
                                                 const std::string& certificate) {
  return call("setProxy", false, [&] { return fpc_->setProxy(proxy, certificate); });
}

std::optional<std::int32_t> SdkSession::uninitialize() {
  return call("uninitialize", true, [&] { return fpc_->uninitialize(); });
}

std::optional<std::int32_t> SdkSession::threadCleanup() {
  return call("threadCleanup", false, [&] { return fpc_->threadCleanup(); });
}

std::optional<std::int32_t> SdkSession::createInstance(fpcsdk::FPCInstance*& instance) {
  instance = nullptr;
  return call("createFpcInstance", false, [&] { return fpc_->createFpcInstance(&instance); });
}

std::optional<std::int32_t> SdkSession::destroyInstance(fpcsdk::FPCInstance* instance) {
  return call("destroyFpcInstance", false, [&] { return fpc_->destroyFpcInstance(instance); });
}

Answer SdkSession::check(fpcsdk::FPCInstance& instance, const Case& entry, unsigned char poison) {
  fpcsdk::DetectionInput input;
  input.filePath = entry.path;
  input.fileSize = entry.size;
  input.detectionName = entry.detection;
  return check(instance, input, poison);
}

Answer SdkSession::check(fpcsdk::FPCInstance& instance, const fpcsdk::DetectionInput& input,
                         unsigned char poison) {
  // The verdict lives in raw bytes, so that a byte the SDK never wrote can be
  // read back as what it is.
  alignas(bool) unsigned char verdict[sizeof(bool)] = {poison};
  Answer answer;
  answer.code = call("checkDetection", true, [&] {
    return instance.checkDetection(input, reinterpret_cast<bool*>(verdict));
  });
  answer.byte = verdict[0];
  answer.verdict = answer.byte == 1;
  return answer;
}

void SdkSession::require(const std::optional<std::int32_t>& code, std::int32_t wanted,
                         std::string_view call) {
  if (code == wanted) return;
  throw ClauseFailure(std::string(call) + " " + gave(code) +
                      (code ? ", not " + describeCode(wanted) : std::string()));
}

void SdkSession::start() {
  require(initialize(), fpcsdk::Ok, "initialize");
  require(setProxy(settings_.proxy, settings_.certificatePath), fpcsdk::Ok,
          "setProxy with --proxy and --certificate-path");
}

void SdkSession::stop() {
  require(uninitialize(), fpcsdk::Ok, "uninitialize");
  destroy();
}

fpcsdk::FPCInstance* SdkSession::newInstance() {
  fpcsdk::FPCInstance* instance = nullptr;
  const auto code = createInstance(instance);
  if (code != fpcsdk::Ok || instance == nullptr) {
    throw ClauseFailure("createFpcInstance " + gave(code) + (code == 0 ? " but no instance" : ""));
  }
  return instance;
}

void SdkSession::endInstance(fpcsdk::FPCInstance* instance) {
  require(destroyInstance(instance), fpcsdk::Ok, "destroyFpcInstance");
}

std::vector<std::string> SdkSession::badCodes() const {
  const std::lock_guard lock(mutex_);
  return badCodes_;
}

std::vector<std::string> SdkSession::exceptions() const {
  const std::lock_guard lock(mutex_);
  return exceptions_;
}

std::vector<std::string> SdkSession::slowCalls() const {
  const std::lock_guard lock(mutex_);
  return slowCalls_;
}

}  // namespace conform
