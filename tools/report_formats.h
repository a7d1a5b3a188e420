// Scanners' reports as batch input: each detection line becomes a request
// with the scanner's detection name exactly as printed and the path; every
// other line (a clean file, an error, a warning, a summary) is skipped, and
// reason says what kind of line it was.
#pragma once

#include <string>
#include <string_view>

#include "tools/batch.h"
#include "tools/check_request.h"

namespace fpcheck {

// `clamscan --infected --no-summary` and `clamdscan`: "PATH: NAME FOUND".
// A path may itself hold ": ", so the name is what follows the last ": ".
// Skipped lines: "OK", "empty file", "error", "warning", "summary", "other".
LineKind parseClamscanLine(std::string_view line, CheckRequest& request, std::string& reason);

// `yara -r RULES DIR`: "RULE PATH", also "NAMESPACE:RULE PATH" (-e) and
// "RULE [TAGS] [META] PATH" (-g, -m). Skipped lines: "string match" (-s),
// "error", "warning", "other". A path that itself begins with "[" after a
// rule is read as tags or metadata when the bracket closes before a space.
LineKind parseYaraLine(std::string_view line, CheckRequest& request, std::string& reason);

}  // namespace fpcheck
