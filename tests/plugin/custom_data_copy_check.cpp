// Compiled, never run: the custom-data pair objects cannot be copied, since a
// copy's layout would point into the strings of its source. Kept apart from
// the host tests, which must not see the plug-in's own classes (the compiler
// would bind their calls to them instead of going through the library).
#include <type_traits>

#include "sdk_bridge/check_input.h"

namespace {

namespace fp = kesp::plugins::fpchecker;

template <class Pair>
constexpr bool kNotCopyable =
    !std::is_copy_constructible_v<Pair> && !std::is_copy_assignable_v<Pair>;

static_assert(kNotCopyable<fp::VfpcSdkBoolPair> && kNotCopyable<fp::VfpcSdkIntPair> &&
              kNotCopyable<fp::VfpcSdkStrPair>);

}  // namespace
