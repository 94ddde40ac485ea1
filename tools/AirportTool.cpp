// airport stand-in: `airport -I` prints what the Wi-Fi backend knows. The
// backend is chosen like the agent's, by WIREWATCH_WIFI: unset or "none" (no
// Wi-Fi: no output), "sim:FILE" (the simulated Wi-Fi's state file) or "linux"
// (not read by this tool yet: no output).
// The work is in ToolMains.cpp, shared with the agent's built-in stand-in.
#include "tools/ToolMains.h"

int main(int argc, char** argv) {
    return ww::tools::runToolProgram(ww::tools::airportTool, argc, argv);
}
