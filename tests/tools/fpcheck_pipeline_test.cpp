// The batch's parts that stand alone, driven directly: the naming of a caught
// failure.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>

#include "tools/failure_text.h"

namespace fpcheck {
namespace {

struct Caught {
  const char* name;
  std::function<void()> thrower;
  const char* text;
};

class FailureText : public ::testing::TestWithParam<Caught> {};

TEST_P(FailureText, NamesWhatWasCaught) {
  std::exception_ptr caught;
  try {
    GetParam().thrower();
  } catch (...) {
    caught = std::current_exception();
  }
  EXPECT_EQ(failureText(caught), GetParam().text);
  std::string noted = "earlier text";
  noteFailure(noted, caught);
  EXPECT_EQ(noted, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Exceptions, FailureText,
    ::testing::Values(
        Caught{"BadAlloc", [] { throw std::bad_alloc(); }, "out of memory"},
        Caught{"LengthError", [] { throw std::length_error("basic_string::_M_create"); },
               "basic_string::_M_create"},
        Caught{"SystemError",
               [] { throw std::system_error(std::make_error_code(std::errc::bad_file_descriptor), "read"); },
               "read: Bad file descriptor"},
        Caught{"NotStd", [] { throw 42; }, "an exception that is not a std::exception"},
        Caught{"Nothing", [] {}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace fpcheck
