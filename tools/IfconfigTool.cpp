// ifconfig stand-in: prints the interfaces of the current network namespace in
// the macOS ifconfig layout.
// The work is in ToolMains.cpp, shared with the agent's built-in stand-in.
#include "tools/ToolMains.h"

int main(int argc, char** argv) {
    return ww::tools::runToolProgram(ww::tools::ifconfigTool, argc, argv);
}
