#pragma once

#include <string_view>

namespace ww {

// The framework's own diagnostics go straight to standard error: sending them
// through the log core would feed them back into the logger that failed.
void DDConsoleLog(std::string_view line);

}  // namespace ww
