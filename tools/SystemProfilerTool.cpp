// system_profiler stand-in: knows the data type SPNetworkDataType, one service
// per hardware port in service order (by default-route metric).
// The work is in ToolMains.cpp, shared with the agent's built-in stand-in.
#include "tools/ToolMains.h"

int main(int argc, char** argv) {
    return ww::tools::runToolProgram(ww::tools::systemProfilerTool, argc, argv);
}
