#pragma once

#include <optional>
#include <string>

#include "discovery/CommandTable.h"
#include "discovery/InterfaceInfo.h"

namespace ww {

// Turns ifconfig's text into one record per interface block that carries a
// usable IPv4 address (non-empty, not beginning with "127"). Each record has
// BSDName, IPAdress, MacAdress (empty when the block printed none), status
// (empty when none) and an empty type. Absent text gives an empty table.
InterfaceTable parseIfconfigOutput(const std::optional<std::string>& output);

// Runs the ifconfig command line of `commands` and parses its output. Never
// fails: a missing tool or unreadable output gives an empty table.
InterfaceTable executeAndParseIfconfigCommand(const CommandTable& commands);

}  // namespace ww
