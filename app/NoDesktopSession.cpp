#include "app/DesktopSession.h"

namespace ww {

// The agent built without a desktop toolkit (servers): always headless.
std::unique_ptr<DesktopSession> DesktopSession::create(int& /*argc*/, char** /*argv*/,
                                                       std::string* why) {
    if (why) *why = "this build has no tray";
    return nullptr;
}

}  // namespace ww
