// What fpcheck says about an exception it caught: the failure by name, never
// a guess.
#pragma once

#include <exception>
#include <string>

namespace fpcheck {

// "out of memory" for std::bad_alloc, the exception's own text for any other
// std::exception, and "an exception that is not a std::exception" for the
// rest; empty for a null pointer.
std::string failureText(const std::exception_ptr& failure);

// failureText into target without throwing: should even that text find no
// memory, target says "out of memory" (short enough to need none).
void noteFailure(std::string& target, const std::exception_ptr& failure) noexcept;

}  // namespace fpcheck
