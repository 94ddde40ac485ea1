#include "settings/AppSupportPath.h"

#include <cstdlib>

namespace ww::WWUtils {

std::string appSupportDirPathFromEnvironment() {
    auto env = [](const char* name) {
        const char* v = std::getenv(name);
        return v ? std::string(v) : std::string();
    };
    std::string explicitDir = env("WIREWATCH_LOGS_DIR");
    if (!explicitDir.empty()) return explicitDir;
    std::string base = env("XDG_DATA_HOME");
    if (base.empty() || base[0] != '/') {
        std::string home = env("HOME");
        base = (home.empty() ? std::string("/tmp") : home) + "/.local/share";
    }
    return base + "/Wirewatch";
}

std::string getAppSupportDirPath() {
    static const std::string path = appSupportDirPathFromEnvironment();
    return path;
}

}  // namespace ww::WWUtils
