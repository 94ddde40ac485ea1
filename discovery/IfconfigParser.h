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

// Every interface block ifconfig printed, usable address or not, in the order
// printed (for the interface inspector).
struct IfconfigBlock {
    std::string name;
    std::string address;  // the block's IPv4 address as printed; empty: none
    std::string status;   // "active", "inactive", or empty when none
    bool loopback = false;
};
std::vector<IfconfigBlock> parseIfconfigBlocks(const std::optional<std::string>& output);

// Runs the ifconfig command line of `commands` and parses its output. Never
// fails: a missing tool or unreadable output gives an empty table. `seen`,
// when given, receives every block printed.
InterfaceTable executeAndParseIfconfigCommand(const CommandTable& commands,
                                              std::vector<IfconfigBlock>* seen = nullptr);

}  // namespace ww
