#pragma once

#include <string>

namespace ww::WWUtils {

// The application support folder: WIREWATCH_LOGS_DIR when set, else
// $XDG_DATA_HOME/Wirewatch (~/.local/share/Wirewatch when XDG_DATA_HOME is
// unset or not absolute). Computed once per process; the folder is not created.
std::string getAppSupportDirPath();

// The same rule without the cache, for tests.
std::string appSupportDirPathFromEnvironment();

}  // namespace ww::WWUtils
