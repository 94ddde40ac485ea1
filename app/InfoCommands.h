#pragma once

#include <cstdio>
#include <string>

#include "app/Clock.h"
#include "app/UserDefaults.h"
#include "discovery/CommandTable.h"

namespace ww {

// `wirewatch --interfaces [--json]`: one inventory pass (nothing is done to
// Wi-Fi or USB devices), then every interface seen, how it counted and why.
int runInterfacesCommand(const CommandTable& commands, UserDefaults& defaults, bool json,
                         std::FILE* out);

// `wirewatch --status [--json]`: today's exposure figures from the audit in
// `dataDirectory`, and the pause when protection is paused.
int runStatusCommand(const std::string& dataDirectory, UserDefaults& defaults, bool json,
                     std::FILE* out, const Clock& clock = Clock::system());

}  // namespace ww
