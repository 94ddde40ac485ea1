#pragma once

#include <memory>
#include <string>

#include "app/Shell.h"

namespace ww {

// The desktop face: a shell that shows the tray icon and windows, with the
// event loop that drives it. Builds without a desktop toolkit have none.
class DesktopSession {
  public:
    virtual ~DesktopSession() = default;

    // A session on the display named by the environment (DISPLAY or
    // WAYLAND_DISPLAY). Nothing, with the reason in `why`, when this build has
    // no desktop face or no display can be reached. Call on the main thread.
    static std::unique_ptr<DesktopSession> create(int& argc, char** argv, std::string* why);

    virtual Shell& shell() = 0;
    // Runs the event loop until the application quits or stop() is called.
    virtual int run() = 0;
    // Ends the event loop; callable from any thread (a signal's).
    virtual void stop() = 0;
};

}  // namespace ww
