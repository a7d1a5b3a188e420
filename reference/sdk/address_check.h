// Form checks of the network addresses the SDK is given. The reference SDK
// connects nowhere, but it refuses what a connecting SDK could not use.
#pragma once

#include <string_view>

namespace vfpcsdk {

// host:port, or a URL scheme://[user[:password]@]host[:port][/] with scheme
// http, https, socks4, socks4a, socks5 or socks5h. host is a name, an IPv4
// address or a bracketed IPv6 address; port is 1 to 65535.
bool isWellFormedProxy(std::string_view proxy);

// http:// or https://, a host with an optional port, then an optional path.
bool isWellFormedCloudUrl(std::string_view url);

}  // namespace vfpcsdk
