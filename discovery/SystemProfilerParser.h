#pragma once

#include <map>
#include <optional>
#include <string>

#include "discovery/CommandTable.h"
#include "platform/foundation/Plist.h"

namespace ww {

// BSD name -> the whole service dictionary that names it under "interface".
using SystemProfilerTable = std::map<std::string, plist::Value>;

// Reads the profiler's property list: the first section's "_items" services,
// filed under their "interface" text (a later service replaces an earlier one;
// services without a text "interface" are skipped). Text that is no property
// list gives an empty table and a description in `error`; a list of another
// shape gives an empty table and leaves `error` alone.
SystemProfilerTable parseSystemProfilerOutput(const std::optional<std::string>& output,
                                              std::string* error);

// Runs the system_profiler command line of `commands` and parses its output;
// a parse failure is logged as "Error: %@". Never fails.
SystemProfilerTable executeAndParseSystemProfilerCommand(const CommandTable& commands);

}  // namespace ww
