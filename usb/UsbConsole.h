#pragma once

#include <string_view>

namespace ww {

// Where the USB guard's own diagnostics go. They bypass the log core: the
// device lines go to standard error, the disabling's outcomes to standard
// output and two short notes to the system log. Tests install a recorder.
class UsbConsole {
  public:
    virtual ~UsbConsole() = default;

    virtual void standardError(std::string_view text) = 0;
    virtual void standardOutput(std::string_view text) = 0;
    // One system-log entry (notice level).
    virtual void systemLog(std::string_view message) = 0;

    // The process's real standard error, standard output and syslog(3).
    static UsbConsole& standard();
};

}  // namespace ww
