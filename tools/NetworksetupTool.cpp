// networksetup stand-in: lists the hardware ports (physical network devices
// and declared ones) in the macOS layout.
// The work is in ToolMains.cpp, shared with the agent's built-in stand-in.
#include "tools/ToolMains.h"

int main(int argc, char** argv) {
    return ww::tools::runToolProgram(ww::tools::networksetupTool, argc, argv);
}
