#pragma once

#include <string>

#include "app/CheckReport.h"

namespace ww {

// What the JSON report adds about the run itself.
struct RunFacts {
    std::string version;  // "1.0.1"
    std::string backend;  // the Wi-Fi backend's name ("none", "sim", ...)
    bool dryRun = false;
};

// The report as one JSON object on one line, ending in a newline. Texts that
// are not UTF-8 have each bad byte replaced by U+FFFD, so the output is always
// valid JSON; control characters are escaped as JSON escapes them.
std::string checkReportJson(const CheckReport& report, const RunFacts& run);

// Bumped when a member changes meaning or goes away (never for additions).
inline constexpr int kCheckReportSchema = 1;

}  // namespace ww
