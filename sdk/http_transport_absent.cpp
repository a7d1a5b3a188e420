// The transport of a build that has none yet (Windows, until its WinHTTP
// transport): a network cloud URL is refused at initialize, and only the
// offline decider (a file: cloud URL) works. This file is the whole of it;
// a real transport replaces it in sdk/CMakeLists.txt.
#include "sdk/http_transport.h"

namespace vfpcsdk {

namespace {
constexpr char kNoTransport[] =
    "this build of the reference SDK has no network transport yet; give a file: cloud URL "
    "to decide from a rules file";
}  // namespace

std::unique_ptr<HttpTransport> makeHttpTransport(const TransportSettings&, std::string& whyNone) {
  whyNone = kNoTransport;
  return nullptr;
}

bool haveNetworkTransport(std::string& whyNot) {
  whyNot = kNoTransport;
  return false;
}

HttpStackHold::HttpStackHold() = default;
HttpStackHold::~HttpStackHold() = default;

void releaseThreadState() noexcept {}

}  // namespace vfpcsdk
