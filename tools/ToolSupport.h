#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/HardwarePorts.h"
#include "tools/NetworkSnapshot.h"

namespace ww::tools {

// Where the stand-ins read the live state from; sysfs under `ip netns exec`
// belongs to the namespace.
inline constexpr const char* kSysClassNet = "/sys/class/net";
inline constexpr const char* kHardwarePortsOption = "--hardware-ports";
inline constexpr const char* kHardwarePortsVariable = "WIREWATCH_HWPORTS_FILE";

// Removes "--hardware-ports FILE" from `args` and returns FILE; else the
// environment variable's value when set and non-empty. False in `ok` when the
// option lacks its value.
std::optional<std::string> takeHardwarePortsFile(std::vector<std::string>& args, bool& ok);

// The snapshot's hardware ports, with the ports declared in `declaredFile`
// (problems with the file are appended to `errors`, prefixed with `tool`).
std::vector<HardwarePortInfo> hardwarePortsFor(const NetworkSnapshot& snapshot,
                                               const std::optional<std::string>& declaredFile,
                                               std::string_view tool, std::string& errors);

// Appends the line "TOOL: MESSAGE" to a tool's error text.
void appendError(std::string& errors, std::string_view tool, std::string_view message);

// Write all of `text` to standard output or error; false when they could not.
bool writeStandardOutput(std::string_view text);
bool writeStandardError(std::string_view text);

}  // namespace ww::tools
