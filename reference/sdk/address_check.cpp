#include "reference/sdk/address_check.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace vfpcsdk {

namespace {

bool isAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

bool isPort(std::string_view text) {
  if (text.empty() || text.size() > 5) return false;
  if (!std::all_of(text.begin(), text.end(),
                   [](unsigned char c) { return std::isdigit(c) != 0; })) {
    return false;
  }
  const unsigned long port = std::stoul(std::string(text));
  return port >= 1 && port <= 65535;
}

// A name or IPv4 address: dot-separated labels of letters, digits and
// hyphens, a label neither starting nor ending with a hyphen.
bool isHostName(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = host.find('.', start);
    const std::string_view label =
        host.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') {
      return false;
    }
    if (!std::all_of(label.begin(), label.end(), [](char c) { return isAlnum(c) || c == '-'; })) {
      return false;
    }
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

bool isBracketedIpv6(std::string_view host) {
  if (host.size() < 4 || host.front() != '[' || host.back() != ']') return false;
  const std::string_view inside = host.substr(1, host.size() - 2);
  return inside.find(':') != std::string_view::npos &&
         std::all_of(inside.begin(), inside.end(), [](unsigned char c) {
           return std::isxdigit(c) != 0 || c == ':' || c == '.';
         });
}

// host[:port]; the port is required when portRequired.
bool isHostAndPort(std::string_view text, bool portRequired) {
  std::string_view host = text;
  std::string_view port;
  const std::size_t colon = text.rfind(':');
  const std::size_t bracket = text.rfind(']');
  if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (!isPort(port)) return false;
  } else if (portRequired) {
    return false;
  }
  return isHostName(host) || isBracketedIpv6(host);
}

bool hasBlank(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](unsigned char c) { return std::isspace(c) != 0 || std::iscntrl(c) != 0; });
}

std::string lowerCase(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return result;
}

template <std::size_t N>
bool isOneOf(std::string_view scheme, const std::array<std::string_view, N>& schemes) {
  const std::string lower = lowerCase(scheme);
  return std::find(schemes.begin(), schemes.end(), lower) != schemes.end();
}

constexpr std::string_view kSchemeEnd = "://";
constexpr std::array<std::string_view, 6> kProxySchemes = {"http",   "https",  "socks4",
                                                           "socks4a", "socks5", "socks5h"};
constexpr std::array<std::string_view, 2> kCloudSchemes = {"http", "https"};

}  // namespace

bool isWellFormedProxy(std::string_view proxy) {
  if (proxy.empty() || hasBlank(proxy)) return false;
  const std::size_t schemeEnd = proxy.find(kSchemeEnd);
  if (schemeEnd == std::string_view::npos) return isHostAndPort(proxy, true);
  if (!isOneOf(proxy.substr(0, schemeEnd), kProxySchemes)) return false;
  std::string_view authority = proxy.substr(schemeEnd + kSchemeEnd.size());
  if (!authority.empty() && authority.back() == '/') authority.remove_suffix(1);
  if (authority.find('/') != std::string_view::npos) return false;
  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    if (at == 0) return false;  // "@host": credentials announced but absent
    authority.remove_prefix(at + 1);
  }
  return isHostAndPort(authority, false);
}

bool isWellFormedCloudUrl(std::string_view url) {
  if (url.empty() || hasBlank(url)) return false;
  const std::size_t schemeEnd = url.find(kSchemeEnd);
  if (schemeEnd == std::string_view::npos || !isOneOf(url.substr(0, schemeEnd), kCloudSchemes)) {
    return false;
  }
  std::string_view rest = url.substr(schemeEnd + kSchemeEnd.size());
  const std::size_t slash = rest.find('/');
  return isHostAndPort(rest.substr(0, slash), false);
}

}  // namespace vfpcsdk
