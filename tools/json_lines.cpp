#include "tools/json_lines.h"

#include <charconv>
#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

namespace fpcheck {

namespace {

using Json = nlohmann::ordered_json;

// Paths may hold bytes that are not UTF-8: they are replaced rather than
// failing the line.
std::string dump(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool readText(const Json& object, const char* field, std::string& text, std::string& reason) {
  const Json& value = object.at(field);
  if (!value.is_string()) {
    reason = std::string("\"") + field + "\" must be text";
    return false;
  }
  text = value.get<std::string>();
  return true;
}

bool readOptions(const Json& options, CheckRequest& request, std::string& reason) {
  if (!options.is_object()) {
    reason = "\"options\" must be an object of key: true/false, whole number or text";
    return false;
  }
  for (const auto& [key, value] : options.items()) {
    if (value.is_boolean()) {
      request.bools.emplace_back(key, value.get<bool>());
    } else if (value.is_number_integer() &&
               (value.is_number_unsigned()
                    ? value.get<std::uint64_t>() <=
                          static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                    : true)) {
      request.ints.emplace_back(key, value.get<std::int64_t>());
    } else if (value.is_string()) {
      request.strings.emplace_back(key, value.get<std::string>());
    } else {
      reason = "option \"" + key + "\" must be true/false, a whole 64-bit number or text";
      return false;
    }
  }
  return true;
}

// Whether a text is written into JSON as it is: printable ASCII, no quote,
// no backslash. Any other text is left to the library, whose escapes and
// replacement of bytes that are not UTF-8 the output must keep.
bool plainText(std::string_view text) {
  for (const char c : text) {
    if (c < 0x20 || c > 0x7e || c == '"' || c == '\\') return false;
  }
  return true;
}

void appendText(std::string& out, std::string_view text) {
  if (plainText(text)) {
    out += '"';
    out += text;
    out += '"';
  } else {
    out += dump(Json(std::string(text)));
  }
}

template <class Number>
void appendNumber(std::string& out, Number number) {
  char digits[24];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, number);
  out.append(digits, end);
}

// The members of a request line, when it is a flat object of the fields a
// request usually has, each once, with plain texts, true/false and whole
// numbers only; anything else (options, escapes, other fields, a field twice,
// an error to report) is for the library's parser, so that every line is
// read and refused exactly as it reads and refuses it.
class PlainRequest {
 public:
  explicit PlainRequest(std::string_view line) : at_(line.data()), end_(line.data() + line.size()) {}

  bool read(CheckRequest& request) {
    skipSpace();
    if (!take('{')) return false;
    skipSpace();
    if (take('}')) return false;  // nothing in it: "path" is missing
    unsigned seen = 0;
    std::optional<std::uint64_t> size;
    for (;;) {
      std::string_view name;
      if (!text(name)) return false;
      skipSpace();
      if (!take(':')) return false;
      skipSpace();
      const unsigned field = fieldOf(name);
      if (field == 0 || (seen & field) != 0) return false;
      seen |= field;
      std::string_view value;
      switch (field) {
        case kPath:
        case kDetection:
        case kHash:
        case kExtra:
          if (!text(value)) return false;
          if (field == kPath) request.path = value;
          if (field == kDetection) request.detection = value;
          if (field == kHash) request.hash.emplace(value);
          if (field == kExtra) request.extra.emplace(value);
          break;
        case kMemory:
          if (!truth(request.memory)) return false;
          break;
        default:
          if (!wholeNumber(size)) return false;
          break;
      }
      skipSpace();
      if (take('}')) break;
      if (!take(',')) return false;
      skipSpace();
    }
    skipSpace();
    if (at_ != end_ || (seen & (kPath | kDetection)) != (kPath | kDetection)) return false;
    if (request.memory && size) return false;
    request.size = size;
    return true;
  }

 private:
  static constexpr unsigned kPath = 1, kDetection = 2, kHash = 4, kExtra = 8, kMemory = 16, kSize = 32;

  static unsigned fieldOf(std::string_view name) {
    if (name == "path") return kPath;
    if (name == "detection") return kDetection;
    if (name == "hash") return kHash;
    if (name == "extra") return kExtra;
    if (name == "memory") return kMemory;
    if (name == "size") return kSize;
    return 0;
  }

  void skipSpace() {
    while (at_ != end_ && (*at_ == ' ' || *at_ == '\t' || *at_ == '\r' || *at_ == '\n')) ++at_;
  }

  bool take(char c) {
    if (at_ == end_ || *at_ != c) return false;
    ++at_;
    return true;
  }

  bool text(std::string_view& value) {
    if (!take('"')) return false;
    const char* start = at_;
    while (at_ != end_ && *at_ != '"') {
      if (*at_ < 0x20 || *at_ > 0x7e || *at_ == '\\') return false;
      ++at_;
    }
    if (at_ == end_) return false;
    value = std::string_view(start, static_cast<std::size_t>(at_ - start));
    ++at_;
    return true;
  }

