#pragma once

#include <functional>
#include <string>

#include "discovery/CommandTable.h"
#include "platform/linux/wifi/WiFiDevice.h"

namespace ww::tools {

// The command table of the stand-in tools in `toolsDir` (the same lines as
// CommandTable::forToolsDirectory) with each of the four lines answered
// in-process by the stand-in's own code (ToolMains): the same bytes, read from
// the same network namespace, sysfs, environment and files, and no process.
// With `wifiDevice`, the airport line reads that device (the agent's own
// choice) rather than looking for one as the program does. The three network
// lines keep their answers until the kernel announces a link, address or route
// change (or the declared-ports file changes).
CommandTable builtInToolsTable(const std::string& toolsDir,
                               std::function<ww::linuxwifi::WiFiDevicePtr()> wifiDevice = nullptr);

}  // namespace ww::tools
