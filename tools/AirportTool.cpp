// airport stand-in: `airport -I` prints what the Wi-Fi backend knows (see
// airportTool for how the backend is chosen).
// The work is in ToolMains.cpp, shared with the agent's built-in stand-in.
#include "tools/ToolMains.h"

int main(int argc, char** argv) {
    return ww::tools::runToolProgram(ww::tools::airportTool, argc, argv);
}