  bool truth(bool& value) {
    for (const std::string_view word : {std::string_view("true"), std::string_view("false")}) {
      if (static_cast<std::size_t>(end_ - at_) >= word.size() &&
          std::string_view(at_, word.size()) == word) {
        at_ += word.size();
        value = word.size() == 4;
        return true;
      }
    }
    return false;
  }

  bool wholeNumber(std::optional<std::uint64_t>& value) {
    // No sign, no fraction, no exponent, no leading zero, and within 64
    // bits: a number the library reads as the same unsigned value.
    const char* start = at_;
    while (at_ != end_ && *at_ >= '0' && *at_ <= '9') ++at_;
    if (at_ == start || (*start == '0' && at_ - start > 1)) return false;
    if (at_ != end_ && (*at_ == '.' || *at_ == 'e' || *at_ == 'E')) return false;
    std::uint64_t number = 0;
    const auto [stop, error] = std::from_chars(start, at_, number);
    if (error != std::errc() || stop != at_) return false;
    value = number;
    return true;
  }

  const char* at_;
  const char* end_;
};

}  // namespace

std::string resultLine(const CheckResult& result, std::optional<std::size_t> line) {
  // Written directly, member for member as the library would write them.
  std::string out;
  out.reserve(160 + result.path.size() + result.detection.size() + result.error.size());
  out += '{';
  if (line) {
    out += "\"line\":";
    appendNumber(out, *line);
    out += ',';
  }
  out += "\"path\":";
  appendText(out, result.path);
  out += result.memory ? ",\"input\":\"memory\",\"detection\":" : ",\"input\":\"file\",\"detection\":";
  appendText(out, result.detection);
  out += ",\"falsePositive\":";
  out += result.falsePositive ? (*result.falsePositive ? "true" : "false") : "null";
  out += ",\"status\":";
  appendText(out, result.status);
  out += ",\"statusCode\":";
  appendNumber(out, result.statusCode);
  out += ",\"milliseconds\":";
  // Microseconds are as fine as a check can be timed here; the library's
  // own shortest form of the number.
  const double milliseconds = std::round(result.milliseconds * 1000.0) / 1000.0;
  if (std::isfinite(milliseconds)) {
    char digits[32];
    out.append(digits, nlohmann::detail::to_chars(digits, digits + sizeof digits, milliseconds));
  } else {
    out += "null";
  }
  if (!result.succeeded()) {
    out += ",\"error\":";
    appendText(out, result.error);
  }
  if (const std::string hint = hintFor(result); !hint.empty()) {
    out += ",\"hint\":";
    appendText(out, hint);
  }
  out += '}';
  return out;
}

bool parseRequestLine(std::string_view line, CheckRequest& request, std::string& reason) {
  {
    CheckRequest plain;
    if (PlainRequest(line).read(plain)) {
      request.path = std::move(plain.path);
      request.detection = std::move(plain.detection);
      request.hash = std::move(plain.hash);
      request.extra = std::move(plain.extra);
      request.memory = plain.memory;
      request.size = plain.size;
      return true;
    }
  }
  const Json json = Json::parse(line.begin(), line.end(), nullptr, false);
  if (json.is_discarded()) {
    reason = "not a JSON object";
    return false;
  }
  if (!json.is_object()) {
    reason = "a request must be a JSON object";
    return false;
  }
  // Read path and detection first, so that a refused line still names them.
  if (json.contains("path") && json["path"].is_string()) request.path = json["path"].get<std::string>();
  if (json.contains("detection") && json["detection"].is_string()) {
    request.detection = json["detection"].get<std::string>();
  }
  for (const char* required : {"path", "detection"}) {
    if (!json.contains(required)) {
      reason = std::string("\"") + required + "\" is missing";
      return false;
    }
  }
  for (const auto& [field, value] : json.items()) {
    if (field == "path" || field == "detection") {
      std::string ignored;
      if (!readText(json, field.c_str(), ignored, reason)) return false;
    } else if (field == "hash" || field == "extra") {
      std::string text;
      if (!readText(json, field.c_str(), text, reason)) return false;
      (field == "hash" ? request.hash : request.extra) = text;
    } else if (field == "memory") {
      if (!value.is_boolean()) {
        reason = "\"memory\" must be true or false";
        return false;
      }
      request.memory = value.get<bool>();
    } else if (field == "size") {
      if (!value.is_number_unsigned()) {
        reason = "\"size\" must be a whole number of bytes, 0 or more";
        return false;
      }
      request.size = value.get<std::uint64_t>();
    } else if (field == "options") {
      if (!readOptions(value, request, reason)) return false;
    } else {
      reason = "unknown field \"" + field +
               "\" (known: path, detection, hash, extra, memory, size, options)";
      return false;
    }
  }
  if (request.memory && request.size) {
    reason = "\"size\" is for file checks; a memory check's size is the file's length";
    return false;
  }
  return true;
}

std::string informationJson(const PluginInformation& information, const std::string& library) {
  Json json;
  json["name"] = information.name;
  json["type"] = information.type;
  json["id"] = information.id;
  json["version"] = versionText(information.version);
  json["apiVersion"] =
      std::to_string(information.apiMajor) + "." + std::to_string(information.apiMinor);
  json["library"] = library;
  return dump(json);
}

}  // namespace fpcheck
